// The chart: axes and series on the panel, titles, walls and the drawing
// order of one paint.
//
// TCustomAxisPanel owns the series and the five axes and runs the drawing
// pipeline; TCustomChart adds the titles, walls and legend that the pipeline
// draws. TChart is the class the window creates.
//
// Typical use:
//   auto* chart = new wg::TChart(parent);
//   auto* line = chart->AddSeries(std::make_unique<wg::TFastLineSeries>());
//   chart->Title().SetText({"FFT", ""});
//   chart->SetColor(wg::clWhite);
//   chart->BottomAxis()->SetRange(138e6, 153e6);
// Every change invalidates the chart; the next Qt paint redraws it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChartEngine.h"
#include "ChartEngineSeries.h"
#include "ChartPanel.h"

class QMouseEvent;
class QWheelEvent;

namespace wg {

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// A chart element with a font of its own; a change of the font invalidates
// the chart.
class TChartFontObject {
 public:
  explicit TChartFontObject(TCustomChartPanel* chart);
  TChartFontObject(const TChartFontObject&) = delete;
  TChartFontObject& operator=(const TChartFontObject&) = delete;
  virtual ~TChartFontObject() = default;

  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  TCustomChartPanel* ParentChart() const { return chart_; }

 protected:
  TCustomChartPanel* chart_;
  TFont font_;
};

// The title above the plot (or, as the foot, below it): lines of text in a
// band that the plotting rectangle gives up.
class TChartTitle : public TChartFontObject {
 public:
  explicit TChartTitle(TCustomChartPanel* chart);

  // One entry per line; an empty entry is an empty line that still takes
  // its height.
  const std::vector<std::string>& Text() const { return text_; }
  void SetText(std::vector<std::string> lines);
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { chart_->SetBooleanProperty(visible_, v); }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  TColor Color() const { return color_; }
  void SetColor(TColor v) { chart_->SetColorProperty(color_, v); }
  TChartBrush& Brush() { return brush_; }
  const TChartBrush& Brush() const { return brush_; }
  TChartHiddenPen& Frame() { return frame_; }
  const TChartHiddenPen& Frame() const { return frame_; }
  bool AdjustFrame() const { return adjustFrame_; }
  void SetAdjustFrame(bool v) { chart_->SetBooleanProperty(adjustFrame_, v); }
  // Where the title was drawn last, frame included.
  const TRect& TitleRect() const { return titleRect_; }

 private:
  friend class TCustomChart;
  std::vector<std::string> text_;
  bool visible_ = true;
  TAlignment alignment_ = taCenter;
  TColor color_ = clDefault;
  TChartBrush brush_;
  TChartHiddenPen frame_;
  bool adjustFrame_ = true;
  TRect titleRect_;
};

// A wall of the plot: the back wall is the plot's frame and fill.
class TChartWall {
 public:
  explicit TChartWall(TCustomChartPanel* chart);
  TChartWall(const TChartWall&) = delete;
  TChartWall& operator=(const TChartWall&) = delete;

  TColor Color() const { return color_; }
  void SetColor(TColor v) { chart_->SetColorProperty(color_, v); }
  // The colour the wall was created with.
  TColor DefaultColor() const { return defaultColor_; }
  void SetDefaultColor(TColor v) { defaultColor_ = v; }
  TChartBrush& Brush() { return brush_; }
  const TChartBrush& Brush() const { return brush_; }
  TChartPen& Pen() { return pen_; }
  const TChartPen& Pen() const { return pen_; }
  bool Dark3D() const { return dark3D_; }
  void SetDark3D(bool v) { chart_->SetBooleanProperty(dark3D_, v); }
  int Size() const { return size_; }
  void SetSize(int v) { chart_->SetIntegerProperty(size_, v); }

 private:
  TCustomChartPanel* chart_;
  TColor color_ = clDefault;
  TColor defaultColor_ = clDefault;
  TChartBrush brush_;
  TChartPen pen_;
  bool dark3D_ = true;
  int size_ = 0;
};

// The legend is never drawn by this chart; it only keeps its visibility.
class TChartLegend {
 public:
  explicit TChartLegend(TCustomChartPanel* chart) : chart_(chart) {}
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { chart_->SetBooleanProperty(visible_, v); }

 private:
  TCustomChartPanel* chart_;
  bool visible_ = true;
};

class TCustomAxisPanel : public TCustomChartPanelExtended, public TChartLink {
 public:
  ~TCustomAxisPanel() override;

  // ---- series -----------------------------------------------------------------
  // The chart takes the series over and becomes its ParentChart; the series
  // is drawn after those added before it.
  template <class S>
  S* AddSeries(std::unique_ptr<S> series) {
    S* p = series.get();
    AdoptSeries(std::unique_ptr<TChartSeries>(std::move(series)));
    return p;
  }
  // Hands the series back to the caller, detached from the chart; null when
  // the series is not on this chart.
  std::unique_ptr<TChartSeries> RemoveSeries(TChartSeries* series);
  int SeriesCount() const override { return static_cast<int>(series_.size()); }
  // EListError outside 0 .. SeriesCount() - 1.
  TChartSeries* Series(int index) const override;

