// The waterfall's colours: the level scale (runtime/ColourScale.h) looked up
// for every stored level code, and the colours of what has no level.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "runtime/ColourScale.h"
#include "ui/waterfall/WaterfallHistory.h"

namespace wg {

// 0xAARRGGBB, opaque.
using TWaterfallRgb = uint32_t;

// Untuned frequencies: a neutral grey that no level takes.
constexpr TWaterfallRgb kWaterfallUntuned = 0xFF808080u;
// Pixels no sweep reaches (beyond the scan range, rows not yet swept).
constexpr TWaterfallRgb kWaterfallNoData = 0xFF000000u;

// A colour for every stored level code, from the level axis's visible range:
// lo dB and below take the first colour, hi dB and above the last.
class TWaterfallPalette {
 public:
  TWaterfallPalette() : table_(65536, kWaterfallNoData) {}
  // True when the range changed and the table was rebuilt.
  bool SetRange(double lo, double hi);
  double Low() const { return lo_; }
  double High() const { return hi_; }
  std::size_t MemoryBytes() const { return table_.capacity() * sizeof(TWaterfallRgb); }
  TWaterfallRgb operator()(TWaterfallHistory::Level v) const {
    return table_[static_cast<uint16_t>(v) ^ 0x8000u];
  }
  // The table indexed by the level code itself: Codes()[v] == (*this)(v).
  const TWaterfallRgb* Codes() const { return table_.data() + 32768; }

 private:
  std::vector<TWaterfallRgb> table_;
  double lo_ = 0, hi_ = 0;
  bool built_ = false;
};

}  // namespace wg
