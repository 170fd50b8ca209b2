// A full drawing of the chart as the program configures it, against
// QCustomPlot rendering the same trace at the same size without
// antialiasing, both into a Format_RGB32 image.
//
// Three cases: the default scan range, 138-153 MHz, 19,200 points at the
// window's start-up size 580x326, a 24-1766 MHz survey of 2,000,000 points
// on a full-HD chart, and the widest trace the editors allow, 5,120,000
// points, on the same chart.
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "sweep/Sweep.h"
#include "tests/chart/WindowChart.h"

#if __has_include(<qcustomplot.h>)
#include <qcustomplot.h>
#define WG_HAVE_QCUSTOMPLOT 1
#endif

namespace {

struct Trace {
  std::vector<double> x, y;
};

// A noise floor near -95 dB with a few carriers, in FFT bins of equal width
// from `start` on.
const Trace& MakeTrace(int points) {
  static std::map<int, Trace> cache;
  auto it = cache.find(points);
  if (it != cache.end()) return it->second;
  Trace t;
  t.x.resize(points);
  t.y.resize(points);
  const bool survey = points > 100000;
  const double start = survey ? 24e6 : 138e6;
  const double bin = survey ? (1766e6 - 24e6) / points : 3.2e6 / 4096;
  std::mt19937 rng(1234);
  std::normal_distribution<double> noise(0.0, 3.0);
  const double span = bin * points;
  const double carriers[] = {0.11, 0.37, 0.52, 0.80};
  for (int i = 0; i < points; ++i) {
    t.x[i] = start + i * bin;
    double level = -95 + noise(rng);
    for (double c : carriers) {
      const double d = (t.x[i] - (start + c * span)) / (span * 0.002);
      level += 60 * std::exp(-d * d);
    }
    t.y[i] = level;
  }
  return cache.emplace(points, std::move(t)).first->second;
}

struct Case {
  int width, height, points;
};
Case CaseOf(const benchmark::State& state) {
  return {static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), static_cast<int>(state.range(2))};
}

// The chart and series as the main window sets them up.
std::unique_ptr<wg::TChart> ProgramChart(const Case& c, const Trace& t) {
  auto chart = std::make_unique<wg::TChart>();
  wgtest::SetUpLikeTheWindow(*chart, c.width, c.height);
  auto* s = chart->AddSeries(std::make_unique<wg::TFastLineSeries>());
  wg::ConfigureTraceSeries(*s);
  for (std::size_t i = 0; i < t.x.size(); ++i) s->AddPoint(t.x[i], t.y[i]);
  wg::TChartAxis* b = chart->BottomAxis();
  b->SetAutomatic(false);
  b->SetMaximum(t.x.back());
  b->SetMinimum(t.x.front());
  return chart;
}

// The whole chart drawn into the canvas's off-screen image, ready to be
// copied to the window: the same finished picture QCustomPlot's toPainter
// leaves in its target.
void BM_ChartDraw(benchmark::State& state) {
  const Case c = CaseOf(state);
  const Trace& t = MakeTrace(c.points);
  auto chart = ProgramChart(c, t);
  for (auto _ : state) {
    chart->Invalidate();
    chart->Draw(nullptr, {0, 0, c.width, c.height});
    benchmark::DoNotOptimize(chart->Canvas().Image().constBits());
  }
  state.SetItemsProcessed(state.iterations() * c.points);
}

