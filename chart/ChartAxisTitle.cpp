#include "chart/ChartAxisTitle.h"

#include <string>

#include "chart/ChartExceptions.h"

namespace wg {

namespace {

void CheckAngle(int v, const char* what) {
  if (v < 0 || v > 359)
    throw ChartException(std::string(what) + " Angle must be between 0 and 359 degrees");
}

}  // namespace

// ---------------------------------------------------------------------------
// TChartAxisTitle

TChartAxisTitle::TChartAxisTitle(TNotifyEvent onChange, int defaultAngle)
    : onChange_(std::move(onChange)),
      defaultAngle_(defaultAngle),
      angle_(defaultAngle),
      font_(DefaultChartFont()) {
  font_.OnChange = onChange_;
}

void TChartAxisTitle::SetCaption(const std::string& v) {
  if (v == caption_) return;
  caption_ = v;
  if (onChange_) onChange_();
}

void TChartAxisTitle::SetAngle(int v) {
  CheckAngle(v, "Axis Title");
  if (v == angle_) return;
  angle_ = v;
  if (onChange_) onChange_();
}


}  // namespace wg
