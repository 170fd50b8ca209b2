// The chart panel with series and axes: it owns the series and the five
// axes and runs the drawing pipeline of one paint; the chart class fills in
// the titles, walls and legend.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "chart/ChartAxis.h"
#include "chart/ChartLink.h"
#include "chart/ChartPanel.h"
#include "chart/ChartSeries.h"

namespace wg {

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

}  // namespace wg
