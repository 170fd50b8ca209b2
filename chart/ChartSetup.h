// The chart as the spectrum window shows it: white, no legend, the two-line
// title "FFT", the frequency axis below, the level axis fixed at -120 .. 25 dB
// and a red trace. The window, the chart tests and the chart benchmarks all
// set it up through these functions, so they all look at the same chart.
#pragma once

namespace wg {

// The level axis's fixed range, dB: where the window starts and a view reset returns.
inline constexpr double kLevelAxisMin = -120;
inline constexpr double kLevelAxisMax = 25;

class TChart;
class TCustomChartAxis;
class TFastLineSeries;

// The bottom axis: a one-pixel line ending at 97 % of the plot, shifted 2 %
// outwards, titled "Hz", scaling automatically until a scan range is set.
void ConfigureFrequencyAxis(TCustomChartAxis& axis);
// The left axis: fixed at -120 .. 25 dB, starting at 5 %, shifted 1 %
// outwards, a one-pixel line, titled "dB".
void ConfigureLevelAxis(TCustomChartAxis& axis);
// The chart without its series: colours, walls, title, legend, flat view and
// both axes.
void ConfigureSpectrumFrame(TChart& chart);
// The trace: red line and series colour, X ascending, Y unordered.
void ConfigureTraceSeries(TFastLineSeries& series);
// The whole chart as the window wants it, the series being the trace.
void ConfigureSpectrumChart(TChart& chart, TFastLineSeries& series);

}  // namespace wg
