// The chart's legend, which keeps only its visibility.
#pragma once

#include "chart/ChartPanel.h"

namespace wg {

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

}  // namespace wg
