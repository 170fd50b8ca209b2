// The chart's panel: a widget that paints itself through the chart canvas.
//
// The panel owns the canvas, the margins, the drawing bounds and the plotting
// rectangle of the current drawing, the background and bevels, and the two
// mouse-drag records. It draws only inside its paint handling: a setter or a
// data change marks the canvas image stale and asks Qt for a paint, and the
// paint either copies the still valid image or draws the whole chart anew.
#pragma once

#include <QWidget>

#include <memory>

#include "chart/ImageCanvas.h"

class QPaintEvent;
class QResizeEvent;
class QShowEvent;

namespace wg {

enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
enum TPanningMode { pmNone, pmHorizontal, pmVertical, pmBoth };
enum TGradientDirection { gdTopBottom, gdBottomTop, gdLeftRight, gdRightLeft };

// One mouse drag: where it began and where it is (or was last) now.
struct TZoomPanningRecord {
  bool Dragging = false;
  int StartX = 0;
  int StartY = 0;
  int EndX = 0;
  int EndY = 0;

  // Both corners at (x, y), dragging.
  void StartAt(int x, int y);
  // Start becomes the top-left corner, End the bottom-right one.
  void Normalise();
};

// The settings of a gradient background. This chart always paints a plain
// background; the settings are kept so that the panel carries them.
class TChartGradient {
 public:
  explicit TChartGradient(TNotifyEvent onChange = {}) : OnChange(std::move(onChange)) {}
  TChartGradient(const TChartGradient&) = delete;
  TChartGradient& operator=(const TChartGradient&) = delete;

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  TGradientDirection Direction() const { return direction_; }
  void SetDirection(TGradientDirection v);
  TColor StartColor() const { return startColor_; }
  void SetStartColor(TColor v);
  TColor EndColor() const { return endColor_; }
  void SetEndColor(TColor v);

  TNotifyEvent OnChange;

 private:
  template <typename T>
  void Set(T& field, T value) {
    if (field == value) return;
    field = value;
    if (OnChange) OnChange();
  }
  bool visible_ = false;
  TGradientDirection direction_ = gdTopBottom;
  TColor startColor_ = clWhite;
  TColor endColor_ = clYellow;
};

class TCustomChartPanel : public QWidget {
 public:
  ~TCustomChartPanel() override;

  // ---- the common setters: store a changed value and invalidate -----------
  void SetIntegerProperty(int& variable, int value);
  void SetDoubleProperty(double& variable, double value);
  void SetBooleanProperty(bool& variable, bool value);
  void SetColorProperty(TColor& variable, TColor value);

  // Marks the canvas image stale and asks Qt for a paint; nothing is drawn
  // here. Ignored while the chart is being built or torn down.
  virtual void Invalidate();
  // False while the constructors run (and while the chart is destroyed).
  bool RepaintEnabled() const { return repaintEnabled_; }

  // One full drawing of the chart into `target` at `rect` (client pixels):
  // everything is drawn into the canvas image, which is then copied to the
  // target in one piece. A null target only refreshes the image.
  void Draw(QPainter* target, const TRect& rect);

  // ---- layout of the current (or last) drawing -----------------------------
  const TRect& DrawBounds() const { return drawBounds_; }
  const TRect& PlotRect() const { return plotRect_; }
  int PlotWidth() const { return plotWidth_; }
  int PlotHeight() const { return plotHeight_; }
  int PlotXCenter() const { return plotXCenter_; }
  int PlotYCenter() const { return plotYCenter_; }

  // ---- properties ---------------------------------------------------------------
  // Percentages: left and right of the width, top and bottom of the height.
  int MarginLeft() const { return marginLeft_; }
  void SetMarginLeft(int v) { SetIntegerProperty(marginLeft_, v); }
  int MarginTop() const { return marginTop_; }
  void SetMarginTop(int v) { SetIntegerProperty(marginTop_, v); }
  int MarginRight() const { return marginRight_; }
  void SetMarginRight(int v) { SetIntegerProperty(marginRight_, v); }
  int MarginBottom() const { return marginBottom_; }
  void SetMarginBottom(int v) { SetIntegerProperty(marginBottom_, v); }

