#include "chart/ChartWall.h"

namespace wg {

TChartWall::TChartWall(TCustomChartPanel* chart) : chart_(chart) {
  brush_.OnChange = [this] { chart_->Invalidate(); };
  pen_.OnChange = [this] { chart_->Invalidate(); };
}

}  // namespace wg
