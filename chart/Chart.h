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

#include "chart/ChartAxis.h"
#include "chart/ChartLegend.h"
#include "chart/ChartSeries.h"
#include "chart/ChartTitle.h"
#include "chart/ChartWall.h"
#include "chart/CustomAxisPanel.h"

class QMouseEvent;
class QWheelEvent;

namespace wg {

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
