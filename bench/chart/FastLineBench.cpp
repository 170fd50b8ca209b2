// Drawing of the spectrum trace by the fast line series: the fast path
// (precomputed mapping, one span per pixel column) against the per-point
// reference walk, on the same data, plot and canvas.
//   - 19,200 points (138–153 MHz in 781.25 Hz bins) into a 580 x 326 chart;
//   - 2,000,000 points (a 24 MHz upward survey) into a 1920 x 1080 chart.
#include <QImage>
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "chart/FastLineSeries.h"
#include "chart/ImageCanvas.h"

namespace {

class BenchChart : public wg::TChartLink {
 public:
  BenchChart() : bottom(this, true, false), left(this, false, false) {
    series.SetParentChart(this);
    series.SetSeriesColor(wg::clRed);
    bottom.SetEndPosition(97);
    left.SetStartPosition(5);
  }
  void Invalidate() override {}
  int SeriesCount() const override { return 1; }
  wg::TChartSeries* Series(int) const override { return const_cast<wg::TFastLineSeries*>(&series); }
  wg::TRect GetPlotRect() const override { return plot; }
  wg::TCanvas3D* GetCanvas() const override { return const_cast<wg::TChartCanvas3D*>(&canvas); }
  wg::TChartAxis* AxisFor(wg::THorizAxis) const override { return const_cast<wg::TChartAxis*>(&bottom); }
  wg::TChartAxis* AxisFor(wg::TVertAxis) const override { return const_cast<wg::TChartAxis*>(&left); }

  wg::TChartAxis bottom;
  wg::TChartAxis left;
  wg::TFastLineSeries series;
  wg::TChartCanvas3D canvas;
  wg::TRect plot;
};

// A sweep's trace: noise floor near -95 dB with a handful of carriers.
void Fill(wg::TFastLineSeries& s, double startHz, int points) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 3.0);
  const double bin = 3200000.0 / 4096;
  const double span = bin * points;
  s.ClearPoints();
  for (int i = 0; i < points; ++i) {
    const double f = startHz + bin * i;
    double level = -95 + noise(rng);
    for (double at : {0.11, 0.37, 0.52, 0.8}) {
      const double d = (f - (startHz + at * span)) / 25000.0;
      level += 65 * std::exp(-d * d);
    }
    s.AddPoint(f, level);
  }
}

void DrawTrace(benchmark::State& state, int w, int h, wg::TRect plot, double startHz, int points, bool fast) {
  BenchChart chart;
  chart.plot = plot;
  Fill(chart.series, startHz, points);
  chart.bottom.SetRange(startHz, startHz + 3200000.0 / 4096 * points);
  chart.left.SetRange(-120, 25);
  for (wg::TChartAxis* a : {&chart.bottom, &chart.left}) {
    a->UpdateEffectiveRange();
    a->UpdatePixelExtent();
  }
  chart.canvas.BeginFrame(nullptr, nullptr, {0, 0, w, h}, false);
  chart.canvas.Brush().SetColor(wg::clWhite);
  chart.canvas.FillRect({0, 0, w, h});
  chart.canvas.ClipToPlotArea(plot);
  chart.series.FastDrawing = fast;
  chart.series.CalcVisibleRange();
  for (auto _ : state) {
    chart.series.DrawPoints();
    benchmark::DoNotOptimize(chart.canvas.Image().constBits());
  }
  if (chart.series.LastDrawFast() != fast) state.SkipWithError("the intended path was not taken");
  chart.canvas.RemoveClip();
  chart.canvas.PresentFrame(nullptr, nullptr, {0, 0, w, h});
  state.SetItemsProcessed(state.iterations() * (chart.series.LastVisible - chart.series.FirstVisible + 1));
}

// The form's chart: plotting rectangle after titles and axes.
constexpr wg::TRect kSmallPlot{96, 46, 563, 280};
constexpr wg::TRect kLargePlot{110, 50, 1880, 1000};

void BM_FastLine_19200_580x326_Fast(benchmark::State& s) { DrawTrace(s, 580, 326, kSmallPlot, 138000000, 19200, true); }
void BM_FastLine_19200_580x326_Reference(benchmark::State& s) {
  DrawTrace(s, 580, 326, kSmallPlot, 138000000, 19200, false);
}
void BM_FastLine_2M_1920x1080_Fast(benchmark::State& s) {
  DrawTrace(s, 1920, 1080, kLargePlot, 24000000, 2000000, true);
}
void BM_FastLine_2M_1920x1080_Reference(benchmark::State& s) {
  DrawTrace(s, 1920, 1080, kLargePlot, 24000000, 2000000, false);
}
// Zoomed in on the top 2 % of the survey: the visible-range search walks
// past 1,960,000 points first, then draws about 40,000.
void BM_FastLine_2M_ZoomedTop_DrawSeriesValues(benchmark::State& state) {
  BenchChart chart;
  chart.plot = kLargePlot;
  Fill(chart.series, 24000000, 2000000);
  const double stop = 24000000 + 3200000.0 / 4096 * 2000000;
  chart.bottom.SetRange(stop - (stop - 24000000) * 0.02, stop);
  chart.left.SetRange(-120, 25);
  for (wg::TChartAxis* a : {&chart.bottom, &chart.left}) {
    a->UpdateEffectiveRange();
    a->UpdatePixelExtent();
  }
  chart.canvas.BeginFrame(nullptr, nullptr, {0, 0, 1920, 1080}, false);
  for (auto _ : state) {
    chart.series.DrawSeriesValues(true);
    benchmark::DoNotOptimize(chart.canvas.Image().constBits());
  }
  chart.canvas.PresentFrame(nullptr, nullptr, {0, 0, 1920, 1080});
}

BENCHMARK(BM_FastLine_19200_580x326_Fast)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FastLine_19200_580x326_Reference)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FastLine_2M_1920x1080_Fast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastLine_2M_1920x1080_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastLine_2M_ZoomedTop_DrawSeriesValues)->Unit(benchmark::kMillisecond);

}  // namespace
