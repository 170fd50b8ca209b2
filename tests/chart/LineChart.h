// The fast line series on a chart of two real axes: a canvas that writes
// down the calls a series makes, a real canvas for pixels, and a swept
// spectrum to draw.
#pragma once

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "chart/ChartAxis.h"
#include "chart/FastLineSeries.h"
#include "chart/ImageCanvas.h"

namespace wgtest {

using namespace wg;

// A canvas that only writes down the calls a series makes.
class RecordingCanvas : public TCanvas3D {
 public:
  std::vector<std::string> log;
  void Note(const std::string& s) { log.push_back(s); }
  static std::string P(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }

  void MoveTo(int x, int y) override { Note("MoveTo " + P(x, y)); }
  void LineTo(int x, int y) override { Note("LineTo " + P(x, y)); }
  void Line(int x0, int y0, int x1, int y1) override { Note("Line " + P(x0, y0) + " " + P(x1, y1)); }
  void ClipToPlotArea(const TRect& r, int, int) override {
    Note("Clip " + P(r.Left, r.Top) + " " + P(r.Right, r.Bottom));
  }
  void RemoveClip() override { Note("RemoveClip"); }
  TPoint Unproject(int x, int y, int) override { return {x, y}; }
  // The axes' part of the canvas; a series never calls it.
  void SetTextAlign(unsigned) override {}
  void SetBackMode(TCanvasBackMode) override {}
  void TextOutZ(int, int, int, std::string_view) override {}
  void RotatedTextZ(int, int, int, std::string_view, int) override {}
  void HorizontalLine(int, int, int) override {}
  void VerticalLine(int, int, int) override {}
  void HorizontalLineZ(int, int, int, int) override {}
  void VerticalLineZ(int, int, int, int) override {}
};

// A chart with a real bottom and left axis and whichever canvas the test
// gives it.
class LineChart : public TChartLink {
 public:
  LineChart() : bottom(this, true, false), left(this, false, false) {
    series.SetParentChart(this);
    series.SetSeriesColor(clRed);
  }
  void Invalidate() override { ++invalidations; }
  int SeriesCount() const override { return 1; }
  TChartSeries* Series(int) const override { return const_cast<TFastLineSeries*>(&series); }
  TRect GetPlotRect() const override { return plot; }
  TCanvas3D* GetCanvas() const override { return canvas; }
  TChartAxis* AxisFor(THorizAxis) const override { return const_cast<TChartAxis*>(&bottom); }
  TChartAxis* AxisFor(TVertAxis) const override { return const_cast<TChartAxis*>(&left); }

  // Both axes on fixed ranges, laid out in plot.
  void Layout(double x0, double x1, double y0, double y1) {
    bottom.SetRange(x0, x1);
    left.SetRange(y0, y1);
    for (TChartAxis* a : {&bottom, &left}) {
      a->UpdateEffectiveRange();
      a->UpdatePixelExtent();
    }
  }

  TChartAxis bottom, left;
  TFastLineSeries series;
  TCanvas3D* canvas = nullptr;
  TRect plot{0, 0, 200, 200};
  int invalidations = 0;
};

using Log = std::vector<std::string>;

// On the 200 x 200 plot with both axes on 0 … 200, value v lies in column v
// and row 200 - v.
class FastLineCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    chart.canvas = &rec;
    chart.Layout(0, 200, 0, 200);
  }
  void Add(std::initializer_list<std::pair<double, double>> pts) {
    for (auto [x, y] : pts) chart.series.AddPoint(x, y);
  }
  // Drawing of the series as the chart runs it, without the clip.
  Log Draw() {
    rec.log.clear();
    chart.series.DrawSeriesValues(false);
    return rec.log;
  }
  void ExpectRange(int first, int last) {
    EXPECT_EQ(chart.series.FirstVisible, first);
    EXPECT_EQ(chart.series.LastVisible, last);
  }

  RecordingCanvas rec;
  LineChart chart;
};

constexpr std::uint32_t kWhite = 0xFFFFFF, kRed = 0xFF0000;

class FastLinePixels : public ::testing::Test {
 protected:
  void SetUp() override {
    chart.canvas = &canvas;
    chart.Layout(0, 200, 0, 200);
  }

  // One drawing into a white image of the given size; the image afterwards.
  QImage Render(bool fast, bool clip, int w, int h) {
    canvas.BeginFrame(nullptr, nullptr, {0, 0, w, h}, false);
    canvas.Brush().SetColor(clWhite);
    canvas.Brush().SetStyle(bsSolid);
    canvas.FillRect({0, 0, w, h});
    chart.series.FastDrawing = fast;
    chart.series.DrawSeriesValues(clip);
    lastFast = chart.series.LastDrawFast();
    QImage img = canvas.Image().copy();
    penPos = canvas.PenPos();
    prev = {chart.series.PrevPixelX, chart.series.PrevPixelY};
    canvas.ResetDrawingState();
    canvas.PresentFrame(nullptr, nullptr, {0, 0, w, h});
    return img;
  }

  // Draws both ways and expects the same image, pen position and last
  // pixel; returns the number of inked pixels.
  int ExpectSameBothWays(bool clip, int w, int h, const std::string& what) {
    const QImage ref = Render(false, clip, w, h);
    const TPoint refPos = penPos, refPrev = prev;
    const QImage fast = Render(true, clip, w, h);
    EXPECT_TRUE(lastFast) << what;
    EXPECT_EQ(refPos, penPos) << what;
    EXPECT_EQ(refPrev, prev) << what;
    int differ = 0, inked = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint32_t a = ref.pixel(x, y) & 0xFFFFFF, b = fast.pixel(x, y) & 0xFFFFFF;
        if (a != b && differ++ < 5) ADD_FAILURE() << what << ": pixel " << x << "," << y;
        inked += a != kWhite;
      }
    EXPECT_EQ(differ, 0) << what;
    return inked;
  }

  LineChart chart;
  TChartCanvas3D canvas;
  bool lastFast = false;
  TPoint penPos, prev;
};

// A swept spectrum as the receiver gives it: bins of 3.2 MHz / 4096 across
// the range, a noise floor with a few carriers.
inline void FillSpectrum(TFastLineSeries& s, double startHz, double stopHz, unsigned seed) {
  s.ClearPoints();
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 3.0);
  const double bin = 3200000.0 / 4096;
  const int steps = static_cast<int>(std::ceil((stopHz - startHz) / 3200000.0));
  const double carriers[] = {startHz + 1.234e6, startHz + (stopHz - startHz) * 0.4, stopHz - 0.77e6};
  for (int k = 0; k < steps; ++k) {
    for (int j = 0; j < 4096; ++j) {
      const double f = startHz + 3200000.0 * k + bin * j;
      double level = -95 + noise(rng);
      for (double c : carriers) level += 70 * std::exp(-std::pow((f - c) / 20000.0, 2));
      s.AddPoint(f, level);
    }
  }
}

}  // namespace wgtest
