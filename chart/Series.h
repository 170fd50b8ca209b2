// The fast line series: one polyline through the points in index order, one
// pen, no marks and no per-point colours.
//
// The spectrum trace has far more points than the plot has pixel columns, so
// drawing is a straight walk over the visible points: one line segment per
// point, skipping only a point that lands on exactly the pixel drawn before
// it. A dense trace thus shows the full spread of levels in every column.
//
// Two drawing paths give the same pixels. The reference path is the plain
// walk, one canvas call per drawn point through the axes' own ValueToPixel.
// The fast path maps values with precomputed scale factors (falling back to
// the axis wherever the rounding could differ) and draws each run of points
// that stays in one pixel column as the single vertical span their strokes
// cover. It is taken only where the pen makes drawing order irrelevant: a
// solid one-pixel pen in copy mode. The fast path, the visible-range search
// and the hit test read the value lists directly, as PointX and PointY do.
#pragma once

#include <cmath>
#include <functional>

#include "ChartCanvas.h"
#include "ChartEngine.h"
#include "ChartEngineSeries.h"

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
  // certain to map to the same pixel (empty, lo > hi, when there is none):
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

class TFastLineSeries : public TChartSeries {
 public:
  TFastLineSeries();
  ~TFastLineSeries() override;

  // Pen of the line; any change to it asks the chart for a redraw.
  TChartPen& LinePen() { return linePen_; }
  const TChartPen& LinePen() const { return linePen_; }
  // Copies the pen's settings, then makes its colour the series colour.
  void SetLinePen(const TPen& pen);

  // True: adding a point asks the chart for a redraw. False: adding draws the
  // new segment on the chart's canvas at once.
  bool AutoRepaint() const { return autoRepaint_; }
  void SetAutoRepaint(bool b) { autoRepaint_ = b; }

  // Also recolours LinePen.
  void SetSeriesColor(TColor c) override;

  // Copies AutoRepaint and LinePen, then the series settings (colour, axes,
  // value list settings, LimitToVisible); the points are not copied.
  void Assign(const TFastLineSeries& source);

  // Name of the design-time editor of this series class.
  static const char* EditorName() { return "TFastLineSeriesEditor"; }

  // ---- drawing -------------------------------------------------------------
  // The series' whole share of a chart drawing pass: visible range, the
  // BeforeDrawValues hook, clip to PlotRect (when clipPoints), DrawPoints,
  // clip removed, the AfterDrawValues hook. Nothing at all, no hook either,
  // when the series is inactive, has no chart or no point is visible.
  // Returns whether the points were drawn.
  bool DrawSeriesValues(bool clipPoints = true);

  // Called around the drawing of the values; the system installs none.
  std::function<void(TChartSeries&)> BeforeDrawValues;
  std::function<void(TChartSeries&)> AfterDrawValues;

  // Pen and clear brush on the chart canvas, then every point from
  // FirstVisible to LastVisible.
  void DrawPoints() override;
  // The part of the line that ends at point index.
  void DrawPoint(int index) override;

  // Index of the point whose pixel is (x, y), or the first point of the
  // segment through it; -1 for none. Works on the visible range of the last
  // drawing.
  int HitTest(int x, int y) override;
  // Whether integer pixel p lies on the segment a-b, its end points widened
  // by tolerance pixels along each axis. A segment of zero length contains no
  // point.
  static bool PointOnSegment(TPoint p, TPoint a, TPoint b, int tolerance = 0);

  // Pixel of the point drawn last in the current pass.
  int PrevPixelX = 0;
  int PrevPixelY = 0;

  // False forces the straightforward per-point drawing (the reference the
  // fast path is checked and measured against).
  bool FastDrawing = true;
  // Whether the last DrawPoints took the fast path (the pen and canvas
  // allowed it).
  bool LastDrawFast() const { return lastDrawFast_; }

 protected:
  // AutoRepaint False: draw the new segment instead of asking for a redraw.
  void AfterAdd(int index) override;

 private:
  // ApplyChartPen of LinePen and a clear brush.
  void PreparePen(TCanvas3D& canvas) const;
  // Whether drawing the current canvas pen in another order, or a column's
  // strokes as one span, leaves the same pixels.
  static bool PenAllowsSpans(const TPen& pen);
  // Calls pixel(i) → TPoint for the visible points as HitTest walks them.
  template <class PixelOf>
  int HitWalk(TPoint target, int last, PixelOf&& pixel) const;
  void DrawPointsFast(TChartCanvas3D& canvas, const TCustomChartAxis& horiz, const TCustomChartAxis& vert,
                      int first, int last);
  template <class ReadX, class ReadY>
  void WalkColumns(TChartCanvas3D& canvas, const TAxisPixelMap& mapX, const TAxisPixelMap& mapY, ReadX X, ReadY Y,
                   int first, int last);

  TChartPen linePen_;
  bool autoRepaint_ = true;
  // The point drawn last was a gap: the next measured one starts with a move.
  bool penUp_ = false;
  bool lastDrawFast_ = false;
};

}  // namespace wg
