// The chart's zoom, undo and panning, the mouse and wheel that drive them,
// and which part of the chart a click lands on.
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "chart/Chart.h"

namespace wg {

namespace {

// Left and top edges inside, right and bottom edges outside.
bool PointInRect(const TRect& r, int x, int y) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; }

TCustomChart::TAxisScale ScaleOf(const TChartAxis& a) {
  return {a.Automatic(), a.AutomaticMinimum(), a.AutomaticMaximum(), a.Minimum(), a.Maximum()};
}

void RestoreScale(TChartAxis& a, const TCustomChart::TAxisScale& s) {
  a.SetAutomatic(s.Automatic);
  a.SetAutomaticMinimum(s.AutomaticMinimum);
  a.SetAutomaticMaximum(s.AutomaticMaximum);
  if (!s.Automatic) a.SetRange(s.Minimum, s.Maximum);
}

// The range of an axis as the next drawing would take it: an automatic end
// follows the series without the axis being touched.
void RangeInEffect(const TChartAxis& a, double& lo, double& hi) {
  lo = a.Automatic() || a.AutomaticMinimum() ? a.SeriesMinimum() : a.Minimum();
  hi = a.Automatic() || a.AutomaticMaximum() ? a.SeriesMaximum() : a.Maximum();
}

constexpr int kAxisClickGap = 3;
constexpr int kZoomThreshold = 16;
constexpr int kWheelDelta = 120;

}  // namespace

// ---------------------------------------------------------------------------
// Zoom, undo and panning

void TCustomChart::SaveScales() {
  savedScales_.Top = ScaleOf(*TopAxis());
  savedScales_.Left = ScaleOf(*LeftAxis());
  savedScales_.Right = ScaleOf(*RightAxis());
  savedScales_.Bottom = ScaleOf(*BottomAxis());
  scalesRestored_ = false;
}

void TCustomChart::RepaintNow() {
  Invalidate();
  if (isVisible()) repaint();
}

void TCustomChart::ShowZoomOutline() {
  // Qt paints only inside a paint event, so the not-XOR outline cannot be
  // put onto the window between paints; a fresh drawing repeats it at the
  // record's current corners instead, which shows the same pixels.
  Invalidate();
}

void TCustomChart::ZoomCentred(double Percent) {
  double r[4][2];  // left, right, top, bottom
  const TChartAxis* axes[4] = {LeftAxis(), RightAxis(), TopAxis(), BottomAxis()};
  for (int i = 0; i < 4; ++i) {
    double lo = 0, hi = 0;
    RangeInEffect(*axes[i], lo, hi);
    const double d = static_cast<double>(static_cast<long double>(hi - lo) * (static_cast<long double>(Percent) - 100) *
                                         0.01L);
    r[i][0] = lo + d;
    r[i][1] = hi - d;
  }
  ZoomToRanges(r[2][0], r[2][1], r[3][0], r[3][1], r[0][0], r[0][1], r[1][0], r[1][1]);
  RepaintNow();
}

void TCustomChart::ZoomToRanges(double topMin, double topMax, double bottomMin, double bottomMax, double leftMin,
                                double leftMax, double rightMin, double rightMax) {
  if (scalesRestored_) SaveScales();
  LeftAxis()->SetRange(leftMin, leftMax);
  RightAxis()->SetRange(rightMin, rightMax);
  TopAxis()->SetRange(topMin, topMax);
  BottomAxis()->SetRange(bottomMin, bottomMax);
  if (OnZoom) OnZoom(*this);
}

void TCustomChart::ZoomToRectangle() {
  TZoomPanningRecord& z = ZoomRecord();
  z.Normalise();
  const TChartAxis* t = TopAxis();
  const TChartAxis* b = BottomAxis();
  const TChartAxis* l = LeftAxis();
  const TChartAxis* r = RightAxis();
  // Screen y grows downwards: the lower edge gives the lower value.
  ZoomToRanges(t->PixelToValue(z.StartX), t->PixelToValue(z.EndX), b->PixelToValue(z.StartX),
               b->PixelToValue(z.EndX), l->PixelToValue(z.EndY), l->PixelToValue(z.StartY),
               r->PixelToValue(z.EndY), r->PixelToValue(z.StartY));
}

