#include "chart/CustomAxisPanel.h"

#include <algorithm>
#include <utility>


namespace wg {

namespace {

// The common part of two rectangles; empty (all zero) when they do not
// overlap.
bool Intersect(const TRect& a, const TRect& b, TRect& out) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) {
    out = {};
    return false;
  }
  out = r;
  return true;
}


}  // namespace

// ---------------------------------------------------------------------------
// TCustomAxisPanel

TCustomAxisPanel::TCustomAxisPanel(QWidget* parent) : TCustomChartPanelExtended(parent) {
  // Each axis joins the list as it is made: the list order is the layout
  // and drawing order.
  auto add = [this](std::unique_ptr<TChartAxis> a) {
    TChartAxis* p = a.get();
    axes_.push_back(std::move(a));
    return p;
  };
  bottomAxis_ = add(std::make_unique<TChartAxis>(this, true, false));
  topAxis_ = add(std::make_unique<TChartAxis>(this, true, true));
  leftAxis_ = add(std::make_unique<TChartAxis>(this, false, false));
  rightAxis_ = add(std::make_unique<TChartAxis>(this, false, true));
  auto depth = std::make_unique<TChartDepthAxis>(this);
  depthAxis_ = depth.get();
  add(std::move(depth));
}

TCustomAxisPanel::~TCustomAxisPanel() {
  BeginDestroy();
  while (!series_.empty()) {
    std::unique_ptr<TChartSeries> s = std::move(series_.front());
    series_.erase(series_.begin());
    s->SetParentChart(nullptr);
  }
  axes_.clear();
}

void TCustomAxisPanel::BeginDestroy() {
  destroying_ = true;
  SetRepaintEnabled(false);
}

void TCustomAxisPanel::AdoptSeries(std::unique_ptr<TChartSeries> series) {
  if (!series) return;
  series->SetParentChart(this);
  series_.push_back(std::move(series));
  Invalidate();
}

std::unique_ptr<TChartSeries> TCustomAxisPanel::RemoveSeries(TChartSeries* series) {
  auto it = std::find_if(series_.begin(), series_.end(), [&](const auto& p) { return p.get() == series; });
  if (it == series_.end()) return nullptr;
  std::unique_ptr<TChartSeries> s = std::move(*it);
  series_.erase(it);
  s->SetParentChart(nullptr);
  Invalidate();
  return s;
}

TChartSeries* TCustomAxisPanel::Series(int index) const {
  if (index < 0 || index >= SeriesCount()) throw EListError(index);
  return series_[static_cast<std::size_t>(index)].get();
}

TChartAxis* TCustomAxisPanel::Axis(int index) const {
  if (index < 0 || index >= AxisCount()) throw EListError(index);
  return axes_[static_cast<std::size_t>(index)].get();
}

bool TCustomAxisPanel::IsAxisShown(const TCustomChartAxis& axis) const {
  if (!axisVisible_ || !axis.Visible()) return false;
  if (axis.IsDepthAxis()) return View3D();
  bool anyAxisSeries = false;
  for (const auto& s : series_) {
    if (!s->Active() || !s->UseAxis()) continue;
    if (s->AssociatedToAxis(axis)) return true;
    anyAxisSeries = true;
  }
  return !anyAxisSeries;
}

void TCustomAxisPanel::Invalidate() { TCustomChartPanelExtended::Invalidate(); }

TCanvas3D* TCustomAxisPanel::GetCanvas() const { return const_cast<TChartCanvas3D*>(&Canvas()); }

TChartAxis* TCustomAxisPanel::AxisFor(THorizAxis which) const {
  return which == aTopAxis ? topAxis_ : bottomAxis_;
}

TChartAxis* TCustomAxisPanel::AxisFor(TVertAxis which) const {
  return which == aRightAxis ? rightAxis_ : leftAxis_;
}

void TCustomAxisPanel::GetAxisLabel(const TCustomChartAxis& axis, double value, std::string& text) {
  if (OnGetAxisLabel) OnGetAxisLabel(axis, value, text);
}

void TCustomAxisPanel::InternalDraw(const TRect& bounds) {
  TChartCanvas3D& c = Canvas();
  PaintPanelBackground(bounds);

  // Titles (and the legend, which this chart never draws) lie flat even in a
  // 3-D view.
  c.Suspend3D();
  DrawTitlesAndLegend();
  c.Resume3D();

  LayoutAxes();

  for (TChartAxis* a : {topAxis_, leftAxis_, rightAxis_, bottomAxis_}) a->ApplySeriesMargins();

  c.Projection(0, bounds, PlotRect());

  DrawWalls();

  if (axisVisible_) {
    if (OnBeforeDrawAxes) OnBeforeDrawAxes();
    DrawAxes();
  }
  if (OnBeforeDrawSeries) OnBeforeDrawSeries();
  DrawSeries();

  if (ZoomRecord().Dragging) DrawZoomRectangleStep();

  c.ResetDrawingState();
  if (OnAfterDraw) OnAfterDraw();
}

void TCustomAxisPanel::LayoutAxes() {
  for (const auto& a : axes_) a->UpdateEffectiveRange();
  RecalcPlotSize();
  TRect work = PlotRect();
  for (const auto& a : axes_) {
    if (!IsAxisShown(*a)) continue;
    TRect shrunk = work;
    a->LayoutShare(shrunk);
    TRect common;
    if (Intersect(shrunk, work, common)) work = common;
  }
  SetPlotRect(work);
  RecalcPlotSize();
  for (const auto& a : axes_) a->UpdatePixelExtent();
}

void TCustomAxisPanel::DrawAxes() {
  for (const auto& a : axes_)
    if (IsAxisShown(*a)) a->Draw();
}

void TCustomAxisPanel::DrawSeries() {
  for (const auto& s : series_) s->DrawSeriesValues(clipPoints_);
}

}  // namespace wg
