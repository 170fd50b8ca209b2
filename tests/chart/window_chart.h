// The chart as the main window sets it up: white, no legend, the two-line
// title, the frequency axis below and the level axis fixed at -120 .. 25 dB.
// The frequency range is left to the caller.
#pragma once

#include "Chart.h"

namespace wgtest {

inline void SetUpLikeTheWindow(wg::TChart& chart, int w, int h) {
  chart.resize(w, h);
  chart.SetView3D(false);
  chart.Legend().SetVisible(false);
  chart.Title().SetText({"FFT", ""});
  chart.BackWall().Brush().SetColor(wg::clWhite);
  chart.BackWall().Brush().SetStyle(wg::bsClear);
  chart.SetColor(wg::clWhite);
  wg::TChartAxis* b = chart.BottomAxis();
  b->Axis().SetWidth(1);
  b->SetEndPosition(97);
  b->SetPositionPercent(-2);
  b->Title().SetCaption("Hz");
  wg::TChartAxis* l = chart.LeftAxis();
  l->SetAutomatic(false);
  l->SetMaximum(25);
  l->SetMinimum(-120);
  l->SetStartPosition(5);
  l->SetPositionPercent(-1);
  l->Axis().SetWidth(1);
  l->Title().SetCaption("dB");
}

}  // namespace wgtest
