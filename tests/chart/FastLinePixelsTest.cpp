// The fast line series on a real canvas: the fast path checked pixel for
// pixel against the per-point drawing, and its value-to-pixel mapping
// against the axis's own.
#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "chart/FastLineSeries.h"
#include "tests/chart/LineChart.h"

using namespace wg;
using namespace wgtest;

TEST_F(FastLinePixels, PointsInOneColumnDrawTheStrokeBetweenTheirRows) {
  // Rows 100 and 140: the stroke 100 … 139, nothing beside it.
  chart.series.AddPoint(10, 100);
  chart.series.AddPoint(10.2, 60);
  for (bool fast : {false, true}) {
    const QImage img = Render(fast, false, 200, 200);
    for (int y = 0; y < 200; ++y)
      EXPECT_EQ((img.pixel(10, y) & 0xFFFFFF) == kRed, y >= 100 && y < 140) << "row " << y << " fast " << fast;
    EXPECT_EQ(img.pixel(9, 120) & 0xFFFFFF, kWhite);
    EXPECT_EQ(img.pixel(11, 120) & 0xFFFFFF, kWhite);
  }

  // Rows 100, 80, 70, 70, 70: the per-point walk draws rows 71 … 100 and
  // never row 70, which only the repeats (skipped) reach.
  chart.series.ClearPoints();
  for (double y : {100.0, 120.0, 130.0, 130.0, 130.0}) chart.series.AddPoint(10, y);
  chart.series.AddPoint(10.3, 130);
  for (bool fast : {false, true}) {
    const QImage img = Render(fast, false, 200, 200);
    for (int y = 60; y <= 110; ++y)
      EXPECT_EQ((img.pixel(10, y) & 0xFFFFFF) == kRed, y > 70 && y <= 100) << "row " << y << " fast " << fast;
  }
}

TEST_F(FastLinePixels, FastPathMatchesPerPointDrawingOnRandomTraces) {
  chart.plot = {30, 20, 330, 220};
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    chart.series.ClearPoints();
    // Gaps from none through sub-pixel to many columns; levels spread past
    // both ends of the axis, with repeats.
    double x = -50, y = 0;
    const int n = 3000 + static_cast<int>(rng() % 3000);
    for (int i = 0; i < n; ++i) {
      const double g = u(rng);
      x += g < 0.2 ? 0 : g < 0.7 ? u(rng) * 0.05 : g < 0.95 ? u(rng) * 0.5 : u(rng) * 20;
      const double r = u(rng);
      if (r < 0.1) {
        // the same level again
      } else if (r < 0.103) {
        // Values whose pixels the axis decides: NaN goes to the centre,
        // far-off ones to the centre or the clamp.
        const double odd[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -3e9};
        y = odd[rng() % 5];
      } else {
        y = r < 0.2 ? y + u(rng) * 0.3 - 0.15 : u(rng) * 260 - 130;
      }
      // Half the traces on a few coarse levels: long repeats of one pixel,
      // also at a column's extremes.
      chart.series.AddPoint(x, seed > 6 && std::isfinite(y) ? std::round(y / 25) * 25 : y);
    }
    if (seed % 5 == 0) chart.series.SetPointX(n / 2, std::nan(""));
    // Multipliers take the reading that rounds each product once.
    chart.series.XValues().SetMultiplier(seed % 4 == 0 ? 1.1 : 1.0);
    chart.series.YValues().SetMultiplier(seed % 3 == 0 ? 0.7 : 1.0);
    const double last = chart.series.XValues().LastValue();
    const std::string tag = "seed " + std::to_string(seed);
    chart.Layout(-50, last, -100, 100);
    EXPECT_GT(ExpectSameBothWays(true, 360, 240, tag + " whole"), 0);
    ExpectSameBothWays(false, 360, 240, tag + " whole, unclipped");
    // Zoomed in: the line enters from a point left of the plot.
    chart.Layout(last * 0.3, last * 0.35, -60, 70);
    ExpectSameBothWays(true, 360, 240, tag + " zoomed");
    EXPECT_GT(chart.series.FirstVisible, 0);
    ExpectSameBothWays(false, 360, 240, tag + " zoomed, unclipped");
    chart.bottom.SetInverted(true);
    chart.left.SetInverted(seed % 2 == 0);
    chart.Layout(last * 0.1, last * 0.9, -60, 70);
    ExpectSameBothWays(true, 360, 240, tag + " inverted");
    chart.bottom.SetInverted(false);
    chart.left.SetInverted(false);
  }
}

