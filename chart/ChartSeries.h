// The series base class: the points (value lists, colours, labels), the data
// operations the sweep uses, and the drawing side that drawing classes
// override.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "chart/ChartColors.h"
#include "chart/ChartExceptions.h"
#include "chart/ChartLink.h"
#include "chart/ChartValueList.h"

namespace wg {

// The data side of a series. Drawing classes derive from it and override the
// virtual operations; the base draws nothing and finds no hits.
class TChartSeries {
 public:
  TChartSeries();
  virtual ~TChartSeries();

  TChartSeries(const TChartSeries&) = delete;
  TChartSeries& operator=(const TChartSeries&) = delete;

  TChartValueList& XValues() { return xValues_; }
  const TChartValueList& XValues() const { return xValues_; }
  TChartValueList& YValues() { return yValues_; }
  const TChartValueList& YValues() const { return yValues_; }
  // The list that every point must have a value in.
  virtual TChartValueList& MandatoryValueList() { return yValues_; }
  // Y values are the mandatory ones (the series is oriented with the X axis).
  virtual bool YMandatory() const { return true; }

  // --- data operations ---------------------------------------------------
  virtual int PointCount() const { return xValues_.Count(); }
  virtual void ClearPoints();
  // Adds one point where the X list's Order puts it and returns its index, or
  // -1 when OnBeforeAdd refuses. An empty label is stored as no label.
  virtual int AddPoint(double x, double y, const std::string& label = std::string(),
                       TColor color = clDefault);
  virtual void DeletePoint(int index);
  // Overwrite in place; the point keeps its index whatever the new value.
  void SetPointX(int index, double value) {
    xValues_.SetValueAt(index, value);
    RequestRedraw();
  }
  void SetPointY(int index, double value) {
    yValues_.SetValueAt(index, value);
    RequestRedraw();
  }

  // Replaces every point by `count` points at (x, y), no label, colour
  // `colour`, with one redraw request: the state ClearPoints() followed by
  // `count` AddPoint(x, y, "", colour) would leave. The points take no
  // storage and no time per point until they are first changed (a range
  // change must not hold the window); storage far larger than the new count
  // is given back. A negative count raises ChartException and changes
  // nothing. With add hooks installed the points are added one by one.
  void ResetPoints(int count, double x, double y, TColor colour);
  // Shows `points` as every point of the series, without a copy: the count,
  // colours and labels stay, point i reads points' X(i) and Y(i) (their last
  // point beyond their end), one redraw request. The series' own storage is
  // given back; the first change through the operations above copies the
  // points into new storage. Points with none to read raise ChartException
  // and change nothing.
  void ShowPoints(TSteppedPoints points);
  // The points shown, while they are; null when the series holds its own.
  const TSteppedPoints* ShownPoints() const {
    return xValues_.kind_ == TChartValueList::Kind::SteppedX ? &shown_ : nullptr;
  }
  // Overwrites X and Y of points 0 .. count-1 from the caller's buffers, read
  // with a stride in doubles (an interleaved {X, Y} array: x = &p[0].X,
  // y = &p[0].Y, stride 2), with one redraw request and no copy of the
  // buffers. A count beyond PointCount() raises the list-index error and
  // changes nothing.
  void ReplaceXY(int count, const double* x, const double* y, std::ptrdiff_t stride);

  virtual double PointX(int index) const { return xValues_.ValueAt(index); }
  virtual double PointY(int index) const { return yValues_.ValueAt(index); }
  virtual TColor PointColor(int index) const;
  virtual std::string PointLabel(int index) const;
  // True when any point carries a label: the label list is not empty and its
  // first entry is a text.
  bool HasLabelTexts() const;

  virtual double MinX() const { return xValues_.LowestValue(); }
  virtual double MaxX() const { return xValues_.HighestValue(); }
  virtual double MinY() const { return yValues_.LowestValue(); }
  virtual double MaxY() const { return yValues_.HighestValue(); }

  // Asks the owning chart to redraw later; nothing without a chart.
  void RequestRedraw() {
    if (parentChart_) parentChart_->Invalidate();
  }

