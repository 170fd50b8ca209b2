// Handing a finished sweep to the chart's series, and preparing the series
// for a new scan range.
//
// Hand-over: the sweep shown where it lies (ShowPoints, what the window
// does), against the sweep's interleaved {X, Y} points copied into the
// series' own lists by ReplaceXY (what it did before), QCustomPlot's
// QCPGraph::setData from key and value vectors (prepared outside the timing,
// which favours the peer), and the per-point SetPointX / SetPointY
// publication, at the default range (19,200 points), a 24-1766 MHz survey
// (2,000,000) and the widest range (5,120,000).
//
// Preparation: ResetPoints to the widest range the editors allow
// (0.1-4000 MHz, 5,120,000 points) from the default range's 19,200, as the
// window does it (no storage until a point changes), against the same points
// made in storage (what it did before) and ClearPoints followed by one
// AddPoint per point.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "chart/ChartSeries.h"
#include "chart/SteppedPoints.h"

#if __has_include(<qcustomplot.h>)
#include <qcustomplot.h>
#define WG_HAVE_QCP 1
#endif

using namespace wg;

namespace {

constexpr int kWidest = 5120000;
constexpr int kDefault = 19200;

// A chart that only takes note of redraw requests, as the real one does.
class NoteChart : public TChartLink {
 public:
  void Invalidate() override { ++requests; }
  int SeriesCount() const override { return 0; }
  TChartSeries* Series(int) const override { return nullptr; }
  TRect GetPlotRect() const override { return {}; }
  TCanvas3D* GetCanvas() const override { return nullptr; }
  TChartAxis* AxisFor(THorizAxis) const override { return nullptr; }
  TChartAxis* AxisFor(TVertAxis) const override { return nullptr; }
  long requests = 0;
};

// The sweep's point list: frequency and level side by side.
struct SpectrumPoint {
  double X, Y;
};

std::vector<SpectrumPoint> MakeSweep(int n) {
  std::vector<SpectrumPoint> s(static_cast<std::size_t>(n));
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(-90, 6);
  for (int i = 0; i < n; ++i) s[static_cast<std::size_t>(i)] = {24000000.0 + 781.25 * i, noise(rng)};
  return s;
}

void BM_HandOver_ReplaceXY(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<SpectrumPoint> sweep = MakeSweep(n);
  NoteChart chart;
  TChartSeries series;
  series.SetParentChart(&chart);
  series.ResetPoints(n, 0, 0, 255);
  for (auto _ : state) {
    series.ReplaceXY(n, &sweep[0].X, &sweep[0].Y, 2);
    benchmark::DoNotOptimize(series.YValues().Values().data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HandOver_ReplaceXY)->Arg(19200)->Arg(2000000)->Arg(kWidest)->Unit(benchmark::kMicrosecond);

void BM_HandOver_ShowPoints(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto starts = std::make_shared<std::vector<int64_t>>();
  for (int k = 0; k * 4096 < n; ++k) starts->push_back(24000000 + 3200000LL * k);
  const std::vector<float> levels(starts->size() * 4096, -90.0f);
  NoteChart chart;
  TChartSeries series;
  series.SetParentChart(&chart);
  series.ResetPoints(n, 0, 0, 255);
  for (auto _ : state) {
    series.ShowPoints({starts, starts->data(), starts->size(), 4096, 781.25, levels.data()});
    benchmark::DoNotOptimize(series.ShownPoints());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HandOver_ShowPoints)->Arg(19200)->Arg(2000000)->Arg(kWidest)->Unit(benchmark::kMicrosecond);

void BM_HandOver_SetPointByIndex(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<SpectrumPoint> sweep = MakeSweep(n);
  NoteChart chart;
  TChartSeries series;
  series.SetParentChart(&chart);
  series.ResetPoints(n, 0, 0, 255);
  for (auto _ : state) {
    for (int i = 0; i < series.PointCount(); ++i) {
      series.SetPointX(i, sweep[static_cast<std::size_t>(i)].X);
      series.SetPointY(i, sweep[static_cast<std::size_t>(i)].Y);
    }
    benchmark::DoNotOptimize(series.YValues().Values().data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HandOver_SetPointByIndex)->Arg(19200)->Arg(2000000)->Unit(benchmark::kMicrosecond);

#ifdef WG_HAVE_QCP
void BM_HandOver_QCPSetData(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<SpectrumPoint> sweep = MakeSweep(n);
  QVector<double> keys(n), values(n);
  for (int i = 0; i < n; ++i) {
    keys[i] = sweep[static_cast<std::size_t>(i)].X;
    values[i] = sweep[static_cast<std::size_t>(i)].Y;
  }
  QCustomPlot plot;
  QCPGraph* graph = plot.addGraph();
  graph->setData(keys, values, true);
  for (auto _ : state) {
    graph->setData(keys, values, true);
    benchmark::DoNotOptimize(&*graph->data()->constBegin());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_HandOver_QCPSetData)->Arg(19200)->Arg(2000000)->Unit(benchmark::kMicrosecond);
#endif

// ---------------------------------------------------------------------------
// Preparing the widest range

// As the window prepares the series, or with the points made in storage at
// once (what it did before), read whole after the preparation.
void Prepare(benchmark::State& state, bool inStorage) {
  NoteChart chart;
  TChartSeries series;
  series.SetParentChart(&chart);
  for (auto _ : state) {
    state.PauseTiming();
    series.ResetPoints(kDefault, 0, 0, 255);
    if (inStorage) series.XValues().Values();
    state.ResumeTiming();
    series.ResetPoints(kWidest, 0, 0, 255);
    if (inStorage) benchmark::DoNotOptimize(series.XValues().Values().data());
    benchmark::DoNotOptimize(series.PointX(kWidest - 1));
  }
  state.counters["points"] = kWidest;
}
void BM_Prepare_ResetPoints(benchmark::State& state) { Prepare(state, false); }
void BM_Prepare_InStorage(benchmark::State& state) { Prepare(state, true); }
BENCHMARK(BM_Prepare_ResetPoints)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Prepare_InStorage)->Unit(benchmark::kMillisecond);

void BM_Prepare_ClearAndAdd(benchmark::State& state) {
  NoteChart chart;
  TChartSeries series;
  series.SetParentChart(&chart);
  for (auto _ : state) {
    state.PauseTiming();
    series.ResetPoints(kDefault, 0, 0, 255);
    state.ResumeTiming();
    series.ClearPoints();
    for (int i = 0; i < kWidest; ++i) series.AddPoint(0, 0, "", 255);
    benchmark::DoNotOptimize(series.XValues().Values().data());
  }
  state.counters["points"] = kWidest;
}
BENCHMARK(BM_Prepare_ClearAndAdd)->Unit(benchmark::kMillisecond);

// Back from the widest range to the default one: what the series keeps.
void BM_Prepare_ReturnToDefault(benchmark::State& state) {
  NoteChart chart;
  TChartSeries series;
  series.SetParentChart(&chart);
  for (auto _ : state) {
    state.PauseTiming();
    series.ResetPoints(kWidest, 0, 0, 255);
    state.ResumeTiming();
    series.ResetPoints(kDefault, 0, 0, 255);
    benchmark::DoNotOptimize(series.PointX(kDefault - 1));
  }
  state.counters["held_bytes"] = static_cast<double>(series.StorageBytes());
}
BENCHMARK(BM_Prepare_ReturnToDefault)->Unit(benchmark::kMillisecond);

}  // namespace
