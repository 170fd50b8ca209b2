// The chart's drawing order, titles, walls and series list.
#include "Chart.h"

#include <algorithm>
#include <utility>

#include "Series.h"

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

// Removes the canvas clip when a series drawing ends, also by an exception.
struct ClipGuard {
  TChartCanvas3D* canvas = nullptr;
  ~ClipGuard() {
    if (canvas) canvas->RemoveClip();
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Titles, walls

TChartFontObject::TChartFontObject(TCustomChartPanel* chart) : chart_(chart), font_(DefaultChartFont()) {
  font_.OnChange = [this] { chart_->Invalidate(); };
}

TChartTitle::TChartTitle(TCustomChartPanel* chart) : TChartFontObject(chart) {
  font_.OnChange = {};
  font_.SetColor(clBlue);
  font_.OnChange = [this] { chart_->Invalidate(); };
  brush_.OnChange = [this] { chart_->Invalidate(); };
  frame_.OnChange = [this] { chart_->Invalidate(); };
}

void TChartTitle::SetText(std::vector<std::string> lines) {
  if (lines == text_) return;
  text_ = std::move(lines);
  chart_->Invalidate();
}

void TChartTitle::SetAlignment(TAlignment v) {
  if (v == alignment_) return;
  alignment_ = v;
  chart_->Invalidate();
}

TChartWall::TChartWall(TCustomChartPanel* chart) : chart_(chart) {
  brush_.OnChange = [this] { chart_->Invalidate(); };
  pen_.OnChange = [this] { chart_->Invalidate(); };
}

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
  TChartCanvas3D& c = Canvas();
  for (const auto& s : series_) {
    // The line series runs its own share, with its drawing hooks.
    if (auto* line = dynamic_cast<TFastLineSeries*>(s.get())) {
      line->DrawSeriesValues(clipPoints_);
      continue;
    }
    if (!s->Active()) continue;
    s->CalcVisibleRange();
    if (s->FirstVisible == -1) continue;
    ClipGuard guard;
    if (clipPoints_) {
      c.ClipToPlotArea(PlotRect());
      guard.canvas = &c;
    }
    s->DrawPoints();
  }
}

// ---------------------------------------------------------------------------
// TCustomChart

TCustomChart::TCustomChart(QWidget* parent) : TCustomAxisPanel(parent) {
  title_ = std::make_unique<TChartTitle>(this);
  foot_ = std::make_unique<TChartTitle>(this);
  backWall_ = std::make_unique<TChartWall>(this);
  backWall_->Brush().SetStyle(bsClear);
  leftWall_ = std::make_unique<TChartWall>(this);
  leftWall_->SetColor(0x80FFFF);
  leftWall_->SetDefaultColor(0x80FFFF);
  legend_ = std::make_unique<TChartLegend>(this);
  bottomWall_ = std::make_unique<TChartWall>(this);
  bottomWall_->SetColor(clWhite);
  bottomWall_->SetDefaultColor(clWhite);
  SetRepaintEnabled(true);
}

TCustomChart::~TCustomChart() { BeginDestroy(); }

void TCustomChart::SetBackColor(TColor v) {
  backWall_->SetColor(v);
  if (parentWidget() && !IsLoading()) backWall_->Brush().SetStyle(bsSolid);
}

void TCustomChart::DrawTitlesAndLegend() {
  if (title_->Visible()) DrawTitle(*title_, false);
  if (foot_->Visible()) DrawTitle(*foot_, true);
}

void TCustomChart::DrawTitle(TChartTitle& t, bool isFoot) {
  constexpr int kTitleGap = 5;
  TChartCanvas3D& c = Canvas();
  c.AssignFont(t.Font());
  const int h = c.FontHeight();

  if (t.Color() == clDefault) {
    if (t.Brush().Style() != bsSolid) {
      c.Brush().Assign(t.Brush());
      c.SetBackMode(cbmTransparent);
    } else if (t.Brush().Color() == clDefault) {
      c.Brush().SetStyle(bsClear);
    } else {
      t.SetColor(t.Brush().Color());
      c.Brush().SetColor(t.Color());
      c.Brush().SetStyle(bsSolid);
    }
  } else if (t.Brush().Style() != bsSolid) {
    c.Brush().Assign(t.Brush());
    c.SetBackMode(cbmOpaque);
    c.SetBackColor(t.Color());
  } else {
    c.Brush().SetColor(t.Color());
    c.Brush().SetStyle(bsSolid);
  }

  const bool framed = t.Frame().Visible() && t.Frame().Color() != clDefault;
  const int f = framed ? t.Frame().Width() : 0;

  TRect& plot = MutablePlotRect();
  TRect r;
  r.Left = plot.Left + f;
  r.Right = plot.Right - f;
  if (!isFoot) {
    r.Top = plot.Top + f;
    r.Bottom = r.Top - kTitleGap;
  } else {
    r.Bottom = plot.Bottom - f;
    r.Top = r.Bottom + kTitleGap;
  }
  TRect box = r;

  int pw = 0;
  if (framed) {
    c.ApplyChartPen(t.Frame());
    pw = t.Frame().Width();
  } else {
    c.Pen().SetStyle(psClear);
  }

  const auto& lines = t.Text();
  const int n = static_cast<int>(lines.size());
  if (!isFoot)
    box.Bottom = r.Top + n * h;
  else
    box.Top = r.Bottom - n * h;
  box.Left -= pw;
  box.Top -= pw;
  box.Right += pw;
  box.Bottom += pw;

  const int w = c.TextWidth("W");
  if (framed || c.Brush().Style() != bsClear) {
    if (t.AdjustFrame()) {
      int widest = 0;
      for (const auto& line : lines) widest = std::max(widest, c.TextWidth(line));
      const int width = widest + w;
      switch (t.Alignment()) {
        case taLeftJustify: box.Right = box.Left + width; break;
        case taRightJustify: box.Left = box.Right - width; break;
        case taCenter: {
          const int mid = (box.Left + box.Right) / 2;
          box.Left = mid - width / 2;
          box.Right = mid + width / 2;
          break;
        }
      }
    }
    c.Rectangle(box);
  }

  c.SetBackMode(cbmTransparent);
  c.SetTextAlign(TA_LEFT | TA_TOP);
  auto lineX = [&](const std::string& line) {
    switch (t.Alignment()) {
      case taLeftJustify: return r.Left + w / 2;
      case taRightJustify: return r.Right - c.TextWidth(line) - w / 2;
      case taCenter: break;
    }
    return (r.Left + r.Right) / 2 - c.TextWidth(line) / 2;
  };
  if (!isFoot) {
    int y = r.Top;
    for (const auto& line : lines) {
      c.TextOut(lineX(line), y, line);
      y += h;
      r.Bottom = y;
    }
  } else {
    int y = r.Bottom;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
      y -= h;
      c.TextOut(lineX(*it), y, *it);
      r.Top = y;
    }
  }

