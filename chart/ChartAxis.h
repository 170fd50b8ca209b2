// The axes of the chart.
//
// An axis turns values into pixels: it holds an automatic or fixed range,
// derives the range in effect from the series mapped through it, places
// itself inside the plotting rectangle, maps values to pixels and back, finds
// the label step and lists the label values. It also carries the settings its
// drawing uses and draws itself (ChartAxisDraw.cpp) when the chart asks.
//
// Axes and series reach their chart only through TChartLink, so that they can
// live (and be tested) without a chart window.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "chart/ChartAxisTitle.h"
#include "chart/ChartCanvas.h"
#include "chart/ChartExceptions.h"
#include "chart/ChartLink.h"

namespace wg {

enum TAxisLabelStyle { talAuto, talNone, talValue, talMark, talText };

class TCustomChartAxis {
 public:
  // horizontal: bottom and top axes; farSide: top and right axes.
  TCustomChartAxis(TChartLink* chart, bool horizontal, bool farSide, bool depth = false);
  virtual ~TCustomChartAxis();

  TCustomChartAxis(const TCustomChartAxis&) = delete;
  TCustomChartAxis& operator=(const TCustomChartAxis&) = delete;

  TChartLink* ParentChart() const { return chart_; }
  bool IsHorizontal() const { return horizontal_; }
  bool FarSide() const { return farSide_; }
  bool IsDepthAxis() const { return depth_; }

  // ---- range ---------------------------------------------------------------
  bool Automatic() const { return automatic_; }
  // Also sets AutomaticMinimum and AutomaticMaximum (not while loading).
  void SetAutomatic(bool b);
  bool AutomaticMinimum() const { return automaticMinimum_; }
  void SetAutomaticMinimum(bool b);
  bool AutomaticMaximum() const { return automaticMaximum_; }
  void SetAutomaticMaximum(bool b);
  double Minimum() const { return minimum_; }
  // AxisException when above Maximum (not while loading).
  void SetMinimum(double v);
  double Maximum() const { return maximum_; }
  // AxisException when below Minimum (not while loading).
  void SetMaximum(double v);
  // A fixed range in one step, with no bound checks: swaps reversed ends and
  // widens an empty range to 1e-10.
  void SetRange(double a, double b);

  double Increment() const { return increment_; }
  void SetIncrement(double v);
  bool Inverted() const { return inverted_; }
  void SetInverted(bool b);
  double StartPosition() const { return startPosition_; }
  void SetStartPosition(double v);
  double EndPosition() const { return endPosition_; }
  void SetEndPosition(double v);
  double PositionPercent() const { return positionPercent_; }
  void SetPositionPercent(double v);
  int LabelsSeparation() const { return labelsSeparation_; }
  void SetLabelsSeparation(int v);
  const std::string& AxisValuesFormat() const { return axisValuesFormat_; }
  void SetAxisValuesFormat(const std::string& v);
  bool RoundFirstLabel() const { return roundFirstLabel_; }
  void SetRoundFirstLabel(bool b);
  TAxisLabelStyle LabelStyle() const { return labelStyle_; }
  void SetLabelStyle(TAxisLabelStyle s);
  bool LabelsMultiLine() const { return labelsMultiLine_; }
  void SetLabelsMultiLine(bool b);