TEST_F(FastLinePixels, FastPathMatchesPerPointDrawingOnSpectrumTraces) {
  // The default range at the form's size, and a wide survey on a large plot.
  chart.plot = {60, 39, 563, 283};
  FillSpectrum(chart.series, 138000000, 153000000, 7);
  ASSERT_EQ(chart.series.PointCount(), 5 * 4096);
  chart.Layout(138000000, 153000000, -120, 25);
  EXPECT_GT(ExpectSameBothWays(true, 580, 326, "default range"), 500);
  ExpectSameBothWays(false, 580, 326, "default range, unclipped");
  chart.Layout(141234567.8, 142345678.9, -105, -60);  // zoomed, levels past the top
  ExpectSameBothWays(true, 580, 326, "zoomed");
  EXPECT_GT(chart.series.FirstVisible, 0);
  ExpectSameBothWays(false, 580, 326, "zoomed, unclipped");

  chart.plot = {70, 40, 1880, 1020};
  FillSpectrum(chart.series, 24000000, 400000000, 11);
  chart.Layout(24000000, 400000000, -120, 25);
  EXPECT_GT(ExpectSameBothWays(true, 1920, 1080, "survey"), 5000);
  chart.Layout(100000000, 100300000, -120, 25);
  ExpectSameBothWays(true, 1920, 1080, "survey zoomed to a few columns per bin");
}

TEST_F(FastLinePixels, PensThatCannotSpanTakeThePerPointPath) {
  for (int i = 0; i < 50; ++i) chart.series.AddPoint(i * 0.3, (i * 37) % 200);
  TChartPen& pen = chart.series.LinePen();
  const std::function<void(bool)> odd[] = {
      [&](bool on) { pen.SetStyle(on ? psDot : psSolid); }, [&](bool on) { pen.SetSmallDots(on); },
      [&](bool on) { pen.SetMode(on ? pmXor : pmCopy); }, [&](bool on) { pen.SetWidth(on ? 2 : 1); }};
  for (std::size_t k = 0; k < std::size(odd); ++k) {
    odd[k](true);
    Render(true, true, 200, 200);
    EXPECT_FALSE(lastFast) << k;
    odd[k](false);
  }
  EXPECT_GT(ExpectSameBothWays(true, 200, 200, "solid"), 0);
}

// ---------------------------------------------------------------------------
// The precomputed mapping against the axis's own

namespace {

// Mismatches of TAxisPixelMap against ValueToPixel over the values, and over
// the values whose exact offset is a half pixel as near as a double gets and
// their neighbours one ulp either side: where rounding decides.
int Mismatches(const TCustomChartAxis& axis, std::vector<double> values) {
  for (int k = -3; axis.AxisLength != 0 && k <= axis.AxisLength + 3; ++k) {
    const double d = static_cast<double>(axis.EffectiveMinimum + (k + 0.5L) *
                                                                     static_cast<long double>(axis.EffectiveRange) /
                                                                     axis.AxisLength);
    values.insert(values.end(), {d, std::nextafter(d, -INFINITY), std::nextafter(d, INFINITY)});
  }
  const TAxisPixelMap map(axis);
  int bad = 0;
  for (double v : values) {
    const int want = axis.ValueToPixel(v), got = map(v);
    if (want != got && bad++ < 5) ADD_FAILURE() << "value " << v << ": axis " << want << ", map " << got;
  }
  return bad;
}

}  // namespace

