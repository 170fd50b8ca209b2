// The chart as the main window sets it up, at a given size; the frequency
// range is left to the caller.
#pragma once

#include "chart/Chart.h"
#include "chart/ChartSetup.h"

namespace wgtest {

inline void SetUpLikeTheWindow(wg::TChart& chart, int w, int h) {
  chart.resize(w, h);
  wg::ConfigureSpectrumFrame(chart);
}

}  // namespace wgtest