  TColor Color() const { return color_; }
  void SetColor(TColor v) { SetColorProperty(color_, v); }
  TPanelBevel BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TPanelBevel v);
  TPanelBevel BevelInner() const { return bevelInner_; }
  void SetBevelInner(TPanelBevel v);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int v) { SetIntegerProperty(bevelWidth_, v); }
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int v) { SetIntegerProperty(borderWidth_, v); }

  // The chart draws flat whatever View3D says; the setting is kept for the
  // shown-axis rule, which shows the depth axis only in a 3-D view.
  bool View3D() const { return view3D_; }
  void SetView3D(bool v) { SetBooleanProperty(view3D_, v); }
  int Chart3DPercent() const { return chart3DPercent_; }
  void SetChart3DPercent(int v) { SetIntegerProperty(chart3DPercent_, v); }
  TView3DOptions& View3DOptions() { return view3DOptions_; }
  bool PrintProportional() const { return printProportional_; }
  void SetPrintProportional(bool v) { printProportional_ = v; }

  TChartCanvas3D& Canvas() { return *canvas_; }
  const TChartCanvas3D& Canvas() const { return *canvas_; }

  // The mouse-drag records: zoom rectangle and panning.
  TZoomPanningRecord& ZoomRecord() { return zoom_; }
  const TZoomPanningRecord& ZoomRecord() const { return zoom_; }
  TZoomPanningRecord& PanningRecord() { return panning_; }
  const TZoomPanningRecord& PanningRecord() const { return panning_; }

  // ---- counters for tests and diagnostics ---------------------------------------
  // Invalidations that reached the canvas and Qt; full drawings done.
  long InvalidationCount() const { return invalidations_; }
  long DrawCount() const { return draws_; }

 protected:
  explicit TCustomChartPanel(QWidget* parent = nullptr);

  // Called by the most derived constructor when it is done, and by the
  // destructor that starts the teardown.
  void SetRepaintEnabled(bool v) { repaintEnabled_ = v; }

  // Everything between the plotting rectangle from the margins and the copy
  // to the target; bounds is DrawBounds.
  virtual void InternalDraw(const TRect& bounds);
  // Background fill and bevels over bounds.
  void PaintPanelBackground(const TRect& bounds);
  // Keeps PlotRect usable and its derived fields in step with it.
  void RecalcPlotSize();
  void SetPlotRect(const TRect& r) { plotRect_ = r; }
  TRect& MutablePlotRect() { return plotRect_; }

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Draws `width` nested one-pixel frames inside r and shrinks it by them.
  void Frame3D(TRect& r, TColor topLeft, TColor bottomRight, int width);

  std::unique_ptr<TChartCanvas3D> canvas_;
  // The painter of the paint under way, where the canvas draws between
  // frames; null outside paints.
  QPainter* windowPainter_ = nullptr;
  // An update() is on its way to Qt and no paint has come since.
  bool updateRequested_ = false;

  bool repaintEnabled_ = false;
  long invalidations_ = 0;
  long draws_ = 0;

  TRect drawBounds_;
  TRect plotRect_;
  int plotWidth_ = 0;
  int plotHeight_ = 0;
  int plotXCenter_ = 0;
  int plotYCenter_ = 0;

  int marginLeft_ = 3;
  int marginTop_ = 4;
  int marginRight_ = 3;
  int marginBottom_ = 4;

  TColor color_ = clBtnFace;
  TPanelBevel bevelOuter_ = bvRaised;
  TPanelBevel bevelInner_ = bvNone;
  int bevelWidth_ = 1;
  int borderWidth_ = 0;

  bool view3D_ = true;
  int chart3DPercent_ = 15;
  TView3DOptions view3DOptions_;
  bool printProportional_ = true;

  TZoomPanningRecord zoom_;
  TZoomPanningRecord panning_;
};

class TCustomChartPanelExtended : public TCustomChartPanel {
 public:
  ~TCustomChartPanelExtended() override;

  TChartGradient& Gradient() { return *gradient_; }
  const TChartGradient& Gradient() const { return *gradient_; }
  bool AllowZoom() const { return allowZoom_; }
  void SetAllowZoom(bool v) { SetBooleanProperty(allowZoom_, v); }
  TPanningMode AllowPanning() const { return allowPanning_; }
  void SetAllowPanning(TPanningMode v);
  bool AnimatedZoom() const { return animatedZoom_; }
  void SetAnimatedZoom(bool v) { SetBooleanProperty(animatedZoom_, v); }
  int AnimatedZoomSteps() const { return animatedZoomSteps_; }
  void SetAnimatedZoomSteps(int v) { SetIntegerProperty(animatedZoomSteps_, v); }

 protected:
  explicit TCustomChartPanelExtended(QWidget* parent = nullptr);

 private:
  std::unique_ptr<TChartGradient> gradient_;
  bool allowZoom_ = true;
  TPanningMode allowPanning_ = pmBoth;
  bool animatedZoom_ = false;
  int animatedZoomSteps_ = 8;
};

}  // namespace wg
