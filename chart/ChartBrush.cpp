#include "chart/ChartBrush.h"

namespace wg {

void TBrush::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed();
}
void TBrush::SetStyle(TBrushStyle v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TBrush::Assign(const TBrush& s) {
  if (color_ == s.color_ && style_ == s.style_) return;
  color_ = s.color_;
  style_ = s.style_;
  Changed();
}

TChartBrush::TChartBrush(TNotifyEvent onChange) : TBrush(std::move(onChange)) { color_ = clDefault; }

}  // namespace wg