  // ---- axes --------------------------------------------------------------------
  // In list order: bottom, top, left, right, depth.
  int AxisCount() const { return static_cast<int>(axes_.size()); }
  TChartAxis* Axis(int index) const;
  TChartAxis* BottomAxis() const { return bottomAxis_; }
  TChartAxis* TopAxis() const { return topAxis_; }
  TChartAxis* LeftAxis() const { return leftAxis_; }
  TChartAxis* RightAxis() const { return rightAxis_; }
  TChartDepthAxis* DepthAxis() const { return depthAxis_; }
  // Whether the drawing lays out and draws this axis.
  bool IsAxisShown(const TCustomChartAxis& axis) const;

  bool AxisVisible() const { return axisVisible_; }
  void SetAxisVisible(bool v) { SetBooleanProperty(axisVisible_, v); }
  bool ClipPoints() const { return clipPoints_; }
  void SetClipPoints(bool v) { SetBooleanProperty(clipPoints_, v); }
  bool View3DWalls() const { return view3DWalls_; }
  void SetView3DWalls(bool v) { SetBooleanProperty(view3DWalls_, v); }
  // Paging is not used: every point is on the one page.
  int MaxPointsPerPage() const { return maxPointsPerPage_; }
  int Page() const { return page_; }
  bool ScaleLastPage() const { return scaleLastPage_; }

  // ---- drawing events (none attached by the window) -----------------------------------
  TNotifyEvent OnBeforeDrawAxes;
  TNotifyEvent OnBeforeDrawSeries;
  TNotifyEvent OnAfterDraw;
  // May replace the text of a value label.
  std::function<void(const TCustomChartAxis&, double, std::string&)> OnGetAxisLabel;

  // ---- TChartLink -------------------------------------------------------------------
  void Invalidate() override;
  bool IsDestroying() const override { return destroying_; }
  TRect GetPlotRect() const override { return PlotRect(); }
  TCanvas3D* GetCanvas() const override;
  TChartAxis* AxisFor(THorizAxis which) const override;
  TChartAxis* AxisFor(TVertAxis which) const override;
  void GetAxisLabel(const TCustomChartAxis& axis, double value, std::string& text) override;
  TColor ChartColor() const override { return Color(); }

 protected:
  explicit TCustomAxisPanel(QWidget* parent = nullptr);

  void InternalDraw(const TRect& bounds) override;
  // Steps the chart class fills in.
  virtual void DrawTitlesAndLegend() {}
  virtual void DrawWalls() {}
  virtual void DrawZoomRectangleStep() {}

  // Teardown has begun: no invalidation reaches Qt any more.
  void BeginDestroy();

 private:
  void AdoptSeries(std::unique_ptr<TChartSeries> series);
  void LayoutAxes();
  void DrawAxes();
  void DrawSeries();

  std::vector<std::unique_ptr<TChartSeries>> series_;
  std::vector<std::unique_ptr<TChartAxis>> axes_;
  TChartAxis* bottomAxis_ = nullptr;
  TChartAxis* topAxis_ = nullptr;
  TChartAxis* leftAxis_ = nullptr;
  TChartAxis* rightAxis_ = nullptr;
  TChartDepthAxis* depthAxis_ = nullptr;

  bool axisVisible_ = true;
  bool clipPoints_ = true;
  bool view3DWalls_ = true;
  int maxPointsPerPage_ = 0;
  int page_ = 1;
  bool scaleLastPage_ = true;
  bool destroying_ = false;
};

class TCustomChart : public TCustomAxisPanel {
 public:
  explicit TCustomChart(QWidget* parent = nullptr);
  ~TCustomChart() override;

  TChartTitle& Title() { return *title_; }
  const TChartTitle& Title() const { return *title_; }
  TChartTitle& Foot() { return *foot_; }
  const TChartTitle& Foot() const { return *foot_; }
  TChartWall& BackWall() { return *backWall_; }
  const TChartWall& BackWall() const { return *backWall_; }
  TChartWall& LeftWall() { return *leftWall_; }
  const TChartWall& LeftWall() const { return *leftWall_; }
  TChartWall& BottomWall() { return *bottomWall_; }
  const TChartWall& BottomWall() const { return *bottomWall_; }
  TChartLegend& Legend() { return *legend_; }
  const TChartLegend& Legend() const { return *legend_; }

  // The plot's frame: the back wall's pen.
  TChartPen& Frame() { return backWall_->Pen(); }
  const TChartPen& Frame() const { return backWall_->Pen(); }
  // The back wall's colour. Setting it also makes the back wall brush solid
  // once the chart sits in a parent widget.
  TColor BackColor() const { return backWall_->Color(); }
  void SetBackColor(TColor v);

  // The zoom outline from the zoom record's corners, in not-XOR so that a
  // second drawing erases it.
  void DrawZoomRectangle();