void TCustomChart::UndoZoom() {
  if (!scalesRestored_) {
    RestoreScale(*TopAxis(), savedScales_.Top);
    RestoreScale(*BottomAxis(), savedScales_.Bottom);
    RestoreScale(*LeftAxis(), savedScales_.Left);
    RestoreScale(*RightAxis(), savedScales_.Right);
  }
  scalesRestored_ = true;
  if (OnUndoZoom) OnUndoZoom(*this);
  Invalidate();
}

void TCustomChart::ScrollVerticalByWheel(bool Down) {
  for (int i = 0; i < AxisCount(); ++i) {
    TChartAxis* a = Axis(i);
    if (a->IsHorizontal() || a->IsDepthAxis()) continue;
    const double offset = (a->Maximum() - a->Minimum()) * 3 * 0.01 * (Down ? 1 : -1);
    const double lo = a->Minimum() + offset;
    const double hi = a->Maximum() + offset;
    a->SetAutomatic(false);
    // Move the end that leads first, so that neither bound check sees the
    // range inside out.
    if (offset > 0) {
      a->SetMaximum(hi);
      a->SetMinimum(lo);
    } else {
      a->SetMinimum(lo);
      a->SetMaximum(hi);
    }
  }
  RepaintNow();
}

bool TCustomChart::AxisClicked(const TCustomChartAxis& axis, int x, int y) const {
  if (!IsAxisShown(axis)) return false;
  const int along0 = std::min(axis.StartPixel, axis.EndPixel);
  const int along1 = std::max(axis.StartPixel, axis.EndPixel);
  // Bottom and right axes have their labels beyond the line's larger
  // coordinate; top and left ones before its smaller one.
  const bool labelsAfter = axis.IsHorizontal() != axis.FarSide();
  const int across0 = labelsAfter ? axis.LinePos - kAxisClickGap : axis.LabelBandPos;
  const int across1 = labelsAfter ? axis.LabelBandPos : axis.LinePos + kAxisClickGap;
  const TRect r = axis.IsHorizontal() ? TRect{along0, across0, along1, across1} : TRect{across0, along0, across1, along1};
  return PointInRect(r, x, y);
}

TCustomChart::TChartClickedPart TCustomChart::CalcClickedPart(int x, int y, TClickedPart* where) {
  TClickedPart ignored;
  TClickedPart& found = where ? *where : ignored;
  found = {};
  bool anyActive = false;
  for (int i = SeriesCount() - 1; i >= 0; --i) {
    TChartSeries* s = Series(i);
    if (!s->Active()) continue;
    anyActive = true;
    const int index = s->HitTest(x, y);
    if (index != -1) {
      found.ASeries = s;
      found.PointIndex = index;
      return cpSeries;
    }
  }
  for (int i = 0; i < AxisCount(); ++i)
    if (AxisClicked(*Axis(i), x, y)) {
      found.AAxis = Axis(i);
      return cpAxis;
    }
  if (title_->Visible() && PointInRect(title_->TitleRect(), x, y)) return cpTitle;
  if (foot_->Visible() && PointInRect(foot_->TitleRect(), x, y)) return cpFoot;
  if (anyActive && PointInRect(PlotRect(), x, y)) return cpChartRect;
  // The legend is never drawn here, so it is never under the pointer.
  return cpNone;
}

void TCustomChart::ChartMouseDown(Qt::MouseButton button, int x, int y, Qt::KeyboardModifiers shift) {
  TZoomPanningRecord& zoom = ZoomRecord();
  TZoomPanningRecord& pan = PanningRecord();
  if (zoom.Dragging || pan.Dragging) return;
  TClickedPart where;
  const TChartClickedPart part = CalcClickedPart(x, y, &where);
  switch (part) {
    case cpSeries:
      if (OnClickSeries) OnClickSeries(*this, *where.ASeries, where.PointIndex, button, shift, x, y);
      break;
    case cpAxis:
      if (OnClickAxis) OnClickAxis(*this, *where.AAxis, button, shift, x, y);
      break;
    case cpLegend:
      if (OnClickLegend) OnClickLegend(*this, button, shift, x, y);
      break;
    case cpChartRect:
    case cpNone:
      if (OnClickBackground) OnClickBackground(*this, button, shift, x, y);
      break;
    case cpTitle:
    case cpFoot:
      break;
  }
  if (part != cpSeries && part != cpAxis && part != cpChartRect) return;
  if (AllowZoom() && button == Qt::LeftButton) {
    zoom.StartAt(x, y);
    DrawZoomRectangle();
    ShowZoomOutline();
  }
  if (AllowPanning() != pmNone && button == Qt::RightButton) pan.StartAt(x, y);
}

