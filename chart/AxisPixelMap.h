// Value-to-pixel mapping of one axis, frozen for a drawing pass: the fast
// line's drawing and hit test map millions of points with it.
#pragma once

#include <cmath>

#include "chart/ChartAxis.h"

namespace wg {

// Value-to-pixel mapping of one axis, frozen at its current working state.
// Gives the same integers as the axis's ValueToPixel for every value: the
// quick product is used only where it cannot round differently from the
// axis's extended-precision formula; near a half pixel, beyond a billion
// pixels and for non-finite values the axis itself decides.
class TAxisPixelMap {
 public:
  explicit TAxisPixelMap(const TCustomChartAxis& axis);

  int operator()(double v) const {
    double lo, hi;
    return Map(v, lo, hi);
  }

  // The pixel offset from the axis's start the quick product gives (the
  // first step of the mapping).
  double Offset(double v) const { return (v - minimum_) * scale_; }

  // The pixel of v, and the open interval (cellLo, cellHi) of offsets that
  // are certain to map to the same pixel; an empty interval when the axis
  // decided.
  int Map(double v, double& cellLo, double& cellHi) const {
    cellLo = 1;
    cellHi = -1;
    if (constant_) return center_;
    const double t = Offset(v);
    if (t > -kQuickLimit && t < kQuickLimit) {  // false for NaN
      // Nearest integer, halves to even (the current rounding mode), exact
      // for offsets this small; so is the difference below.
      const double r = (t + kRoundingShift) - kRoundingShift;
      const double off = t - r;
      if (off < kSafeOffset && off > -kSafeOffset) {
        const long long p = origin_ + direction_ * static_cast<long long>(r);
        if (p >= -2147483647LL - 1 && p <= 2147483647LL) {
          cellLo = r - kSafeOffset;
          cellHi = r + kSafeOffset;
          return static_cast<int>(p);
        }
      }
    }
    return axis_->ValueToPixel(v);
  }

  // The pixel of v, and a closed interval [valueLo, valueHi] of values
  // certain to map to the same pixel (at least v itself; none for NaN):
  // with ascending values, telling whether the next point stays in a column
  // takes two comparisons and no arithmetic.
  int MapWithValueCell(double v, double& valueLo, double& valueHi) const;

  // Whether v lies where the mapping is monotone (and not NaN): over such
  // values the lowest and highest pixel are those of the lowest and highest
  // value.
  bool Monotone(double v) const { return constant_ || std::fabs(Offset(v)) < kQuickLimit; }

  // Offsets from this many pixels on are left to the axis, which sends the
  // ones that do not fit an integer to its centre.
  static constexpr double kQuickLimit = 1073741824.0;  // 2^30 pixels
  // Below 2^30 the quick product and the axis's formula differ by less than
  // 1e-6 pixel (a few units in the last place each); an offset this much
  // short of a half pixel rounds the same way in both.
  static constexpr double kSafeOffset = 0.5 - 1e-4;
  static constexpr double kRoundingShift = 6755399441055744.0;  // 1.5 * 2^52

 private:
  const TCustomChartAxis* axis_;
  bool constant_;
  int center_;
  double minimum_;
  double scale_;
  long long origin_;
  long long direction_;
};

}  // namespace wg