  if (framed) {
    if (!isFoot)
      r.Bottom += pw;
    else
      r.Top -= pw;
  }
  t.titleRect_ = box;

  if (!isFoot)
    plot.Top = r.Bottom + kTitleGap;
  else
    plot.Bottom = r.Top - kTitleGap;
  RecalcPlotSize();
}

void TCustomChart::PrepareWallCanvas(const TChartWall& wall) {
  TChartCanvas3D& c = Canvas();
  c.ApplyChartPen(wall.Pen());
  if (wall.Color() == clDefault && wall.Brush().Style() == bsSolid) {
    c.Brush().SetStyle(bsClear);
    return;
  }
  const TBrushStyle style = wall.Brush().Style();
  c.Brush().SetColor(wall.Color());
  c.Brush().SetStyle(style);
  // A hatch in the wall's own colour would vanish: draw it in the contrast.
  if (style != bsSolid && wall.Color() == wall.Brush().Color())
    c.Brush().SetColor(wall.Brush().Color() == clBlack ? clWhite : clBlack);
  if (style != bsSolid) {
    c.SetBackMode(cbmOpaque);
    c.SetBackColor(wall.Brush().Color());
  } else {
    c.SetBackMode(cbmTransparent);
  }
}

void TCustomChart::DrawWalls() {
  PrepareWallCanvas(*backWall_);
  const TRect& p = PlotRect();
  // One past the plot's right and bottom edges, so that the outline covers
  // the plot's last column and row.
  Canvas().Rectangle(p.Left, p.Top, p.Right + 1, p.Bottom + 1);
}

void TCustomChart::DrawZoomRectangleStep() { DrawZoomRectangle(); }

void TCustomChart::DrawZoomRectangle() {
  TChartCanvas3D& c = Canvas();
  TColor color = ColorToRGB(Color());
  if (color == clWhite) color = clBlack;
  c.Pen().SetColor(color);
  c.Pen().SetMode(pmNotXor);
  c.Pen().SetStyle(psSolid);
  c.Pen().SetWidth(1);
  c.Brush().SetStyle(bsClear);
  const TZoomPanningRecord& z = ZoomRecord();
  // Ordered corners: a drag up or to the left shows its outline too.
  c.Rectangle(std::min(z.StartX, z.EndX), std::min(z.StartY, z.EndY), std::max(z.StartX, z.EndX),
              std::max(z.StartY, z.EndY));
}

}  // namespace wg
