// The waterfall at 1920 pixels wide: adding a sweep and repainting, and
// rendering 1,000 rows again after the view moved. The peer is QCustomPlot's
// colour map holding the same rows at screen resolution, refilled and drawn
// into an image of the same size.
//
// Two sweep sizes: the initial range, 138-153 MHz, 19,200 points, and a
// 24-1766 MHz survey of 2,000,000 points.
#include <QImage>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "chart/Chart.h"
#include "chart/ChartSetup.h"
#include "chart/FastLineSeries.h"
#include "ui/waterfall/Waterfall.h"

#if __has_include(<qcustomplot.h>)
#include <qcustomplot.h>
#define WG_HAVE_QCUSTOMPLOT 1
#endif

namespace {

constexpr int kWidth = 1920;

// Interleaved {X, Y}: a noise floor near -95 dB with a few carriers.
const std::vector<double>& MakeSweep(int points) {
  static std::map<int, std::vector<double>> cache;
  auto it = cache.find(points);
  if (it != cache.end()) return it->second;
  std::vector<double> xy(2 * static_cast<std::size_t>(points));
  const bool survey = points > 100000;
  const double start = survey ? 24e6 : 138e6;
  const double bin = survey ? (1766e6 - 24e6) / points : 3.2e6 / 4096;
  std::mt19937 rng(1234);
  std::normal_distribution<double> noise(0.0, 3.0);
  for (int i = 0; i < points; ++i) {
    xy[2 * i] = start + i * bin;
    xy[2 * i + 1] = -95 + noise(rng) + (i % 5000 == 17 ? 50 : 0);
  }
  return cache.emplace(points, std::move(xy)).first->second;
}

// A chart and a waterfall of the window's make, the chart drawn once so that
// its axes are laid out.
struct Rig {
  wg::TChart chart;
  wg::TWaterfall waterfall{&chart};
  QImage chartImage, image;
  const std::vector<double>& sweep;

  Rig(int points, int rows) : sweep(MakeSweep(points)) {
    chart.resize(kWidth, 400);
    wg::ConfigureSpectrumChart(chart, *chart.AddSeries(std::make_unique<wg::TFastLineSeries>()));
    chart.BottomAxis()->SetRange(sweep.front(), sweep[sweep.size() - 2]);
    waterfall.resize(kWidth, rows);
    waterfall.show();
    chartImage = QImage(kWidth, 400, QImage::Format_RGB32);
    image = QImage(kWidth, rows, QImage::Format_RGB32);
    DrawChart();
  }
  void DrawChart() {
    chart.render(&chartImage);
    waterfall.SyncWithChart();
  }
  void Add() {
    waterfall.AddSweep(&sweep[0], &sweep[1], 2, sweep.size() / 2, wg::TWaterfall::Clock::now());
  }
  void Paint() { waterfall.render(&image); }
};

void BM_WaterfallAddAndRepaint(benchmark::State& state) {
  Rig rig(static_cast<int>(state.range(0)), 400);
  for (int i = 0; i < 50; ++i) rig.Add();
  rig.Paint();
  for (auto _ : state) {
    rig.Add();
    rig.Paint();
  }
  state.counters["bytes"] = static_cast<double>(rig.waterfall.MemoryBytes());
}

// Scrolling moves the frequency axis by 5 % back and forth; the chart's own
// drawing is left out of the time.
void BM_WaterfallRerender1000Rows(benchmark::State& state) {
  Rig rig(static_cast<int>(state.range(0)), 1000);
  for (int i = 0; i < 1000; ++i) rig.Add();
  const double lo = rig.chart.BottomAxis()->Minimum(), hi = rig.chart.BottomAxis()->Maximum();
  const double shift = (hi - lo) * 0.05;
  bool moved = false;
  for (auto _ : state) {
    state.PauseTiming();
    moved = !moved;
    rig.chart.BottomAxis()->SetRange(lo + (moved ? shift : 0), hi + (moved ? shift : 0));
    rig.chart.render(&rig.chartImage);
    state.ResumeTiming();
    rig.waterfall.SyncWithChart();
    rig.Paint();
  }
  state.counters["bytes"] = static_cast<double>(rig.waterfall.MemoryBytes());
}

#ifdef WG_HAVE_QCUSTOMPLOT
// The same rows in a QCPColorMap of one cell per pixel: each new sweep is
// reduced to the columns' maxima, every cell is written again (the map has
// no scrolling) and the plot is drawn.
struct Peer {
  QCustomPlot plot;
  QCPColorMap* map;
  std::vector<std::vector<double>> rows;
  QImage image;
  const std::vector<double>& sweep;
  int height;

  Peer(int points, int h) : sweep(MakeSweep(points)), height(h) {
    plot.resize(kWidth, h);
    plot.axisRect()->setAutoMargins(QCP::msNone);
    plot.axisRect()->setMargins(QMargins(0, 0, 0, 0));
    map = new QCPColorMap(plot.xAxis, plot.yAxis);
    map->setInterpolate(false);
    map->data()->setSize(kWidth, h);
    map->data()->setRange(QCPRange(sweep.front(), sweep[sweep.size() - 2]), QCPRange(0, h));
    map->setGradient(QCPColorGradient(QCPColorGradient::gpThermal));
    map->setDataRange(QCPRange(-120, 25));
    plot.xAxis->setRange(sweep.front(), sweep[sweep.size() - 2]);
    plot.yAxis->setRange(0, h);
    image = QImage(kWidth, h, QImage::Format_RGB32);
  }
  void Reduce() {
    std::vector<double> row(kWidth, -1e300);
    const std::size_t n = sweep.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t c = i * kWidth / n;
      row[c] = std::max(row[c], sweep[2 * i + 1]);
    }
    rows.insert(rows.begin(), std::move(row));
    if (rows.size() > static_cast<std::size_t>(height)) rows.pop_back();
  }
  void Fill() {
    QCPColorMapData* d = map->data();
    for (std::size_t r = 0; r < rows.size(); ++r)
      for (int c = 0; c < kWidth; ++c) d->setCell(c, height - 1 - static_cast<int>(r), rows[r][c]);
  }
  void Draw() {
    QCPPainter painter(&image);
    plot.toPainter(&painter, kWidth, height);
  }
};

void BM_QCustomPlotColorMapAddAndRepaint(benchmark::State& state) {
  Peer peer(static_cast<int>(state.range(0)), 400);
  for (int i = 0; i < 50; ++i) peer.Reduce();
  for (auto _ : state) {
    peer.Reduce();
    peer.Fill();
    peer.Draw();
  }
}

void BM_QCustomPlotColorMapRerender1000Rows(benchmark::State& state) {
  Peer peer(static_cast<int>(state.range(0)), 1000);
  for (int i = 0; i < 1000; ++i) peer.Reduce();
  bool moved = false;
  const QCPRange base = peer.plot.xAxis->range();
  for (auto _ : state) {
    moved = !moved;
    peer.plot.xAxis->setRange(base + (moved ? base.size() * 0.05 : 0));
    peer.Fill();
    peer.Draw();
  }
}
#endif

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(19200)->Arg(2000000)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_WaterfallAddAndRepaint)->Apply(Sizes);
BENCHMARK(BM_WaterfallRerender1000Rows)->Apply(Sizes);
#ifdef WG_HAVE_QCUSTOMPLOT
BENCHMARK(BM_QCustomPlotColorMapAddAndRepaint)->Apply(Sizes);
BENCHMARK(BM_QCustomPlotColorMapRerender1000Rows)->Apply(Sizes);
#endif

}  // namespace
