#include "Series.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace wg {

namespace {

// A value as the list reads it (stored value times Multiplier, the product
// rounded once from extended precision), without the index check.
inline double ReadValue(const std::vector<double>& values, double multiplier, int i) {
  const double v = values[static_cast<std::size_t>(i)];
  if (multiplier == 1.0) return v;
  return static_cast<double>(static_cast<long double>(v) * multiplier);
}

}  // namespace

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

// ---------------------------------------------------------------------------
// TFastLineSeries

TFastLineSeries::TFastLineSeries() : linePen_([this] { RequestRedraw(); }) { ReachesRightEdge = true; }

TFastLineSeries::~TFastLineSeries() { linePen_.OnChange = nullptr; }

void TFastLineSeries::SetLinePen(const TPen& pen) {
  linePen_.Assign(pen);
  SetSeriesColor(pen.Color());
}

void TFastLineSeries::SetSeriesColor(TColor c) {
  TChartSeries::SetSeriesColor(c);
  linePen_.SetColor(c);
}

void TFastLineSeries::Assign(const TFastLineSeries& source) {
  if (&source == this) return;
  autoRepaint_ = source.autoRepaint_;
  linePen_.Assign(source.linePen_);
  XValues().AssignSettings(source.XValues());
  YValues().AssignSettings(source.YValues());
  SetHorizAxis(source.HorizAxis());
  SetVertAxis(source.VertAxis());
  SetColorEachPoint(source.ColorEachPoint());
  LimitToVisible = source.LimitToVisible;
  TChartSeries::SetSeriesColor(source.SeriesColor());
}

// ---------------------------------------------------------------------------
// Drawing

void TFastLineSeries::CalcVisibleRange() {
  FirstVisible = -1;
  LastVisible = -1;
  const int count = PointCount();
  if (count == 0) return;
  const int n = count - 1;
  const TChartAxis* axis = GetHorizAxis();
  if (!LimitToVisible || XValues().Order() == loNone || !axis) {
    FirstVisible = 0;
    LastVisible = n;
    return;
  }
  const std::vector<double>& xs = XValues().Values();
  const double xm = XValues().Multiplier();
  const TRect plot = ParentChart()->GetPlotRect();
  const double left = axis->PixelToValue(axis->Inverted() ? plot.Right : plot.Left);
  int first = 0;
  while (first <= n && ReadValue(xs, xm, first) < left) ++first;
  if (first > n) return;
  FirstVisible = first;

  const double right = axis->PixelToValue(axis->Inverted() ? plot.Left : plot.Right);
  if (ReadValue(xs, xm, n) <= right) {
    LastVisible = n;
    return;
  }
  int last = first;
  while (last <= n && ReadValue(xs, xm, last) < right) ++last;
  if (last > n) last = n;
  if (!ReachesRightEdge && ReadValue(xs, xm, last) > right) --last;
  LastVisible = last;
}

bool TFastLineSeries::DrawSeriesValues(bool clipPoints) {
  TChartLink* chart = ParentChart();
  if (!Active() || !chart) return false;
  CalcVisibleRange();
  if (FirstVisible == -1) return false;
  if (BeforeDrawValues) BeforeDrawValues(*this);
  TCanvas3D* canvas = chart->GetCanvas();
  const bool clipped = clipPoints && canvas;
  if (clipped) canvas->ClipToPlotArea(chart->GetPlotRect());
  DrawPoints();
  if (clipped) canvas->RemoveClip();
  if (AfterDrawValues) AfterDrawValues(*this);
  return true;
}

void TFastLineSeries::PreparePen(TCanvas3D& canvas) const {
  if (auto* c = dynamic_cast<TChartCanvas3D*>(&canvas)) {
    c->ApplyChartPen(linePen_);
  } else if (!linePen_.Visible()) {
    canvas.Pen().SetStyle(psClear);
  } else {
    // A canvas without fine dotting draws the pen as it is.
    canvas.Pen().SetColor(linePen_.Color());
    canvas.Pen().SetWidth(linePen_.Width());
    canvas.Pen().SetStyle(linePen_.Style());
    canvas.Pen().SetMode(linePen_.Mode());
  }
  canvas.Brush().SetStyle(bsClear);
}

bool TFastLineSeries::PenAllowsSpans(const TPen& pen) {
  return (pen.Style() == psSolid || pen.Style() == psInsideFrame) && pen.Width() <= 1 && pen.Mode() == pmCopy &&
         !pen.Alternate();
}

