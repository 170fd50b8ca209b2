// Brushes of the chart: the platform brush and the chart brush of walls and
// titles.
#pragma once

#include "chart/ChartColors.h"
#include "chart/ChartPen.h"

namespace wg {

enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

// A platform brush: defaults clWhite, bsSolid.
class TBrush {
 public:
  explicit TBrush(TNotifyEvent onChange = {}) : OnChange(std::move(onChange)) {}
  TBrush(const TBrush&) = delete;
  TBrush& operator=(const TBrush&) = delete;
  virtual ~TBrush() = default;

  TColor Color() const { return color_; }
  TBrushStyle Style() const { return style_; }
  void SetColor(TColor v);
  void SetStyle(TBrushStyle v);
  void Assign(const TBrush& source);

  TNotifyEvent OnChange;

 protected:
  void Changed() {
    if (OnChange) OnChange();
  }
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

// Brush of walls and titles: colour clDefault (no fill colour of its own),
// style solid.
class TChartBrush : public TBrush {
 public:
  explicit TChartBrush(TNotifyEvent onChange = {});
};
}  // namespace wg
