// One-pixel line drawing of a dense, noisy trace: the canvas's own
// rasteriser against QPainter::drawLine of the same segments into the same
// image format. 2,000,000 points across a 1920x1080 image, as a trace of many
// sweeps' worth of FFT bins squeezed into one screen width.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "chart/ImageCanvas.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPoints = 2000000;

struct Pt {
  int x, y;
};

// Noise floor with a few carriers, in pixels; x advances by 1920/2e6 pixel per
// point, so most segments stay in one column and run a few rows.
const std::vector<Pt>& Trace() {
  static const std::vector<Pt> pts = [] {
    std::vector<Pt> v(kPoints);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 25.0);
    for (int i = 0; i < kPoints; ++i) {
      const double x = static_cast<double>(i) * kWidth / kPoints;
      double y = 800 + noise(rng);
      for (double carrier : {300.0, 911.0, 1500.0}) {
        const double d = (x - carrier) / 3.0;
        y -= 600 * std::exp(-d * d);
      }
      v[i] = {static_cast<int>(x), std::clamp(static_cast<int>(std::lround(y)), 0, kHeight - 1)};
    }
    return v;
  }();
  return pts;
}

// Argument 1: clipped to a plotting rectangle, as the chart draws its trace.
void BM_CanvasLineTo(benchmark::State& state) {
  const auto& pts = Trace();
  wg::TChartCanvas3D canvas;
  canvas.BeginFrame(nullptr, nullptr, {0, 0, kWidth, kHeight}, false);
  canvas.Pen().SetColor(wg::clRed);
  if (state.range(0)) canvas.ClipToPlotArea({60, 40, kWidth - 40, kHeight - 60});
  for (auto _ : state) {
    canvas.MoveTo(pts[0].x, pts[0].y);
    for (int i = 1; i < kPoints; ++i) canvas.LineTo(pts[i].x, pts[i].y);
    benchmark::DoNotOptimize(canvas.Image().constBits());
  }
  canvas.PresentFrame(nullptr, nullptr, {0, 0, kWidth, kHeight});
  state.SetItemsProcessed(state.iterations() * (kPoints - 1));
}
BENCHMARK(BM_CanvasLineTo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The peer: QPainter::drawLine per segment, aliased, one-pixel cosmetic pen,
// into a Format_RGB32 image.
void BM_QPainterDrawLine(benchmark::State& state) {
  const auto& pts = Trace();
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  QPen pen(QColor(255, 0, 0), 1);
  pen.setCosmetic(true);
  p.setPen(pen);
  for (auto _ : state) {
    for (int i = 1; i < kPoints; ++i) p.drawLine(pts[i - 1].x, pts[i - 1].y, pts[i].x, pts[i].y);
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * (kPoints - 1));
}
BENCHMARK(BM_QPainterDrawLine)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  Trace();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