void TFastLineSeries::DrawPoints() {
  TChartLink* chart = ParentChart();
  TCanvas3D* canvas = chart ? chart->GetCanvas() : nullptr;
  if (!canvas) return;
  PreparePen(*canvas);
  lastDrawFast_ = false;
  // A range left over from an earlier drawing may outlast points that are
  // gone since: never walk past the last point there is.
  const int first = FirstVisible;
  const int last = std::min(LastVisible, PointCount() - 1);
  if (first < 0 || last < first) return;

  auto* surface = dynamic_cast<TChartCanvas3D*>(canvas);
  const TChartAxis* horiz = GetHorizAxis();
  const TChartAxis* vert = GetVertAxis();
  if (FastDrawing && surface && horiz && vert && PenAllowsSpans(canvas->Pen())) {
    lastDrawFast_ = true;
    DrawPointsFast(*surface, *horiz, *vert, first, last);
    return;
  }
  for (int i = first; i <= last; ++i) DrawPoint(i);
}

void TFastLineSeries::DrawPoint(int index) {
  TChartLink* chart = ParentChart();
  TCanvas3D* canvas = chart ? chart->GetCanvas() : nullptr;
  if (!canvas) return;
  const int x = PointPixelX(index);
  const int y = PointPixelY(index);
  if (index == FirstVisible) {
    if (index == 0)
      canvas->MoveTo(x, y);
    else
      canvas->Line(PointPixelX(index - 1), PointPixelY(index - 1), x, y);
  } else if (x == PrevPixelX && y == PrevPixelY) {
    return;
  } else {
    canvas->LineTo(x, y);
  }
  PrevPixelX = x;
  PrevPixelY = y;
}

// The per-point walk draws, inside one pixel column, a chain of vertical
// strokes y[a] -> y[a+1] -> ... -> y[b], each without its end pixel. Being a
// continuous path, the chain covers every row between its lowest and highest
// vertex; the only row it can miss is y[b] itself, and only when that is an
// extreme no earlier vertex reaches (it is the excluded end of the last
// stroke and no stroke starts or passes there). With one colour in copy mode
// the order of pixels does not matter, so one span drawing exactly that set,
// plus the ordinary line into the column, gives the per-point image.
namespace {

// Draws the strokes of a column run: lo..hi are its vertices before the
// last one, lastY the last. Leaves the current point on the last vertex.
void DrawColumnRun(TChartCanvas3D& canvas, int x, int lo, int hi, int lastY) {
  if (lastY > hi)
    canvas.VerticalSpan(x, lo, lastY);
  else if (lastY < lo)
    canvas.VerticalSpan(x, hi, lastY);
  else
    canvas.VerticalSpan(x, lo, hi == INT_MAX ? hi : hi + 1);
  canvas.MoveTo(x, lastY);
}

}  // namespace

void TFastLineSeries::DrawPointsFast(TChartCanvas3D& canvas, const TCustomChartAxis& horiz,
                                     const TCustomChartAxis& vert, int first, int last) {
  const std::vector<double>& xs = XValues().Values();
  const std::vector<double>& ys = YValues().Values();
  const double xm = XValues().Multiplier();
  const double ym = YValues().Multiplier();
  const TAxisPixelMap mapX(horiz);
  const TAxisPixelMap mapY(vert);

  // Offsets inside (cellLo, cellHi) fall in column colX for certain: most
  // points of a dense trace need no more than these two comparisons.
  double cellLo, cellHi;
  int colX = mapX.Map(ReadValue(xs, xm, first), cellLo, cellHi);
  int lastY = mapY(ReadValue(ys, ym, first));
  if (first == 0)
    canvas.MoveTo(colX, lastY);
  else
    canvas.Line(mapX(ReadValue(xs, xm, first - 1)), mapY(ReadValue(ys, ym, first - 1)), colX, lastY);

  // The run in column colX: lo..hi over its vertices before the last one
  // (lastY); strokes says whether it has more than one vertex.
  int lo = lastY, hi = lastY;
  bool strokes = false;
  for (int i = first + 1; i <= last; ++i) {
    const double xv = ReadValue(xs, xm, i);
    const double t = mapX.Offset(xv);
    const int y = mapY(ReadValue(ys, ym, i));
    int x = colX;
    double nextLo = cellLo, nextHi = cellHi;
    if (!(t > cellLo && t < cellHi)) x = mapX.Map(xv, nextLo, nextHi);
    if (x == colX) {
      // A point on the pixel drawn before is skipped: it adds no vertex.
      // Branch-free, as levels jump about unpredictably.
      const bool moved = y != lastY;
      const int l = std::min(lo, lastY), h = std::max(hi, lastY);
      lo = moved ? l : lo;
      hi = moved ? h : hi;
      strokes = strokes || moved;
      lastY = y;
      continue;
    }
    if (strokes) DrawColumnRun(canvas, colX, lo, hi, lastY);
    canvas.LineTo(x, y);
    colX = x;
    cellLo = nextLo;
    cellHi = nextHi;
    lastY = lo = hi = y;
    strokes = false;
  }
  if (strokes) DrawColumnRun(canvas, colX, lo, hi, lastY);
  PrevPixelX = colX;
  PrevPixelY = lastY;
}

