// What axes and series need from the chart they belong to, and which of its
// axes a series maps through.
#pragma once

#include <string>

#include "chart/ChartCanvas.h"

namespace wg {

class TChartSeries;
class TChartAxis;
class TCustomChartAxis;

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

}  // namespace wg
