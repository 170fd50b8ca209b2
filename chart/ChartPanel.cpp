// The chart panel: painting protocol, plotting rectangle, background and
// bevels.
#include "chart/ChartPanel.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>

#include <algorithm>
#include <utility>

#include "runtime/NumText.h"

namespace wg {

// ---------------------------------------------------------------------------
// TZoomPanningRecord

void TZoomPanningRecord::StartAt(int x, int y) {
  StartX = EndX = x;
  StartY = EndY = y;
  Dragging = true;
}

void TZoomPanningRecord::Normalise() {
  if (EndX < StartX) std::swap(StartX, EndX);
  if (EndY < StartY) std::swap(StartY, EndY);
}

// ---------------------------------------------------------------------------
// TChartGradient

void TChartGradient::SetVisible(bool v) { Set(visible_, v); }
void TChartGradient::SetDirection(TGradientDirection v) { Set(direction_, v); }
void TChartGradient::SetStartColor(TColor v) { Set(startColor_, v); }
void TChartGradient::SetEndColor(TColor v) { Set(endColor_, v); }

// ---------------------------------------------------------------------------
// TCustomChartPanel

TCustomChartPanel::TCustomChartPanel(QWidget* parent)
    : QWidget(parent), canvas_(std::make_unique<TChartCanvas3D>()) {
  // Every pixel of the widget comes from the canvas image: Qt must neither
  // clear the widget nor fill it with the palette before a paint, or the
  // chart would flicker on every sweep.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  resize(400, 250);
}

TCustomChartPanel::~TCustomChartPanel() { repaintEnabled_ = false; }

void TCustomChartPanel::SetIntegerProperty(int& variable, int value) {
  if (variable == value) return;
  variable = value;
  Invalidate();
}

void TCustomChartPanel::SetDoubleProperty(double& variable, double value) {
  if (variable == value) return;
  variable = value;
  Invalidate();
}

void TCustomChartPanel::SetBooleanProperty(bool& variable, bool value) {
  if (variable == value) return;
  variable = value;
  Invalidate();
}

void TCustomChartPanel::SetColorProperty(TColor& variable, TColor value) {
  if (variable == value) return;
  variable = value;
  Invalidate();
}

void TCustomChartPanel::SetBevelOuter(TPanelBevel v) {
  if (bevelOuter_ == v) return;
  bevelOuter_ = v;
  Invalidate();
}

void TCustomChartPanel::SetBevelInner(TPanelBevel v) {
  if (bevelInner_ == v) return;
  bevelInner_ = v;
  Invalidate();
}

void TCustomChartPanel::Invalidate() {
  if (!repaintEnabled_) return;
  ++invalidations_;
  canvas_->MarkDirty();
  // Publishing a sweep invalidates twice per point, millions of times for a
  // wide survey; Qt merges the requests into one paint anyway, so only the
  // first one after a paint goes to Qt.
  if (updateRequested_) return;
  updateRequested_ = true;
  update();
}

void TCustomChartPanel::Draw(QPainter* target, const TRect& rect) {
  ++draws_;
  // The chart draws flat even with View3D set: the canvas gets no 3-D frame.
  drawBounds_ = canvas_->BeginFrame(target, &view3DOptions_, rect, false);
  const int w = drawBounds_.Width();
  const int h = drawBounds_.Height();
  plotRect_.Left = drawBounds_.Left + borderWidth_ + rt::MulDiv(marginLeft_, w, 100);
  plotRect_.Top = drawBounds_.Top + borderWidth_ + rt::MulDiv(marginTop_, h, 100);
  plotRect_.Right = drawBounds_.Right - borderWidth_ - rt::MulDiv(marginRight_, w, 100);
  plotRect_.Bottom = drawBounds_.Bottom - borderWidth_ - rt::MulDiv(marginBottom_, h, 100);
  RecalcPlotSize();
  try {
    InternalDraw(drawBounds_);
  } catch (...) {
    // Close the frame without showing a half-drawn image, and keep it stale
    // so that the next paint tries again. A clip left by the failed step
    // would outlive the frame.
    canvas_->RemoveClip();
    canvas_->PresentFrame(nullptr, windowPainter_, rect);
    canvas_->MarkDirty();
    throw;
  }
  canvas_->PresentFrame(target, windowPainter_, rect);
}

void TCustomChartPanel::InternalDraw(const TRect& bounds) {
  PaintPanelBackground(bounds);
  canvas_->ResetDrawingState();
}

void TCustomChartPanel::RecalcPlotSize() {
  TRect& r = plotRect_;
  if (r.Left < drawBounds_.Left) r.Left = drawBounds_.Left;
  if (r.Top < drawBounds_.Top) r.Top = drawBounds_.Top;
  if (r.Right < r.Left)
    r.Right = r.Left + 1;
  else if (r.Right == r.Left)
    r.Right = r.Left + width();
  if (r.Bottom < r.Top)
    r.Bottom = r.Top + 1;
  else if (r.Bottom == r.Top)
    r.Bottom = r.Top + height();
  plotWidth_ = r.Right - r.Left;
  plotHeight_ = r.Bottom - r.Top;
  plotXCenter_ = (r.Left + r.Right) / 2;
  plotYCenter_ = (r.Top + r.Bottom) / 2;
}

void TCustomChartPanel::PaintPanelBackground(const TRect& bounds) {
  TChartCanvas3D& c = *canvas_;
  // The gradient is never switched on in this chart; the plain fill is drawn
  // either way so that the reused image never shows the previous drawing.
  c.Brush().SetColor(color_);
  c.Brush().SetStyle(bsSolid);
  c.EraseBackground(bounds);

  c.Pen().SetStyle(psSolid);
  c.Pen().SetWidth(1);
  c.Pen().SetMode(pmCopy);
  c.Brush().SetStyle(bsClear);
  TRect r = bounds;
  auto bevel = [&](TPanelBevel b) {
    if (b == bvNone) return;
    const bool lowered = b == bvLowered;
    Frame3D(r, lowered ? clBtnShadow : clBtnHighlight, lowered ? clBtnHighlight : clBtnShadow, bevelWidth_);
  };
  bevel(bevelOuter_);
  Frame3D(r, color_, color_, borderWidth_);
  bevel(bevelInner_);
}

void TCustomChartPanel::Frame3D(TRect& r, TColor topLeft, TColor bottomRight, int width) {
  TChartCanvas3D& c = *canvas_;
  // Work on the last pixel row and column, not the exclusive edges.
  --r.Right;
  --r.Bottom;
  for (; width > 0; --width) {
    c.Pen().SetColor(topLeft);
    c.MoveTo(r.Left, r.Bottom);
    c.LineTo(r.Left, r.Top);
    c.LineTo(r.Right, r.Top);
    c.Pen().SetColor(bottomRight);
    c.LineTo(r.Right, r.Bottom);
    c.LineTo(r.Left - 1, r.Bottom);
    ++r.Left;
    ++r.Top;
    --r.Right;
    --r.Bottom;
  }
  ++r.Right;
  ++r.Bottom;
}

void TCustomChartPanel::paintEvent(QPaintEvent*) {
  updateRequested_ = false;
  QPainter painter(this);
  windowPainter_ = &painter;
  canvas_->SetWindowSurface(&painter);
  try {
    if (!canvas_->RepaintFromCache()) Draw(&painter, {0, 0, width(), height()});
  } catch (...) {
    // A failing drawing must not unwind through Qt's event loop; the image
    // stays stale and the next paint draws again.
  }
  canvas_->SetWindowSurface(nullptr);
  windowPainter_ = nullptr;
  // Qt may drop an update() asked for while it paints; whatever the drawing
  // invalidated is in this image already, and the next invalidation must
  // reach Qt again.
  updateRequested_ = false;
}

void TCustomChartPanel::resizeEvent(QResizeEvent* event) {
  // Users resize the window while sweeps run; without this a paint between
  // two sweeps would copy the image of the old size.
  updateRequested_ = false;
  Invalidate();
  QWidget::resizeEvent(event);
}

void TCustomChartPanel::showEvent(QShowEvent* event) {
  // A hidden widget drops update requests; the first paint after showing
  // must not be taken for one already asked for.
  updateRequested_ = false;
  QWidget::showEvent(event);
}

// ---------------------------------------------------------------------------
// TCustomChartPanelExtended

TCustomChartPanelExtended::TCustomChartPanelExtended(QWidget* parent)
    : TCustomChartPanel(parent), gradient_(std::make_unique<TChartGradient>([this] { Invalidate(); })) {}

TCustomChartPanelExtended::~TCustomChartPanelExtended() = default;

void TCustomChartPanelExtended::SetAllowPanning(TPanningMode v) {
  if (allowPanning_ == v) return;
  allowPanning_ = v;
  Invalidate();
}

}  // namespace wg
