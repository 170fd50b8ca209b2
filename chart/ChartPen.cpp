#include "chart/ChartPen.h"

namespace wg {

void TPen::SetColor(TColor v) {
  alternate_ = false;
  if (v == color_) return;
  color_ = v;
  Changed();
}
void TPen::SetWidth(int v) {
  alternate_ = false;
  if (v == width_) return;
  width_ = v;
  Changed();
}
void TPen::SetStyle(TPenStyle v) {
  alternate_ = false;
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TPen::SetMode(TPenMode v) {
  alternate_ = false;
  if (v == mode_) return;
  mode_ = v;
  Changed();
}
void TPen::Assign(const TPen& s) {
  alternate_ = s.alternate_;
  if (color_ == s.color_ && width_ == s.width_ && style_ == s.style_ && mode_ == s.mode_) return;
  color_ = s.color_;
  width_ = s.width_;
  style_ = s.style_;
  mode_ = s.mode_;
  Changed();
}

void TChartPen::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Changed();
}
void TChartPen::SetSmallDots(bool v) {
  if (v == smallDots_) return;
  smallDots_ = v;
  Changed();
}
void TChartPen::Assign(const TPen& s) {
  bool changed = color_ != s.Color() || width_ != s.Width() || style_ != s.Style() || mode_ != s.Mode();
  color_ = s.Color();
  width_ = s.Width();
  style_ = s.Style();
  mode_ = s.Mode();
  alternate_ = s.Alternate();
  if (auto* cp = dynamic_cast<const TChartPen*>(&s)) {
    changed = changed || visible_ != cp->visible_ || smallDots_ != cp->smallDots_;
    visible_ = cp->visible_;
    smallDots_ = cp->smallDots_;
  }
  if (changed) Changed();
}

TChartHiddenPen::TChartHiddenPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { visible_ = false; }
TDottedGrayPen::TDottedGrayPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) {
  color_ = clGray;
  style_ = psDot;
}
TDarkGrayPen::TDarkGrayPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { color_ = clGray; }
TChartAxisPen::TChartAxisPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { width_ = 2; }
TChartArrowPen::TChartArrowPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { color_ = clWhite; }

}  // namespace wg
