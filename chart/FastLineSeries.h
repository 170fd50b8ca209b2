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

#include <functional>

#include "chart/AxisPixelMap.h"
#include "chart/ChartAxis.h"
#include "chart/ChartCanvas.h"
#include "chart/ChartSeries.h"

namespace wg {

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
  int HitWalk(TPoint target, int last, PixelOf&& pixel) const { return HitWalk(target, FirstVisible, last, pixel); }
  // The same walk over from … last only, as it goes on from the points
  // before: only pixels the target can lie on need looking at.
  template <class PixelOf>
  int HitWalk(TPoint target, int from, int last, PixelOf&& pixel) const;
  void DrawPointsFast(TCanvas3D& canvas, const TCustomChartAxis& horiz, const TCustomChartAxis& vert,
                      int first, int last);
  template <class ReadX, class ReadY>
  void WalkColumns(TCanvas3D& canvas, const TAxisPixelMap& mapX, const TAxisPixelMap& mapY, ReadX X, ReadY Y,
                   int first, int last, const TSteppedPoints* steps = nullptr);
  // Whether point index is the first of a shown step apart from the one
  // before it: no segment leads into it.
  bool StartsApart(int index) const;

  TChartPen linePen_;
  bool autoRepaint_ = true;
  // The point drawn last was a gap: the next measured one starts with a move.
  bool penUp_ = false;
  bool lastDrawFast_ = false;
};

}  // namespace wg