TEST(FastLineMapping, SameIntegersAsTheAxisOnFrequencyAndLevelAxes) {
  LineChart chart;
  // The form's positions: the bottom axis ends at 97 %, the left one starts
  // at 5 %.
  chart.bottom.SetEndPosition(97);
  chart.left.SetStartPosition(5);
  // Frequency: every bin of several scan ranges, full and zoomed, on plot
  // widths from tiny to wide.
  const std::pair<double, double> ranges[] = {{138000000, 153000000}, {24000000, 1766000000},
                                              {100000000, 103200000}, {141234567.8, 142345678.9},
                                              {88000000, 88000100}};
  for (int width : {1, 37, 503, 546, 1001, 1810, 3840})
    for (auto [lo, hi] : ranges)
      for (bool inverted : {false, true}) {
        chart.plot = {17, 13, 17 + width, 313};
        chart.bottom.SetInverted(inverted);
        chart.Layout(lo, hi, -120, 25);
        std::vector<double> values{lo - 1e12, hi + 1e15, std::numeric_limits<double>::quiet_NaN(), INFINITY};
        const int steps = std::min(60, static_cast<int>(std::ceil((hi - lo) / 3200000.0)));
        for (int k = 0; k < steps; ++k)
          for (int j = 0; j < 4096; ++j) values.push_back(lo + 3200000.0 * k + 3200000.0 / 4096 * j);
        EXPECT_EQ(Mismatches(chart.bottom, values), 0) << width << " " << lo << " " << hi;
      }

  // Level: dB values in thousandths and random doubles, over heights and
  // ranges, including an empty one.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> level(-140, 40);
  std::vector<double> values;
  for (int m = -140000; m <= 40000; m += 7) values.push_back(m / 1000.0);
  for (int i = 0; i < 20000; ++i) values.push_back(level(rng));
  const std::pair<double, double> levels[] = {{-120, 25}, {-105.5, -60.25}, {-1e-9, 1e-9}, {3, 3}};
  for (int height : {1, 2, 145, 244, 290, 300, 981})
    for (auto [lo, hi] : levels)
      for (bool inverted : {false, true}) {
        chart.plot = {0, 50, 500, 50 + height};
        chart.left.SetInverted(inverted);
        chart.Layout(0, 1, lo, hi);
        if (lo == hi) {  // SetRange widens an empty range; put it back to test the centre
          chart.left.EffectiveMaximum = chart.left.EffectiveMinimum;
          chart.left.EffectiveRange = 0;
        }
        EXPECT_EQ(Mismatches(chart.left, values), 0) << height << " " << lo << " " << hi;
      }
}

TEST(FastLineMapping, ColumnIntervalsSpanTheirColumn) {
  // The fast line takes a column's points by comparing X with the interval
  // of the column's first point; a narrow or empty interval sends every
  // point of the column through the mapping on its own. Values near zero on
  // an axis far wider than they are (a prepared series, X = 0, on a bottom
  // axis panned past 0 Hz) once got no interval at all.
  LineChart chart;
  const struct {
    double lo, hi;
    int width;
    std::vector<double> values;
  } rows[] = {
      {-199895000, 3800000000, 548, {0, 1e-300, 5e6, 1234567.89}},
      {-799880000, 4799980000, 548, {0, -1, 146e6}},
      {138000000, 153000000, 503, {138000000, 146520000.5, 152999999}},
      {24000000, 1766000000, 1810, {24000000, 100e6, 1765999999.9}},
      {-120, 25, 290, {0, -119.99, 24.5, -60}},
  };
  for (const auto& r : rows) {
    chart.plot = {17, 13, 17 + r.width, 313};
    chart.Layout(r.lo, r.hi, -120, 25);
    const TAxisPixelMap map(chart.bottom);
    const double column = (r.hi - r.lo) / chart.bottom.AxisLength;
    for (double v : r.values) {
      double lo, hi;
      const int p = map.MapWithValueCell(v, lo, hi);
      EXPECT_TRUE(lo <= v && v <= hi) << r.lo << ".." << r.hi << " value " << v;
      EXPECT_GT(hi - lo, 0.9 * column) << r.lo << ".." << r.hi << " value " << v;
      EXPECT_EQ(chart.bottom.ValueToPixel(lo), p) << v;
      EXPECT_EQ(chart.bottom.ValueToPixel(hi), p) << v;
    }
  }
}