  // ---- drawing settings ---------------------------------------------------------
  bool Visible() const { return visible_; }
  void SetVisible(bool b);
  TChartAxisPen& Axis() { return axisPen_; }
  const TChartAxisPen& Axis() const { return axisPen_; }
  TDarkGrayPen& Ticks() { return ticks_; }
  const TDarkGrayPen& Ticks() const { return ticks_; }
  TDarkGrayPen& TicksInner() { return ticksInner_; }
  const TDarkGrayPen& TicksInner() const { return ticksInner_; }
  TDarkGrayPen& MinorTicks() { return minorTicks_; }
  const TDarkGrayPen& MinorTicks() const { return minorTicks_; }
  TDottedGrayPen& Grid() { return grid_; }
  const TDottedGrayPen& Grid() const { return grid_; }
  TChartHiddenPen& MinorGrid() { return minorGrid_; }
  const TChartHiddenPen& MinorGrid() const { return minorGrid_; }
  int TickLength() const { return tickLength_; }
  void SetTickLength(int v);
  int TickInnerLength() const { return tickInnerLength_; }
  void SetTickInnerLength(int v);
  int MinorTickLength() const { return minorTickLength_; }
  void SetMinorTickLength(int v);
  int MinorTickCount() const { return minorTickCount_; }
  void SetMinorTickCount(int v);
  bool GridCentered() const { return gridCentered_; }
  void SetGridCentered(bool b);
  bool Labels() const { return labels_; }
  void SetLabels(bool b);
  TFont& LabelsFont() { return labelsFont_; }
  const TFont& LabelsFont() const { return labelsFont_; }
  int LabelsAngle() const { return labelsAngle_; }
  // Degrees, 0 … 359; ChartException otherwise.
  void SetLabelsAngle(int v);
  bool LabelsOnAxis() const { return labelsOnAxis_; }
  void SetLabelsOnAxis(bool b);
  int LabelsSize() const { return labelsSize_; }
  void SetLabelsSize(int v);
  bool TickOnLabelsOnly() const { return tickOnLabelsOnly_; }
  void SetTickOnLabelsOnly(bool b);
  TChartAxisTitle& Title() { return title_; }
  const TChartAxisTitle& Title() const { return title_; }
  int TitleSize() const { return titleSize_; }
  void SetTitleSize(int v);

  // ---- working state of the current (or last) drawing ------------------------------
  double EffectiveMinimum = 0;
  double EffectiveMaximum = 0;
  double EffectiveRange = 0;
  int StartPixel = 0;
  int EndPixel = 0;
  int AxisLength = 0;
  int CenterPixel = 0;
  // Across the axis: the line, and the inner edges of the label and title bands.
  int LinePos = 0;
  int LabelBandPos = 0;
  int TitleBandPos = 0;

  // ---- layout steps (run by the chart's drawing) ----------------------------------
  // An automatic end takes the extreme value of the series on this axis; then
  // the effective range is the stored range.
  void UpdateEffectiveRange();
  // Extreme X (horizontal) or Y (vertical) value of the series mapped through
  // this axis; 0 when none holds a value.
  double SeriesMinimum() const;
  double SeriesMaximum() const;
  // StartPixel … EndPixel from the plotting rectangle and the positions.
  void UpdatePixelExtent();
  // Re-derives the effective range for an extent shrunk by a pixels before
  // and b after the axis, then restores the extent.
  void ShrinkByMargins(int a, int b);
  // The same with the margins the active series on this axis ask for, counted
  // only at automatic ends.
  void ApplySeriesMargins();

  // ---- mapping ----------------------------------------------------------------
  // Degenerate ranges and positions that do not fit an integer map to
  // CenterPixel.
  int ValueToPixel(double v) const;
  // 0 on an axis shorter than one pixel.
  double PixelToValue(int p) const;

  // ---- labels ---------------------------------------------------------------------
  // The label increment for the current extent and effective range. Measures
  // the end labels in LabelsFont on the chart's canvas.
  double LabelStep();
  // 1-2-5 progression: 1 → 2 → 5 → 10 → 20 …; 3 → 5, 7 → 10.
  static double NextLabelStep(double x);
  // Value labels from the top of the range down, for the increment inc. Empty
  // when inc is not positive, the range is reversed, or it would take 10000
  // labels or more.
  std::vector<double> LabelValues(double inc) const;
  // A value label: AxisValuesFormat, then the chart's label hook (unless
  // withHook is false), then line breaks for spaces when LabelsMultiLine.
  std::string LabelText(double v, bool withHook = true) const;
  // The label style after talAuto is resolved from the series on this axis.
  TAxisLabelStyle LabelStyleInEffect() const;

  // ---- text measurement on the chart's canvas (current canvas font) -------------------
  // Lines of a label or title text: parts between carriage returns, a
  // trailing empty part not counted ("" has none).
  static std::vector<std::string_view> TextLines(std::string_view text);
  // Width of the widest line; 0 without a canvas.
  int MaxLineWidth(std::string_view text) const;
  // The canvas font height; 0 without a canvas.
  int CanvasFontHeight() const;