void TCustomChart::ChartMouseMove(int x, int y) {
  TZoomPanningRecord& zoom = ZoomRecord();
  TZoomPanningRecord& pan = PanningRecord();
  if (zoom.Dragging) {
    if (x == zoom.EndX && y == zoom.EndY) return;
    DrawZoomRectangle();
    zoom.EndX = x;
    zoom.EndY = y;
    DrawZoomRectangle();
    ShowZoomOutline();
    return;
  }
  if (!pan.Dragging) return;
  if (!PointInRect(PlotRect(), x, y)) {
    // Once the pointer has left the plot the drag is over, even if it
    // comes back before the button is released.
    pan.Dragging = false;
    return;
  }
  if (x == pan.EndX && y == pan.EndY) return;
  if (scalesRestored_) SaveScales();
  bool moved = false;
  const TPanningMode mode = AllowPanning();
  auto shift = [this](TChartAxis& a, double delta) {
    double lo = a.Minimum() + delta, hi = a.Maximum() + delta;
    bool allow = true;
    if (OnAllowScroll) OnAllowScroll(a, lo, hi, allow);
    if (allow) a.SetRange(lo, hi);
  };
  if (x != pan.EndX && (mode == pmHorizontal || mode == pmBoth)) {
    for (int i = 0; i < AxisCount(); ++i) {
      TChartAxis* a = Axis(i);
      if (!a->IsHorizontal() || a->IsDepthAxis()) continue;
      shift(*a, a->PixelToValue(pan.EndX) - a->PixelToValue(x));
    }
    moved = true;
  }
  if (y != pan.EndY && (mode == pmVertical || mode == pmBoth)) {
    for (int i = 0; i < AxisCount(); ++i) {
      TChartAxis* a = Axis(i);
      if (a->IsHorizontal() || a->IsDepthAxis()) continue;
      shift(*a, a->PixelToValue(pan.EndY) - a->PixelToValue(y));
    }
    moved = true;
  }
  pan.EndX = x;
  pan.EndY = y;
  if (moved) {
    if (OnScroll) OnScroll(*this);
    Invalidate();
  }
}

void TCustomChart::ChartMouseUp(Qt::MouseButton button, int x, int y) {
  TZoomPanningRecord& zoom = ZoomRecord();
  if (zoom.Dragging && button == Qt::LeftButton) {
    zoom.Dragging = false;
    DrawZoomRectangle();
    Canvas().Pen().SetMode(pmCopy);
    ShowZoomOutline();
    zoom.EndX = x;
    zoom.EndY = y;
    if (std::abs(zoom.EndX - zoom.StartX) > kZoomThreshold && std::abs(zoom.EndY - zoom.StartY) > kZoomThreshold) {
      if (zoom.EndX > zoom.StartX && zoom.EndY > zoom.StartY)
        ZoomToRectangle();
      else
        UndoZoom();
      Invalidate();
    }
  }
  PanningRecord().Dragging = false;
}

void TCustomChart::ChartMouseWheel(int delta) {
  wheelAccumulator_ += delta;
  while (wheelAccumulator_ >= kWheelDelta) {
    wheelAccumulator_ -= kWheelDelta;
    ScrollVerticalByWheel(false);
  }
  while (wheelAccumulator_ <= -kWheelDelta) {
    wheelAccumulator_ += kWheelDelta;
    ScrollVerticalByWheel(true);
  }
}

void TCustomChart::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  ChartMouseDown(event->button(), p.x(), p.y(), event->modifiers());
  event->accept();
}

void TCustomChart::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  ChartMouseMove(p.x(), p.y());
  event->accept();
}

void TCustomChart::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  ChartMouseUp(event->button(), p.x(), p.y());
  event->accept();
}

void TCustomChart::wheelEvent(QWheelEvent* event) {
  // Editors on the chart leave the wheel to it, so this also runs while one
  // of them has the focus.
  ChartMouseWheel(event->angleDelta().y());
  event->accept();
}

}  // namespace wg
