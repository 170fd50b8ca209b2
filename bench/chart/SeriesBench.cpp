// Series storage under the sweep's load: publishing one finished sweep of
// 19200 points by index, and the heap a series holds per point at 5,000,000
// points filled the way the sweep fills it (ClearPoints, AddPoint(0, 0, "",
// 255) for every point, then every X and Y overwritten by index).
//
// Peers in the same run: QCustomPlot's graph data container (the sorted
// key/value store behind a QCPGraph) with the same access pattern, plain
// double arrays as the floor, and a list that keeps every value in a cell of
// its own, as a list of references to boxed values does.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "chart/ChartSeries.h"

#if __has_include(<qcustomplot.h>)
#include <qcustomplot.h>
#define WG_HAVE_QCP 1
#endif

using namespace wg;

namespace {

constexpr int kSweepPoints = 19200;  // one point per 781.25 Hz bin of 138–153 MHz
constexpr int kBigSeries = 5000000;

// A chart that only takes note of redraw requests, as the real one does.
class NoteChart : public TChartLink {
 public:
  void Invalidate() override { stale = true; }
  int SeriesCount() const override { return 0; }
  TChartSeries* Series(int) const override { return nullptr; }
  TRect GetPlotRect() const override { return {}; }
  TCanvas3D* GetCanvas() const override { return nullptr; }
  TChartAxis* AxisFor(THorizAxis) const override { return nullptr; }
  TChartAxis* AxisFor(TVertAxis) const override { return nullptr; }
  bool stale = false;
};

struct Sweep {
  std::vector<double> x, y;
};

Sweep MakeSweep(int n) {
  Sweep s;
  s.x.resize(static_cast<std::size_t>(n));
  s.y.resize(static_cast<std::size_t>(n));
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(-90, 6);
  for (int i = 0; i < n; ++i) {
    s.x[static_cast<std::size_t>(i)] = 138000000.0 + 781.25 * i;
    s.y[static_cast<std::size_t>(i)] = noise(rng);
  }
  return s;
}

// Heap in use, small and mmapped blocks together.
std::size_t HeapInUse() {
  const struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd;
}

// ---------------------------------------------------------------------------
// Publication of one sweep

void BM_Publish_Series(benchmark::State& state) {
  const Sweep sweep = MakeSweep(kSweepPoints);
  NoteChart chart;
  TChartSeries series;
  series.SetParentChart(&chart);
  for (int i = 0; i < kSweepPoints; ++i) series.AddPoint(0, 0, "", 255);
  for (auto _ : state) {
    const int n = series.PointCount();
    for (int i = 0; i < n; ++i) {
      series.SetPointX(i, sweep.x[static_cast<std::size_t>(i)]);
      series.SetPointY(i, sweep.y[static_cast<std::size_t>(i)]);
    }
    benchmark::DoNotOptimize(series.XValues().Values().data());
    benchmark::DoNotOptimize(series.YValues().Values().data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSweepPoints);
}
BENCHMARK(BM_Publish_Series);

void BM_Publish_PlainArrays(benchmark::State& state) {
  const Sweep sweep = MakeSweep(kSweepPoints);
  std::vector<double> xs(kSweepPoints), ys(kSweepPoints);
  for (auto _ : state) {
    for (std::size_t i = 0; i < xs.size(); ++i) {
      xs[i] = sweep.x[i];
      ys[i] = sweep.y[i];
    }
    benchmark::DoNotOptimize(xs.data());
    benchmark::DoNotOptimize(ys.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSweepPoints);
}
BENCHMARK(BM_Publish_PlainArrays);

#ifdef WG_HAVE_QCP
void BM_Publish_QCPByIndex(benchmark::State& state) {
  const Sweep sweep = MakeSweep(kSweepPoints);
  QCPGraphDataContainer data;
  for (int i = 0; i < kSweepPoints; ++i) data.add(QCPGraphData(0, 0));
  for (auto _ : state) {
    auto it = data.begin();
    const int n = data.size();
    for (int i = 0; i < n; ++i, ++it) {
      it->key = sweep.x[static_cast<std::size_t>(i)];
      it->value = sweep.y[static_cast<std::size_t>(i)];
    }
    benchmark::DoNotOptimize(&*data.begin());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSweepPoints);
}
BENCHMARK(BM_Publish_QCPByIndex);

void BM_Publish_QCPSetData(benchmark::State& state) {
  const Sweep sweep = MakeSweep(kSweepPoints);
  const QVector<double> keys(sweep.x.begin(), sweep.x.end());
  const QVector<double> values(sweep.y.begin(), sweep.y.end());
  QCPGraphDataContainer data;
  for (auto _ : state) {
    data.clear();
    for (int i = 0; i < kSweepPoints; ++i) data.add(QCPGraphData(keys[i], values[i]));
    benchmark::DoNotOptimize(&*data.begin());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSweepPoints);
}
BENCHMARK(BM_Publish_QCPSetData);
#endif

// ---------------------------------------------------------------------------
// Memory per point at 5,000,000 points

void ReportPerPoint(benchmark::State& state, std::size_t bytes, int points) {
  state.counters["bytes_per_point"] = static_cast<double>(bytes) / points;
}

void BM_Memory_Series(benchmark::State& state) {
  const Sweep sweep = MakeSweep(kBigSeries);
  for (auto _ : state) {
    NoteChart chart;
    auto series = std::make_unique<TChartSeries>();
    series->SetParentChart(&chart);
    const std::size_t before = HeapInUse();
    series->ClearPoints();
    for (int i = 0; i < kBigSeries; ++i) series->AddPoint(0, 0, "", 255);
    const int n = series->PointCount();
    for (int i = 0; i < n; ++i) {
      series->SetPointX(i, sweep.x[static_cast<std::size_t>(i)]);
      series->SetPointY(i, sweep.y[static_cast<std::size_t>(i)]);
    }
    const std::size_t after = HeapInUse();
    benchmark::DoNotOptimize(series->MaxY());
    ReportPerPoint(state, after - before, kBigSeries);
    state.counters["held_per_point"] = static_cast<double>(series->StorageBytes()) / kBigSeries;
  }
}
BENCHMARK(BM_Memory_Series)->Iterations(1)->Unit(benchmark::kMillisecond);

#ifdef WG_HAVE_QCP
void BM_Memory_QCP(benchmark::State& state) {
  const Sweep sweep = MakeSweep(kBigSeries);
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    auto data = std::make_unique<QCPGraphDataContainer>();
    for (int i = 0; i < kBigSeries; ++i) data->add(QCPGraphData(0, 0));
    auto it = data->begin();
    for (int i = 0; i < kBigSeries; ++i, ++it) {
      it->key = sweep.x[static_cast<std::size_t>(i)];
      it->value = sweep.y[static_cast<std::size_t>(i)];
    }
    const std::size_t after = HeapInUse();
    benchmark::DoNotOptimize(&*data->begin());
    ReportPerPoint(state, after - before, kBigSeries);
  }
}
BENCHMARK(BM_Memory_QCP)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

// Every value in its own heap cell, the lists holding references to them; a
// colour per point beside them.
void BM_Memory_CellPerValue(benchmark::State& state) {
  const Sweep sweep = MakeSweep(kBigSeries);
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    {
      std::vector<std::unique_ptr<double>> xs, ys;
      std::vector<TColor> colours;
      for (int i = 0; i < kBigSeries; ++i) {
        xs.push_back(std::make_unique<double>(0));
        ys.push_back(std::make_unique<double>(0));
        colours.push_back(255);
      }
      for (std::size_t i = 0; i < xs.size(); ++i) {
        *xs[i] = sweep.x[i];
        *ys[i] = sweep.y[i];
      }
      const std::size_t after = HeapInUse();
      benchmark::DoNotOptimize(xs.data());
      ReportPerPoint(state, after - before, kBigSeries);
    }
  }
}
BENCHMARK(BM_Memory_CellPerValue)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