  // ---- drawing (run by the chart's drawing) ------------------------------------------
  // The axis's share of the chart layout: takes the title, label and tick
  // bands off r's edge on the axis's side and records where the label and
  // title bands begin (moved by PositionPercent).
  void LayoutShare(TRect& r);
  // Draws title, labels, line, ticks, grid, inner ticks, minor ticks and minor
  // grid on the chart's canvas inside its plotting rectangle; sets LinePos and
  // the tick list.
  void Draw();
  // Width of the wider of the first and last value label, plus a space; the
  // chart's label hook is not consulted. 0 when the axis shows no labels.
  int WidestLabel();
  // Pixel positions of the labelled ticks of the last Draw, largest value
  // first; at most kMaxTicks.
  const std::vector<int>& TickPositions() const { return tickList_; }
  static constexpr std::size_t kMaxTicks = 2000;

  // Band sizes across the axis: TitleSize or LabelsSize when set, else
  // measured on the canvas in the title font or LabelsFont.
  int TitleBandSize();
  int LabelsBandSize();
  // Axis line width (when shown) plus TickLength (when ticks are shown), or
  // MinorTickLength when longer and minor ticks are shown.
  int TickBandSize() const;
  // p moved across the axis by PositionPercent of r's size across it.
  int Shift(int p, const TRect& r) const;

 protected:
  // Store-and-invalidate for the plain properties.
  template <typename T>
  void Set(T& field, const T& value) {
    if (field == value) return;
    field = value;
    InvalidateChart();
  }
  void InvalidateChart();
  bool Loading() const;
  TCanvas3D* Canvas() const;
  // Label size along the axis for the step search.
  int LabelSizeForStep();

  // Drawing steps.
  void ShrinkSide(TRect& r, int k) const;
  int SideEdge(const TRect& r) const;
  void AddTick(int p);
  void DrawTitle();
  void DrawLabel(int p, const std::string& text);
  // Places a (multi-line) text at (x, y) for this axis's side and angle a.
  void PlaceText(int x, int y, int a, std::string_view text);
  void DrawTick(int p, int s, int k);
  void DrawGridLine(int p);
  void DrawGrid();
  // Minor tick or minor grid positions between and beyond the labelled ticks.
  template <typename F>
  void ForEachMinor(F&& f) const;

 private:
  TChartLink* chart_;
  bool horizontal_;
  bool farSide_;
  bool depth_;

  bool automatic_ = true;
  bool automaticMinimum_ = true;
  bool automaticMaximum_ = true;
  double minimum_ = 0;
  double maximum_ = 0;
  double increment_ = 0;
  bool inverted_ = false;
  double startPosition_ = 0;
  double endPosition_ = 100;
  double positionPercent_ = 0;
  int labelsSeparation_ = 10;
  std::string axisValuesFormat_ = "#,##0.###";
  bool roundFirstLabel_ = true;
  TAxisLabelStyle labelStyle_ = talAuto;
  bool labelsMultiLine_ = false;

  bool visible_ = true;
  TChartAxisPen axisPen_;
  TDarkGrayPen ticks_;
  TDarkGrayPen ticksInner_;
  TDarkGrayPen minorTicks_;
  TDottedGrayPen grid_;
  TChartHiddenPen minorGrid_;
  int tickLength_ = 4;
  int tickInnerLength_ = 0;
  int minorTickLength_ = 2;
  int minorTickCount_ = 3;
  bool gridCentered_ = false;
  bool labels_ = true;
  TFont labelsFont_;
  int labelsAngle_ = 0;
  bool labelsOnAxis_ = true;
  int labelsSize_ = 0;
  bool tickOnLabelsOnly_ = true;
  TChartAxisTitle title_;
  int titleSize_ = 0;

  std::vector<int> tickList_;
};

class TChartAxis : public TCustomChartAxis {
 public:
  using TCustomChartAxis::TCustomChartAxis;
};

// The axis across the depth of a 3-D view; hidden in a flat chart.
class TChartDepthAxis : public TChartAxis {
 public:
  explicit TChartDepthAxis(TChartLink* chart);
};

}  // namespace wg