// The same followed by the copy of the image into another one, as a paint
// copies it to the window.
void BM_ChartDrawAndCopy(benchmark::State& state) {
  const Case c = CaseOf(state);
  const Trace& t = MakeTrace(c.points);
  auto chart = ProgramChart(c, t);
  QImage target(c.width, c.height, QImage::Format_RGB32);
  QPainter painter(&target);
  for (auto _ : state) {
    chart->Invalidate();
    chart->Draw(&painter, {0, 0, c.width, c.height});
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetItemsProcessed(state.iterations() * c.points);
}

// The widest range just prepared for its first sweep (every point at 0 Hz,
// 0 dB) while the bottom axis has been panned to take in 0 Hz: what the
// window draws between a range change and the end of the first sweep.
void BM_ChartDrawPrepared(benchmark::State& state) {
  const Case c = CaseOf(state);
  auto chart = std::make_unique<wg::TChart>();
  wgtest::SetUpLikeTheWindow(*chart, c.width, c.height);
  auto* s = chart->AddSeries(std::make_unique<wg::TFastLineSeries>());
  wg::ConfigureTraceSeries(*s);
  s->ResetPoints(c.points, 0.0, 0.0, wg::clRed);
  chart->BottomAxis()->SetRange(-199895000, 3800000000);
  for (auto _ : state) {
    chart->Invalidate();
    chart->Draw(nullptr, {0, 0, c.width, c.height});
    benchmark::DoNotOptimize(chart->Canvas().Image().constBits());
  }
  state.SetItemsProcessed(state.iterations() * c.points);
}

// A sweep as the engine hands it over: steps of 4096 float levels in bins of
// 781.25 Hz from 24 MHz on, the X of each point worked out from its step.
struct Steps {
  std::vector<int64_t> starts;
  std::vector<float> levels;
};
const Steps& MakeSteps(int points) {
  static std::map<int, Steps> cache;
  auto it = cache.find(points);
  if (it != cache.end()) return it->second;
  const Trace& t = MakeTrace(points);
  Steps s;
  for (int k = 0; k * 4096 < points; ++k) s.starts.push_back(24000000 + 3200000LL * k);
  s.levels.assign(t.y.begin(), t.y.end());
  s.levels.resize(s.starts.size() * 4096, -95.0f);
  return cache.emplace(points, std::move(s)).first->second;
}

// The whole chart drawn from a shown sweep, with its block extremes as the
// engine makes them or without, or from the same values held by the series
// point by point.
enum class Drawn { Held, Shown, ShownWithBlocks };
void DrawSteps(benchmark::State& state, Drawn drawn) {
  const Case c = CaseOf(state);
  const Steps& st = MakeSteps(c.points);
  auto chart = std::make_unique<wg::TChart>();
  wgtest::SetUpLikeTheWindow(*chart, c.width, c.height);
  auto* s = chart->AddSeries(std::make_unique<wg::TFastLineSeries>());
  wg::ConfigureTraceSeries(*s);
  s->ResetPoints(c.points, 0.0, 0.0, wg::clRed);
  wg::TSteppedPoints points{nullptr, st.starts.data(), st.starts.size(), 4096, 781.25, st.levels.data()};
  const std::vector<float> blocks = wg::SummariseBlocks(st.levels, 4096);
  if (drawn == Drawn::ShownWithBlocks) {
    points.blocks = blocks.data();
    points.blockPoints = wg::kSummaryPoints;
  }
  s->ShowPoints(points);
  if (drawn == Drawn::Held) {
    std::vector<double> xy;
    for (int i = 0; i < c.points; ++i) xy.insert(xy.end(), {s->PointX(i), s->PointY(i)});
    s->ReplaceXY(c.points, &xy[0], &xy[1], 2);
  }
  chart->BottomAxis()->SetAutomatic(false);
  chart->BottomAxis()->SetRange(s->PointX(0), s->PointX(c.points - 1));
  for (auto _ : state) {
    chart->Invalidate();
    chart->Draw(nullptr, {0, 0, c.width, c.height});
    benchmark::DoNotOptimize(chart->Canvas().Image().constBits());
  }
  state.SetItemsProcessed(state.iterations() * c.points);
}
void BM_ChartDrawShownSweep(benchmark::State& state) { DrawSteps(state, Drawn::Shown); }
void BM_ChartDrawShownSweepBlocks(benchmark::State& state) { DrawSteps(state, Drawn::ShownWithBlocks); }
void BM_ChartDrawHeldSweep(benchmark::State& state) { DrawSteps(state, Drawn::Held); }

#ifdef WG_HAVE_QCUSTOMPLOT
// QCustomPlot with its defaults (its graph thins dense data by adaptive
// sampling) and the same look: white, a title, labelled axes, one red line.
void QcpDraw(benchmark::State& state, bool adaptiveSampling) {
  const Case c = CaseOf(state);
  const Trace& t = MakeTrace(c.points);
  QCustomPlot plot;
  plot.resize(c.width, c.height);
  plot.setAntialiasedElements(QCP::aeNone);
  plot.setBackground(Qt::white);
  plot.plotLayout()->insertRow(0);
  plot.plotLayout()->addElement(0, 0, new QCPTextElement(&plot, "FFT"));
  plot.legend->setVisible(false);
  QCPGraph* g = plot.addGraph();
  g->setPen(QPen(Qt::red));
  g->setAdaptiveSampling(adaptiveSampling);
  g->setData(QVector<double>(t.x.begin(), t.x.end()), QVector<double>(t.y.begin(), t.y.end()), true);
  plot.xAxis->setLabel("Hz");
  plot.xAxis->setRange(t.x.front(), t.x.back());
  plot.yAxis->setLabel("dB");
  plot.yAxis->setRange(-120, 25);
  QImage target(c.width, c.height, QImage::Format_RGB32);
  for (auto _ : state) {
    QCPPainter painter(&target);
    plot.toPainter(&painter, c.width, c.height);
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetItemsProcessed(state.iterations() * c.points);
}
void BM_QCustomPlotDraw(benchmark::State& state) { QcpDraw(state, true); }
void BM_QCustomPlotDrawEveryPoint(benchmark::State& state) { QcpDraw(state, false); }
#endif

// Handing one finished sweep to a chart on screen: every X and Y written by
// index, each write invalidating the chart, as the user-interface thread
// does after each sweep. The peer hands the same arrays to a QCustomPlot
// graph and queues a replot.
void BM_ChartPublishSweep(benchmark::State& state) {
  const Case c = CaseOf(state);
  const Trace& t = MakeTrace(c.points);
  auto chart = ProgramChart(c, t);
  chart->show();
  QCoreApplication::processEvents();
  wg::TChartSeries* s = chart->Series(0);
  for (auto _ : state) {
    for (int i = 0; i < c.points; ++i) {
      s->SetPointX(i, t.x[static_cast<std::size_t>(i)]);
      s->SetPointY(i, t.y[static_cast<std::size_t>(i)]);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * c.points);
}

#ifdef WG_HAVE_QCUSTOMPLOT
void BM_QCustomPlotPublishSweep(benchmark::State& state) {
  const Case c = CaseOf(state);
  const Trace& t = MakeTrace(c.points);
  QCustomPlot plot;
  plot.resize(c.width, c.height);
  QCPGraph* g = plot.addGraph();
  const QVector<double> x(t.x.begin(), t.x.end()), y(t.y.begin(), t.y.end());
  plot.show();
  QCoreApplication::processEvents();
  for (auto _ : state) {
    g->setData(x, y, true);
    plot.replot(QCustomPlot::rpQueuedReplot);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * c.points);
}
#endif

void Sizes(benchmark::internal::Benchmark* b) {
  b->Args({580, 326, 19200})->Args({1920, 1080, 2000000})->Args({1920, 1080, 5120000})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ChartDraw)->Apply(Sizes);
BENCHMARK(BM_ChartDrawAndCopy)->Apply(Sizes);
BENCHMARK(BM_ChartDrawPrepared)->Args({1920, 1080, 5120000})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChartDrawShownSweep)->Apply(Sizes);
BENCHMARK(BM_ChartDrawShownSweepBlocks)->Apply(Sizes);
BENCHMARK(BM_ChartDrawHeldSweep)->Apply(Sizes);
#ifdef WG_HAVE_QCUSTOMPLOT
BENCHMARK(BM_QCustomPlotDraw)->Apply(Sizes);
BENCHMARK(BM_QCustomPlotDrawEveryPoint)->Apply(Sizes);
#endif
BENCHMARK(BM_ChartPublishSweep)->Apply(Sizes);
#ifdef WG_HAVE_QCUSTOMPLOT
BENCHMARK(BM_QCustomPlotPublishSweep)->Apply(Sizes);
#endif

}  // namespace
