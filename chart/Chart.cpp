// The chart's drawing order, titles, walls and series list.
#include "Chart.h"

#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
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
