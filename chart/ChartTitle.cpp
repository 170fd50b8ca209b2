#include "chart/ChartTitle.h"

#include <utility>

namespace wg {

// ---------------------------------------------------------------------------
// Titles, walls

TChartFontObject::TChartFontObject(TCustomChartPanel* chart) : chart_(chart), font_(DefaultChartFont()) {
  font_.OnChange = [this] { chart_->Invalidate(); };
}

TChartTitle::TChartTitle(TCustomChartPanel* chart) : TChartFontObject(chart) {
  font_.OnChange = {};
  font_.SetColor(clBlue);
  font_.OnChange = [this] { chart_->Invalidate(); };
  brush_.OnChange = [this] { chart_->Invalidate(); };
  frame_.OnChange = [this] { chart_->Invalidate(); };
}

void TChartTitle::SetText(std::vector<std::string> lines) {
  if (lines == text_) return;
  text_ = std::move(lines);
  chart_->Invalidate();
}

void TChartTitle::SetAlignment(TAlignment v) {
  if (v == alignment_) return;
  alignment_ = v;
  chart_->Invalidate();
}

}  // namespace wg