  // ---- zoom, undo and panning ----------------------------------------------------
  // The range of one axis as it was before the first zoom or pan.
  struct TAxisScale {
    bool Automatic = true;
    bool AutomaticMinimum = true;
    bool AutomaticMaximum = true;
    double Minimum = 0;
    double Maximum = 0;
  };
  struct TSavedAxisScales {
    TAxisScale Top, Left, Right, Bottom;
  };
  const TSavedAxisScales& SavedAxisScales() const { return savedScales_; }
  // True while nothing is saved that an undo would bring back.
  bool ScalesRestored() const { return scalesRestored_; }

  // Percent above 100 narrows every axis around its middle, below 100 widens
  // it: each end moves by (Percent - 100) % of the span. Repaints at once.
  void ZoomCentred(double Percent);
  // Fixed ranges for the four axes, the scales before the first zoom kept for
  // UndoZoom.
  void ZoomToRanges(double topMin, double topMax, double bottomMin, double bottomMax, double leftMin,
                    double leftMax, double rightMin, double rightMax);
  // Zooms to the zoom record's rectangle (normalised first).
  void ZoomToRectangle();
  // Back to the scales before the first zoom or pan; nothing when none is
  // saved.
  void UndoZoom();
  // One wheel notch: every vertical axis moves by 3 % of its span, up for a
  // notch toward the user.
  void ScrollVerticalByWheel(bool Down);

  // The part of the chart under a client pixel, by the last drawing's layout;
  // for a series also the point hit, for an axis the axis.
  enum TChartClickedPart { cpNone, cpLegend, cpAxis, cpSeries, cpTitle, cpFoot, cpChartRect };
  struct TClickedPart {
    TChartSeries* ASeries = nullptr;
    int PointIndex = -1;
    TChartAxis* AAxis = nullptr;
  };
  TChartClickedPart CalcClickedPart(int x, int y, TClickedPart* where = nullptr);
  // Whether (x, y) falls on a drawn axis: along it over its pixel extent,
  // across it from its labels to 3 pixels inside the line.
  bool AxisClicked(const TCustomChartAxis& axis, int x, int y) const;

  // The mouse handlers the widget's events run (client pixels). Modifier
  // keys play no part in zooming or panning; the click notifications get them.
  void ChartMouseDown(Qt::MouseButton button, int x, int y, Qt::KeyboardModifiers shift = {});
  void ChartMouseMove(int x, int y);
  void ChartMouseUp(Qt::MouseButton button, int x, int y);
  // Wheel movement in eighths of a degree (120 a notch, positive away from
  // the user); parts of a notch add up over calls.
  void ChartMouseWheel(int delta);

  // ---- notifications ---------------------------------------------------------------
  // None is needed for zooming or panning to work; an unassigned one is
  // simply not called.
  using TChartNotify = std::function<void(TCustomChart& Sender)>;
  using TChartClick = std::function<void(TCustomChart& Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift,
                                         int X, int Y)>;
  TChartNotify OnZoom;      // after a zoom to new ranges (mouse rectangle or centred)
  TChartNotify OnUndoZoom;  // after an undo
  TChartNotify OnScroll;    // after a panning move that moved the view
  // Before panning moves an axis: the handler may change the new range or
  // refuse the move for that axis.
  std::function<void(TChartAxis& Axis, double& AMin, double& AMax, bool& AllowScroll)> OnAllowScroll;
  std::function<void(TCustomChart& Sender, TChartAxis& Axis, Qt::MouseButton Button, Qt::KeyboardModifiers Shift,
                     int X, int Y)>
      OnClickAxis;
  std::function<void(TCustomChart& Sender, TChartSeries& Series, int ValueIndex, Qt::MouseButton Button,
                     Qt::KeyboardModifiers Shift, int X, int Y)>
      OnClickSeries;
  TChartClick OnClickLegend;
  // A press on the plot rectangle or the margins around it.
  TChartClick OnClickBackground;

 protected:
  void DrawTitlesAndLegend() override;
  void DrawWalls() override;
  void DrawZoomRectangleStep() override;

  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void SaveScales();
  // A full drawing now when the chart is on screen, else at the next paint.
  void RepaintNow();
  // Shows the zoom outline at the record's corners: the outline is drawn
  // over a fresh image, never onto the window between paints.
  void ShowZoomOutline();

  TSavedAxisScales savedScales_;
  bool scalesRestored_ = true;
  int wheelAccumulator_ = 0;

  void DrawTitle(TChartTitle& title, bool isFoot);
  // Canvas pen and brush for a wall.
  void PrepareWallCanvas(const TChartWall& wall);

  // Declared so that they are freed title first, legend last.
  std::unique_ptr<TChartLegend> legend_;
  std::unique_ptr<TChartWall> leftWall_;
  std::unique_ptr<TChartWall> bottomWall_;
  std::unique_ptr<TChartWall> backWall_;
  std::unique_ptr<TChartTitle> foot_;
  std::unique_ptr<TChartTitle> title_;
};

// The chart the window places; it adds no behaviour.
class TChart : public TCustomChart {
 public:
  explicit TChart(QWidget* parent = nullptr) : TCustomChart(parent) {}
};

}  // namespace wg
