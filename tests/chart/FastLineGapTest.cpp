// Gaps in the trace: a NaN level was not measured, so the fast line draws
// nothing for it and no segment into or out of it, the hit test never finds
// it, and the fast path leaves the same pixels as the per-point walk. Also
// several fast lines on one chart (a held trace over the live one).
#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "chart/Chart.h"
#include "chart/ChartSetup.h"
#include "chart/FastLineSeries.h"
#include "tests/chart/LineChart.h"

using namespace wg;
using namespace wgtest;

namespace {
const double kGap = std::nan("");
}

TEST_F(FastLineCalls, GapsBreakTheLineAndResumeWithAMove) {
  Add({{0, 10}, {10, 20}, {20, kGap}, {30, kGap}, {40, 50}, {50, 60}, {60, kGap}});
  EXPECT_EQ(Draw(), (Log{"MoveTo 0,190", "LineTo 10,180", "MoveTo 40,150", "LineTo 50,140"}));

  // Entering the plot: from a gap left of it there is no segment in; a gap
  // as the first visible point draws nothing either.
  chart.Layout(35, 200, 0, 200);
  ASSERT_EQ(Draw().front().rfind("MoveTo", 0), 0u);
  EXPECT_EQ(chart.series.FirstVisible, 4);
  chart.Layout(15, 200, 0, 200);
  EXPECT_EQ(Draw().front().rfind("MoveTo", 0), 0u);
  EXPECT_EQ(chart.series.FirstVisible, 2);

  // Drawn at once (AutoRepaint off): a point after a gap only moves.
  chart.Layout(0, 200, 0, 200);
  Draw();
  chart.series.SetAutoRepaint(false);
  rec.log.clear();
  chart.series.AddPoint(70, 80);
  EXPECT_EQ(rec.log.back().rfind("MoveTo", 0), 0u);
  rec.log.clear();
  chart.series.AddPoint(80, 90);
  EXPECT_EQ(rec.log, (Log{"MoveTo 70,120", "LineTo 80,110"}));
}

TEST_F(FastLineCalls, HitTestNeverFindsAGapOrTheSegmentsItLeavesOut) {
  Add({{0, 100}, {10, 100}, {20, kGap}, {30, 100}, {40, 100}});
  Draw();
  const struct {
    const char* name;
    int x, y, want;
  } rows[] = {
      {"measured point", 10, 100, 1},
      {"segment between measured points", 35, 100, 3},
      {"where the segment into the gap would be", 15, 100, -1},
      {"where the segment out of the gap would be", 25, 100, -1},
      {"the pixel the axis gives a NaN", 20, 100, -1},
  };
  for (const auto& r : rows) EXPECT_EQ(chart.series.HitTest(r.x, r.y), r.want) << r.name;
}

TEST_F(FastLinePixels, FastPathLeavesTheGapsTheWalkLeaves) {
  chart.plot = {60, 39, 563, 283};
  for (unsigned seed : {3u, 4u}) {
    FillSpectrum(chart.series, 138000000, 153000000, seed);
    std::mt19937 rng(seed);
    // Whole untuned steps, scattered single points and short runs.
    const int n = chart.series.PointCount();
    for (int j = 0; j < 4096; ++j) chart.series.SetPointY(4096 * (1 + seed % 3) + j, kGap);
    for (int k = 0; k < 40; ++k) {
      const int at = static_cast<int>(rng() % static_cast<unsigned>(n - 8));
      for (int j = 0, len = 1 + static_cast<int>(rng() % 7); j < len; ++j) chart.series.SetPointY(at + j, kGap);
    }
    chart.series.SetPointY(0, kGap);
    chart.series.SetPointY(n - 1, kGap);
    const std::string tag = "seed " + std::to_string(seed);
    chart.Layout(138000000, 153000000, -120, 25);
    EXPECT_GT(ExpectSameBothWays(true, 580, 326, tag), 300);
    chart.Layout(141234567.8, 142345678.9, -120, 25);
    ExpectSameBothWays(true, 580, 326, tag + " zoomed");
  }

  // An untuned step leaves its columns blank.
  FillSpectrum(chart.series, 138000000, 153000000, 9);
  for (int j = 0; j < 4096; ++j) chart.series.SetPointY(2 * 4096 + j, kGap);
  chart.Layout(138000000, 153000000, -120, 25);
  const QImage img = Render(true, true, 580, 326);
  const int from = chart.bottom.ValueToPixel(138000000 + 2 * 3200000.0) + 1;
  const int to = chart.bottom.ValueToPixel(138000000 + 3 * 3200000.0) - 1;
  for (int x = from; x < to; ++x)
    for (int y = 0; y < 326; ++y) ASSERT_EQ(img.pixel(x, y) & 0xFFFFFF, kWhite) << x << "," << y;
}

TEST(SpectrumChart, TwoFastLinesDrawEachInItsColourTheLaterOnTop) {
  TChart chart;
  chart.resize(580, 326);
  auto* live = chart.AddSeries(std::make_unique<TFastLineSeries>());
  ConfigureSpectrumChart(chart, *live);
  auto* held = chart.AddSeries(std::make_unique<TFastLineSeries>());
  held->SetSeriesColor(clBlue);
  chart.BottomAxis()->SetRange(0, 100);
  live->ResetPoints(101, 0, -100, 255);
  held->ResetPoints(101, 0, -50, 255);
  std::vector<double> x(101), yLive(101, -100), yHeld(101, -50);
  for (int i = 0; i <= 100; ++i) x[i] = i;
  yHeld[50] = -100;  // the held line crosses the live one at one point
  live->ReplaceXY(101, x.data(), yLive.data(), 1);
  held->ReplaceXY(101, x.data(), yHeld.data(), 1);
  chart.Draw(nullptr, {0, 0, 580, 326});
  const QImage img = chart.Canvas().Image();
  auto at = [&](double fx, double y) {
    return img.pixel(chart.BottomAxis()->ValueToPixel(fx), chart.LeftAxis()->ValueToPixel(y)) & 0xFFFFFF;
  };
  EXPECT_EQ(at(20, -100), 0xFF0000u);
  EXPECT_EQ(at(20, -50), 0x0000FFu);
  EXPECT_EQ(at(50, -100), 0x0000FFu);
}
