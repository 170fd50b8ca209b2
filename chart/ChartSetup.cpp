#include "chart/ChartSetup.h"

#include "chart/Chart.h"
#include "chart/FastLineSeries.h"

namespace wg {

void ConfigureFrequencyAxis(TCustomChartAxis& axis) {
  axis.Axis().SetWidth(1);
  axis.SetEndPosition(97);
  axis.SetPositionPercent(-2);
  axis.Title().SetCaption("Hz");
  axis.SetAutomatic(true);
}

void ConfigureLevelAxis(TCustomChartAxis& axis) {
  axis.SetAutomatic(false);
  axis.SetAutomaticMaximum(false);
  axis.SetAutomaticMinimum(false);
  axis.SetMaximum(kLevelAxisMax);
  axis.SetMinimum(kLevelAxisMin);
  axis.SetStartPosition(5);
  axis.SetPositionPercent(-1);
  axis.Axis().SetWidth(1);
  axis.Title().SetCaption("dB");
}

void ConfigureSpectrumFrame(TChart& chart) {
  chart.SetColor(clWhite);
  chart.BackWall().Brush().SetColor(clWhite);
  chart.BackWall().Brush().SetStyle(bsClear);
  chart.Title().SetText({"FFT", ""});
  chart.Legend().SetVisible(false);
  chart.SetView3D(false);
  ConfigureFrequencyAxis(*chart.BottomAxis());
  ConfigureLevelAxis(*chart.LeftAxis());
}

void ConfigureTraceSeries(TFastLineSeries& series) {
  series.SetSeriesColor(clRed);
  series.LinePen().SetColor(clRed);
  series.XValues().SetName("X");
  series.XValues().SetMultiplier(1.0);
  series.XValues().SetOrder(loAscending);
  series.YValues().SetName("Y");
  series.YValues().SetMultiplier(1.0);
  series.YValues().SetOrder(loNone);
}

void ConfigureSpectrumChart(TChart& chart, TFastLineSeries& series) {
  ConfigureSpectrumFrame(chart);
  ConfigureTraceSeries(series);
}

}  // namespace wg
