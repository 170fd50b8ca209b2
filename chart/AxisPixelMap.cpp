#include "AxisPixelMap.h"

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
  valueLo = 1;
  valueHi = -1;
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
  // The estimates are a few units in the last place off at most; a cell
  // narrower than that gets no interval.
  double lo = minimum_ + cellLo / scale_;
  double hi = minimum_ + cellHi / scale_;
  for (int k = 0; k < 4 && !(Offset(lo) > cellLo); ++k) lo = std::nextafter(lo, HUGE_VAL);
  for (int k = 0; k < 4 && !(Offset(hi) < cellHi); ++k) hi = std::nextafter(hi, -HUGE_VAL);
  if (Offset(lo) > cellLo && Offset(hi) < cellHi && lo <= hi) {
    valueLo = lo;
    valueHi = hi;
  }
  return p;
}


}  // namespace wg