  // --- properties ----------------------------------------------------------
  TColor SeriesColor() const { return seriesColor_; }
  virtual void SetSeriesColor(TColor c);
  bool ColorEachPoint() const { return colorEachPoint_; }
  virtual void SetColorEachPoint(bool b);
  bool Active() const { return active_; }
  virtual void SetActive(bool b);
  TChartLink* ParentChart() const { return parentChart_; }
  // Only links the series to the chart; the chart keeps its own series list.
  virtual void SetParentChart(TChartLink* chart) { parentChart_ = chart; }
  THorizAxis HorizAxis() const { return horizAxis_; }
  void SetHorizAxis(THorizAxis a);
  TVertAxis VertAxis() const { return vertAxis_; }
  void SetVertAxis(TVertAxis a);
  // Whether the series maps through this axis (either of a pair when both).
  bool AssociatedToAxis(const TCustomChartAxis& axis) const;
  // The chart's axes that this series maps through; null without a chart.
  TChartAxis* GetHorizAxis() const;
  TChartAxis* GetVertAxis() const;
  // Series without axes (pies and the like) would answer false.
  virtual bool UseAxis() const { return true; }

  // --- hooks for the owner ----------------------------------------------------
  std::function<bool(TChartSeries&)> OnBeforeAdd;       // false refuses the add
  std::function<void(TChartSeries&, int)> OnAfterAdd;  // with the new index
  std::function<void(TChartSeries&)> OnClearValues;

  // --- drawing side, overridden by drawing classes -------------------------------
  // First and last point to draw in this pass, -1 when none.
  int FirstVisible = -1;
  int LastVisible = -1;
  bool LimitToVisible = true;
  // Keep the first point at or beyond the right edge so a line reaches it.
  bool ReachesRightEdge = false;

  // Narrows FirstVisible..LastVisible to the points inside the horizontal
  // axis's range (linear searches over ascending X).
  virtual void CalcVisibleRange();
  // The series' whole share of a chart drawing pass: visible range, the
  // BeforeDrawValues hook, clip to PlotRect (when clipPoints), DrawPoints,
  // clip removed (also when the drawing throws), the AfterDrawValues hook.
  // Nothing at all, no hook either, when the series is inactive, has no
  // chart or no point is visible. Returns whether the points were drawn.
  bool DrawSeriesValues(bool clipPoints = true);
  // Called around the drawing of the values; the system installs none.
  std::function<void(TChartSeries&)> BeforeDrawValues;
  std::function<void(TChartSeries&)> AfterDrawValues;

  virtual void DrawPoints() {}
  virtual void DrawPoint(int /*index*/) {}
  // Point index under a pixel, -1 for none.
  virtual int HitTest(int /*x*/, int /*y*/) { return -1; }
  virtual int PointPixelX(int index) const;
  virtual int PointPixelY(int index) const;
  // Pixels a series wants kept free beyond its extreme values.
  virtual void CalcHorizMargins(int& left, int& right) const { left = right = 0; }
  virtual void CalcVerticalMargins(int& top, int& bottom) const { top = bottom = 0; }

  // --- storage introspection (benchmarks, tests) -------------------------------
  // Heap bytes held for the points, capacity included.
  std::size_t StorageBytes() const;

 protected:
  // The step after a point is stored: OnAfterAdd, then a redraw request when
  // active. A series that draws the new segment itself overrides it.
  virtual void AfterAdd(int index);
  // Empties the value lists, colours and labels (storage released).
  virtual void ClearValues();

 private:
  friend class TChartValueList;
  // Copies borrowed values (one for all points, or points shown) into the
  // lists' own storage, reusing a block kept for it.
  void OwnPoints();
  void CheckPointIndex(int index) const;
  // Label storage: sorted (index, text) pairs of the points that have a text.
  std::vector<std::pair<int, std::string>>::iterator LabelLowerBound(int index);
  std::vector<std::pair<int, std::string>>::const_iterator LabelLowerBound(int index) const;

  TChartValueList xValues_;
  TChartValueList yValues_;

  // Point colours. A sweep gives every point the same colour, so while all
  // points share one the per-point array stays empty.
  bool colorsUniform_ = true;
  TColor uniformColor_ = clDefault;
  std::vector<TColor> colors_;

  std::vector<std::pair<int, std::string>> labels_;

  // The blocks of a wider range kept after a change to a narrower one, until
  // a sweep of the narrower range is written: a user typing a range passes
  // wide and narrow ones in quick succession, and a fresh block of tens of
  // megabytes costs the window tens of milliseconds of page faults to fill.
  std::vector<double> spareX_, spareY_;
  void ReleaseSpare();
  // Own blocks that will not take `count` values are given back, or kept
  // as the spare when a wider range's.
  void SetAsideOwnBlocks(std::size_t count);
  TSteppedPoints shown_;

  TColor seriesColor_ = clDefault;
  bool colorEachPoint_ = false;
  bool active_ = true;
  TChartLink* parentChart_ = nullptr;
  THorizAxis horizAxis_ = aBottomAxis;
  TVertAxis vertAxis_ = aLeftAxis;
};

}  // namespace wg
