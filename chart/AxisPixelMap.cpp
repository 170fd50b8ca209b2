#include "chart/AxisPixelMap.h"

#include <algorithm>

namespace wg {

// ---------------------------------------------------------------------------
// TAxisPixelMap

TAxisPixelMap::TAxisPixelMap(const TCustomChartAxis& axis)
    : axis_(&axis),
      constant_(axis.EffectiveRange == 0),
      center_(axis.CenterPixel),
      minimum_(axis.EffectiveMinimum),
      scale_(static_cast<double>(axis.AxisLength) / axis.EffectiveRange) {
  // Larger values lie further right on a horizontal axis and higher up
  // (smaller rows) on a vertical one; Inverted turns either round.
  const bool fromStart = axis.IsHorizontal() != axis.Inverted();
  origin_ = fromStart ? axis.StartPixel : axis.EndPixel;
  direction_ = fromStart ? 1 : -1;
}

int TAxisPixelMap::MapWithValueCell(double v, double& valueLo, double& valueHi) const {
  // v itself maps to p: a run of equal values stays in one column even where
  // no wider interval can be told.
  valueLo = v;
  valueHi = v;
  double ignored;
  const int p = Map(v, ignored, ignored);
  if (constant_) {
    valueLo = -HUGE_VAL;
    valueHi = HUGE_VAL;
    return p;
  }
  if (!(scale_ > 0) || !std::isfinite(scale_)) return p;
  // Every offset within kSafeOffset of the pixel's own maps to it, whether or
  // not v itself was near a half pixel.
  const long long r = (p - origin_) * direction_;
  if (r <= -kQuickLimit || r >= kQuickLimit) return p;
  const double cellLo = static_cast<double>(r) - kSafeOffset;
  const double cellHi = static_cast<double>(r) + kSafeOffset;
  // The offset grows with the value (each rounded step is monotone), so a
  // value interval whose ends have offsets inside the cell lies inside it.
  // The ends estimated by division are a few units in the last place off, in
  // pixels far less than the margins tried here; the checks are the very
  // offsets Map rounds. (Stepping an end by units in the last place fails
  // where the value is small beside the axis minimum: a unit of it moves the
  // offset by nothing, and every point of a column was then mapped alone.)
  for (const double margin : {1e-6, 1e-3, 0.05}) {
    const double lo = minimum_ + (cellLo + margin) / scale_;
    const double hi = minimum_ + (cellHi - margin) / scale_;
    if (Offset(lo) > cellLo && Offset(hi) < cellHi && lo <= hi) {
      // Between v and an end the mapping is monotone, unless v is one the
      // axis sends to its centre from afar.
      const bool near = Monotone(v);
      valueLo = near ? std::min(lo, v) : lo;
      valueHi = near ? std::max(hi, v) : hi;
      return p;
    }
  }
  return p;
}


}  // namespace wg
