// The title of an axis: caption, angle and font.
#pragma once

#include <string>

#include "chart/ChartFont.h"
#include "chart/ChartPen.h"

namespace wg {

class TChartAxisTitle {
 public:
  TChartAxisTitle(TNotifyEvent onChange, int defaultAngle);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& v);
  int Angle() const { return angle_; }
  // Degrees, 0 … 359; ChartException otherwise.
  void SetAngle(int v);
  int DefaultAngle() const { return defaultAngle_; }
  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }

 private:
  TNotifyEvent onChange_;
  std::string caption_;
  int defaultAngle_;
  int angle_;
  TFont font_;
};

}  // namespace wg
