// The colour scale of levels, shared by the waterfall and the heat maps: a
// table of our own whose lightness rises evenly from a dark blue-violet
// through blue, teal and green to yellow and a pale end, so that equal steps
// in dB look like equal steps in brightness (also to colour-blind eyes and in
// a greyscale print). Free of Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace wg {

// Which levels the colours span: found from the levels shown (the noise
// floor to the strongest), the level axis's visible range, or fixed ends.
struct ColourSpan {
  enum class Kind { Automatic, LevelAxis, Fixed };
  Kind kind = Kind::Automatic;
  double low = -100, high = -20;  // dB, for Fixed; low < high
  bool operator==(const ColourSpan&) const = default;
};

// The 256 colours, 0xAARRGGBB and opaque, from the lowest level to the highest.
const std::array<uint32_t, 256>& WaterfallScale();

// The colour of `db` when lo dB and below take the first colour and hi dB
// and above the last; a level that is not a number takes the first.
inline uint32_t ScaleColour(double db, double lo, double hi) {
  const double t = hi > lo ? (db - lo) / (hi - lo) : (db >= hi ? 1.0 : 0.0);
  const double i = t == t ? (t < 0 ? 0 : t * 256 > 255 ? 255 : t * 256) : 0;
  return WaterfallScale()[static_cast<std::size_t>(i)];
}

}  // namespace wg
