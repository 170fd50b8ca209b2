// A wall of the plot: the back wall is the plot's frame and fill.
#pragma once

#include "chart/ChartBrush.h"
#include "chart/ChartPanel.h"
#include "chart/ChartPen.h"

namespace wg {

class TChartWall {
 public:
  explicit TChartWall(TCustomChartPanel* chart);
  TChartWall(const TChartWall&) = delete;
  TChartWall& operator=(const TChartWall&) = delete;

  TColor Color() const { return color_; }
  void SetColor(TColor v) { chart_->SetColorProperty(color_, v); }
  // The colour the wall was created with.
  TColor DefaultColor() const { return defaultColor_; }
  void SetDefaultColor(TColor v) { defaultColor_ = v; }
  TChartBrush& Brush() { return brush_; }
  const TChartBrush& Brush() const { return brush_; }
  TChartPen& Pen() { return pen_; }
  const TChartPen& Pen() const { return pen_; }
  bool Dark3D() const { return dark3D_; }
  void SetDark3D(bool v) { chart_->SetBooleanProperty(dark3D_, v); }
  int Size() const { return size_; }
  void SetSize(int v) { chart_->SetIntegerProperty(size_, v); }

 private:
  TCustomChartPanel* chart_;
  TColor color_ = clDefault;
  TColor defaultColor_ = clDefault;
  TChartBrush brush_;
  TChartPen pen_;
  bool dark3D_ = true;
  int size_ = 0;
};

}  // namespace wg