void TFastLineSeries::AfterAdd(int index) {
  if (autoRepaint_) {
    TChartSeries::AfterAdd(index);
    return;
  }
  TChartLink* chart = ParentChart();
  TCanvas3D* canvas = chart ? chart->GetCanvas() : nullptr;
  // A hidden series stays hidden.
  if (!canvas || !Active()) return;
  canvas->Pen().Assign(linePen_);
  const int j = index > 0 ? index - 1 : 0;
  const int x = PointPixelX(j);
  const int y = PointPixelY(j);
  canvas->MoveTo(x, y);
  // The skip test must compare with the point just moved to, not with
  // whatever the last drawing pass ended on: a stale match would drop the
  // new segment.
  PrevPixelX = x;
  PrevPixelY = y;
  DrawPoint(index);
}

// ---------------------------------------------------------------------------
// Hit testing

bool TFastLineSeries::PointOnSegment(TPoint p, TPoint a, TPoint b, int tolerance) {
  // Pixels span the whole int range, so the cross product needs more than
  // 64 bits.
  using Wide = __int128;
  const Wide dx = static_cast<Wide>(b.X) - a.X;
  const Wide dy = static_cast<Wide>(b.Y) - a.Y;
  Wide cross = (static_cast<Wide>(p.X) - a.X) * dy - (static_cast<Wide>(p.Y) - a.Y) * dx;
  if (cross < 0) cross = -cross;
  const Wide adx = dx < 0 ? -dx : dx;
  const Wide ady = dy < 0 ? -dy : dy;
  if (cross >= std::max(adx, ady)) return false;
  auto within = [tolerance](long long v, long long e0, long long e1) {
    if (e0 > e1) std::swap(e0, e1);
    return v >= e0 - tolerance && v <= e1 + tolerance;
  };
  if (a.X != b.X && !within(p.X, a.X, b.X)) return false;
  if (a.Y != b.Y && !within(p.Y, a.Y, b.Y)) return false;
  return true;
}

template <class PixelOf>
int TFastLineSeries::HitWalk(TPoint target, int last, PixelOf&& pixel) const {
  TPoint prev{0, 0};
  for (int i = FirstVisible; i <= last; ++i) {
    const TPoint p = pixel(i);
    if (p == target) return i;
    if (i > FirstVisible && PointOnSegment(target, p, prev)) return i - 1;
    prev = p;
  }
  return -1;
}

int TFastLineSeries::HitTest(int x, int y) {
  if (FirstVisible == -1 || LastVisible == -1) return -1;
  // The range is the last drawing's; points may have gone since.
  const int last = std::min(LastVisible, PointCount() - 1);
  if (FirstVisible > last) return -1;
  TPoint target{x, y};
  if (TChartLink* chart = ParentChart())
    if (TCanvas3D* canvas = chart->GetCanvas()) target = canvas->Unproject(x, y, 0);
  const TChartAxis* horiz = GetHorizAxis();
  const TChartAxis* vert = GetVertAxis();
  if (!horiz || !vert) return HitWalk(target, last, [this](int i) { return TPoint{PointPixelX(i), PointPixelY(i)}; });
  // A press over a survey of millions of points is answered at drawing
  // speed, with the very pixels PointPixelX and PointPixelY give.
  const std::vector<double>& xs = XValues().Values();
  const std::vector<double>& ys = YValues().Values();
  const double xm = XValues().Multiplier();
  const double ym = YValues().Multiplier();
  const TAxisPixelMap mapX(*horiz);
  const TAxisPixelMap mapY(*vert);
  return HitWalk(target, last,
                 [&](int i) { return TPoint{mapX(ReadValue(xs, xm, i)), mapY(ReadValue(ys, ym, i))}; });
}

}  // namespace wg
