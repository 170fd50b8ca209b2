// Series value storage: the per-coordinate value lists and the data side of
// the series base class.
//
// Storage is one contiguous array per coordinate. A sweep overwrites every
// value by index after each pass, so the lists are built for cheap in-place
// writes and cheap lazy statistics rather than for cheap insertion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ChartCanvas.h"
#include "ChartExceptions.h"

namespace wg {

class TChartSeries;
class TChartAxis;
class TCustomChartAxis;
class TChartLink;

enum TChartListOrder { loNone, loAscending, loDescending };

// Which of the chart's axes a series maps its X and Y values through.
enum THorizAxis { aTopAxis, aBottomAxis, aBothHorizAxis };
enum TVertAxis { aLeftAxis, aRightAxis, aBothVertAxis };

// What axes and series need from the chart they belong to. The chart panel
// implements it; tests implement it with a fake.
class TChartLink {
 public:
  virtual ~TChartLink() = default;

  // Marks the chart's image stale and asks for a repaint later; nothing is
  // drawn here. A chart under construction ignores it.
  virtual void Invalidate() = 0;
  // A repaint as soon as possible; an invalidation serves where the toolkit
  // does not paint synchronously.
  virtual void Repaint() { Invalidate(); }
  // True while the chart takes its settings from a stored form: bound checks
  // and flag mirroring of the axes are off then.
  virtual bool IsLoading() const { return false; }
  // True while the chart is being torn down; clearing series then asks for
  // no redraw.
  virtual bool IsDestroying() const { return false; }

  // The chart's series, in drawing order.
  virtual int SeriesCount() const = 0;
  virtual TChartSeries* Series(int index) const = 0;

  // The plotting rectangle of the current (or last) drawing.
  virtual TRect GetPlotRect() const = 0;
  // The canvas that measures and draws text; null when there is none, and
  // every text then measures 0.
  virtual TCanvas3D* GetCanvas() const = 0;

  // The chart's axis for a series' axis choice (the first of a pair for
  // "both"); null when the chart has no such axis.
  virtual TChartAxis* AxisFor(THorizAxis which) const = 0;
  virtual TChartAxis* AxisFor(TVertAxis which) const = 0;

  // The chart's label hook: may replace the text of a value label.
  virtual void GetAxisLabel(const TCustomChartAxis& /*axis*/, double /*value*/, std::string& /*text*/) {}

  // The chart's own colour: axis labels and titles are drawn over it.
  virtual TColor ChartColor() const { return clWhite; }
};

// One coordinate (X or Y) of every point of a series.
class TChartValueList {
 public:
  TChartValueList(TChartSeries* owner, std::string name);

  TChartValueList(const TChartValueList&) = delete;
  TChartValueList& operator=(const TChartValueList&) = delete;

  TChartSeries* Owner() const { return owner_; }

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // A factor applied when a value is read; stored values never change with it.
  double Multiplier() const { return multiplier_; }
  void SetMultiplier(double m);

  // Governs where later adds go; existing values are not re-sorted.
  TChartListOrder Order() const { return order_; }
  void SetOrder(TChartListOrder o) { order_ = o; }

  bool DateTime() const { return dateTime_; }
  void SetDateTime(bool b) { dateTime_ = b; }
  const std::string& ValueSource() const { return valueSource_; }
  void SetValueSource(std::string s) { valueSource_ = std::move(s); }

  // Copies Order, DateTime, Multiplier and ValueSource (not the values).
  void AssignSettings(const TChartValueList& other);

  int Count() const { return static_cast<int>(values_.size()); }
  // Stored value times Multiplier. Throws EListError outside 0 .. Count-1.
  double ValueAt(int index) const {
    CheckIndex(index);
    return Read(static_cast<std::size_t>(index));
  }
  double LastValue() const { return ValueAt(Count() - 1); }
  // Overwrites the stored value in place: no reordering, no redraw request.
  void SetValueAt(int index, double value) {
    CheckIndex(index);
    values_[static_cast<std::size_t>(index)] = value;
    statsStale_ = true;
  }
  // Accepts 0 .. Count; later values move up by one.
  void InsertAt(int index, double value);
  // Inserts where Order says: after every equal value, searching from the end.
  int AddOrdered(double value);
  void RemoveAt(int index);
  // Removes every value and gives the storage back.
  void RemoveAll();

  // Statistics of the values as read, recomputed on the first read after a
  // change. NaN values (gaps) are left out; all 0 when no value is left.
  double LowestValue() const;
  double HighestValue() const;
  double ValueSum() const;
  double AbsoluteValueSum() const;
  bool StatsStale() const { return statsStale_; }
  // How many values the statistics took in (every value but the NaNs).
  int CountedValues() const;

  // Stored values (without Multiplier), for readers that walk the whole list.
  const std::vector<double>& Values() const { return values_; }
  std::size_t Capacity() const { return values_.capacity(); }

 private:
  friend class TChartSeries;

  double Read(std::size_t i) const {
    // The product is formed in extended precision and then rounded once to a
    // double, which is not always what a plain double product gives.
    if (multiplier_ == 1.0) return values_[i];
    return static_cast<double>(static_cast<long double>(values_[i]) * multiplier_);
  }
  void CheckIndex(int index) const {
    if (index < 0 || index >= Count()) ThrowListIndexError(index);
  }
  // Index AddOrdered would use, without inserting.
  int OrderedPlace(double value) const;
  // Room for one more value; growth by half keeps a large list's slack small.
  void ReserveOne();
  void Recompute() const;

  TChartSeries* owner_;
  std::string name_;
  double multiplier_ = 1.0;
  TChartListOrder order_ = loNone;
  bool dateTime_ = false;
  std::string valueSource_;
  std::vector<double> values_;

  mutable bool statsStale_ = true;
  mutable double lowest_ = 0, highest_ = 0, sum_ = 0, absSum_ = 0;
  mutable int counted_ = 0;
};

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
  // `count` AddPoint(x, y, "", colour) would leave. Storage far larger than
  // the new count is given back. A negative count raises ChartException and
  // changes nothing.
  void ResetPoints(int count, double x, double y, TColor colour);
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

  TColor seriesColor_ = clDefault;
  bool colorEachPoint_ = false;
  bool active_ = true;
  TChartLink* parentChart_ = nullptr;
  THorizAxis horizAxis_ = aBottomAxis;
  TVertAxis vertAxis_ = aLeftAxis;
};

}  // namespace wg
