// Series whose points are not their own: a series prepared for a sweep holds
// no storage until a point is changed, and one that shows a stepped sweep
// reads it where it lies. Both must read, change and draw exactly as a
// series holding the same values would.
#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "chart/SteppedPoints.h"
#include "sweep/Sweep.h"
#include "tests/chart/LineChart.h"

using namespace wg;
using namespace wgtest;

namespace {

// Steps of `per` points `spacing` apart; a step left out after the second
// (the trace does not cross where it would be), untuned steps of NaN,
// carriers over noise.
struct Steps {
  std::vector<int64_t> starts;
  std::vector<float> levels;
  int per = 0;
  double spacing = 0;

  Steps(int steps, int perStep, double space, unsigned seed) : per(perStep), spacing(space) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(-95.0f, 4.0f);
    const auto width = static_cast<int64_t>(perStep * space);
    for (int k = 0; k < steps + 1; ++k) {
      if (k == 2) continue;
      starts.push_back(138000000 + width * k);
      const bool untuned = k % 5 == 4;
      for (int g = 0; g < perStep; ++g)
        levels.push_back(untuned ? NAN : noise(rng) + (g % 97 == 5 ? 60.0f : 0.0f));
    }
  }
  // Shared with the series: the arrays live as long as the returned owner.
  TSteppedPoints Points(const std::shared_ptr<const void>& owner) const {
    return {owner, starts.data(), starts.size(), per, spacing, levels.data()};
  }
  // The same with the extremes of each block of a step, as a sweep has them.
  std::vector<float> blocks;
  TSteppedPoints PointsWithBlocks(const std::shared_ptr<const void>& owner) {
    blocks = SummariseBlocks(levels, per);
    TSteppedPoints p = Points(owner);
    p.blocks = blocks.data();
    p.blockPoints = kSummaryPoints;
    return p;
  }
  std::size_t Count() const { return levels.size(); }
};

class ShownPoints : public FastLinePixels {
 protected:
  // Draws both ways, expecting the same pixels, and returns the picture.
  QImage Both(const std::string& what) {
    ExpectSameBothWays(true, 360, 240, what);
    return Render(true, true, 360, 240);
  }
};

}  // namespace

TEST_F(ShownPoints, APreparedSeriesHoldsNothingUntilAPointChanges) {
  TChartSeries& s = chart.series;
  s.ResetPoints(5120000, 0, 0, clRed);
  EXPECT_EQ(s.PointCount(), 5120000);
  EXPECT_EQ(s.StorageBytes(), 0u) << "the widest range prepared without storage";
  EXPECT_TRUE(s.XValues().Constant());
  EXPECT_EQ(s.PointX(5119999), 0);
  EXPECT_EQ(s.MaxY(), 0);
  EXPECT_EQ(s.YValues().CountedValues(), 5120000);
  EXPECT_TRUE(s.XValues().Ascending());
  EXPECT_EQ(s.PointColor(77), clRed);

  // The first change copies every point into storage of its own.
  s.SetPointY(3, -40);
  EXPECT_FALSE(s.YValues().Borrowed());
  EXPECT_GE(s.StorageBytes(), 5120000u * 16);
  EXPECT_EQ(s.PointY(3), -40);
  EXPECT_EQ(s.PointY(4), 0);
  EXPECT_EQ(s.MinY(), -40);

  // A gap for every point draws nothing and leaves the pen up.
  s.ResetPoints(1000, 5, NAN, clRed);
  EXPECT_EQ(s.YValues().CountedValues(), 0);
  EXPECT_EQ(ExpectSameBothWays(true, 360, 240, "gaps"), 0);
}

TEST_F(ShownPoints, ShownStepsReadAsTheSweepAndTheirOwnerStaysAlive) {
  auto steps = std::make_shared<Steps>(6, 64, 781.25, 3);
  TChartSeries& s = chart.series;
  const int n = static_cast<int>(steps->Count()) + 100;  // the sweep lost a step
  s.ResetPoints(n, 0, 0, clRed);
  chart.invalidations = 0;
  s.ShowPoints(steps->Points(steps));
  EXPECT_EQ(chart.invalidations, 1);
  EXPECT_EQ(s.PointCount(), n);
  EXPECT_EQ(s.StorageBytes(), 0u);
  EXPECT_EQ(s.PointColor(n - 1), clRed);
  EXPECT_EQ(s.PointX(0), 138000000.0);
  EXPECT_EQ(s.PointX(64 * 2), 138000000.0 + 3 * 50000) << "the step left out is skipped";
  EXPECT_EQ(s.PointX(65), 138000000.0 + 50000 + 781.25);
  EXPECT_EQ(s.PointY(5), steps->levels[5]);
  EXPECT_EQ(s.PointX(n - 1), s.PointX(n - 101)) << "past the sweep's end: its last point";
  EXPECT_TRUE(std::isnan(s.PointY(64 * 3)));
  EXPECT_TRUE(s.XValues().Ascending());
  EXPECT_FALSE(s.XValues().Uniform());
  EXPECT_EQ(s.MinX(), 138000000.0);
  EXPECT_EQ(s.MaxX(), s.PointX(n - 1));

  std::weak_ptr<Steps> owner = steps;
  steps.reset();
  EXPECT_FALSE(owner.expired()) << "the series keeps what it shows";
  // A write through the point operations copies the points, then lets go.
  const double before = s.PointX(200);
  s.SetPointY(0, 1);
  EXPECT_TRUE(owner.expired());
  EXPECT_EQ(s.PointX(200), before);
  EXPECT_EQ(s.PointY(0), 1);
  EXPECT_EQ(s.XValues().Values().size(), static_cast<std::size_t>(n));

  // Nothing to show is refused and changes nothing.
  Steps none(0, 0, 1, 1);
  EXPECT_THROW(s.ShowPoints(none.Points(nullptr)), ChartException);
  EXPECT_EQ(s.PointY(0), 1);
}

// The trace drawn from a shown sweep is the trace drawn from the same values
// held point by point: fast path and per-point walk, whole, zoomed in across
// a step's edge and zoomed out far below a pixel per step.
TEST_F(ShownPoints, AShownSweepDrawsThePixelsOfTheSameValuesHeld) {
  chart.plot = {30, 20, 330, 220};
  TFastLineSeries& s = chart.series;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    auto steps = std::make_shared<Steps>(seed == 4 ? 60 : 9, seed == 4 ? 4096 : 64, 781.25, seed);
    const int n = static_cast<int>(steps->Count()) + (seed % 2 ? 0 : 5);
    const auto show = [&] {
      s.ResetPoints(n, 0, 0, clRed);
      s.ShowPoints(steps->Points(steps));
    };
    show();
    std::vector<std::pair<double, double>> values;
    for (int i = 0; i < n; ++i) {
      // Where the step was left out nothing was measured: held, that is a gap.
      if (i == 2 * steps->per) values.emplace_back(s.PointX(i) - steps->spacing, NAN);
      values.emplace_back(s.PointX(i), s.PointY(i));
    }
    const double x0 = values.front().first, x1 = values.back().first;
    struct View {
      const char* name;
      double lo, hi;
    };
    for (const View& v : {View{"whole", x0, x1}, View{"step edge", x0 + 49000, x0 + 51500},
                          View{"past both ends", x0 - 1e6, x1 + 1e6}}) {
      const std::string what = "seed " + std::to_string(seed) + " " + v.name;
      chart.Layout(v.lo, v.hi, -120, 25);
      show();
      const QImage shown = Both(what + " shown");
      s.ClearPoints();
      for (const auto& [x, y] : values) s.AddPoint(x, y);
      const QImage held = Both(what + " held");
      EXPECT_EQ(shown, held) << what;
    }
  }
}

// A trace of millions of points draws a whole block of a step that falls in
// one pixel column from the block's extremes: the pixels must be those of
// every point drawn, at every zoom, around gaps, step joins and blocks cut
// short by a step's end.
TEST_F(ShownPoints, BlockExtremesDrawThePixelsOfEveryPoint) {
  chart.plot = {30, 20, 330, 220};
  TFastLineSeries& s = chart.series;
  struct Case {
    int steps, per;
    double spacing;
  };
  unsigned seed = 10;
  for (const Case& c : {Case{60, 4096, 781.25}, Case{200, 100, 30000.0}, Case{40, 4000, 800.0}}) {
    auto steps = std::make_shared<Steps>(c.steps, c.per, c.spacing, ++seed);
    const int n = static_cast<int>(steps->Count());
    const double x0 = steps->starts.front(), x1 = steps->starts.back() + c.per * c.spacing;
    const double width = x1 - x0;
    for (const auto& [name, lo, hi] :
         {std::tuple{"whole", x0, x1}, std::tuple{"a third", x0 + width / 3, x0 + 2 * width / 3},
          std::tuple{"step join", x0 + c.per * c.spacing * 2.5, x0 + c.per * c.spacing * 3.7},
          std::tuple{"odd edges", x0 + 12345.6, x1 - 98765.4}}) {
      const std::string what = std::to_string(c.per) + " a step, " + name;
      chart.Layout(lo, hi, -120, 25);
      s.ResetPoints(n, 0, 0, clRed);
      s.ShowPoints(steps->Points(steps));
      const QImage plain = Render(true, true, 360, 240);
      s.ResetPoints(n, 0, 0, clRed);
      s.ShowPoints(steps->PointsWithBlocks(steps));
      const QImage blocks = Both(what);
      EXPECT_EQ(plain, blocks) << what;
    }
  }
}

// Two steps of four points ten apart, the second from `second` (on the
// 200 x 200 plot value v lies in column v, row 200 - v): the trace goes on
// across a join, a small overlap or a bin's slack, not across more.
TEST_F(FastLineCalls, StepsApartAreNotJoined) {
  const struct {
    int second;
    bool joined;
  } rows[] = {{35, true}, {40, true}, {50, true}, {60, false}, {160, false}};
  const float levels[8] = {10, 20, 30, 40, 40, 60, 70, 80};
  for (const auto& r : rows) {
    auto starts = std::make_shared<std::vector<int64_t>>(std::vector<int64_t>{0, r.second});
    chart.Layout(0, 200, 0, 200);
    chart.series.ResetPoints(8, 0, 0, clRed);
    chart.series.ShowPoints({starts, starts->data(), 2, 4, 10.0, levels});
    const Log log = Draw();
    ASSERT_EQ(log.size(), 8u) << r.second;
    EXPECT_EQ(log[4], (r.joined ? "LineTo " : "MoveTo ") + RecordingCanvas::P(r.second, 160));
    // Between the steps on the level both share: the segment, if drawn.
    EXPECT_EQ(chart.series.HitTest((30 + r.second) / 2, 160), r.joined ? 3 : -1) << r.second;
    // The second step's first point shown first: a segment in only if joined.
    chart.Layout(r.second - 1, r.second + 199, 0, 200);
    EXPECT_EQ(Draw().front().rfind(r.joined ? "Line " : "MoveTo ", 0), 0u) << r.second;
  }
}

// A recorded sweep over two bands far apart (0.1 and 3999 MHz): the plot
// between them stays blank, drawn either way.
TEST_F(ShownPoints, NoLineAcrossTheBandBetweenStepsFarApart) {
  chart.plot = {30, 20, 330, 220};
  auto steps = std::make_shared<Steps>(2, 4096, 781.25, 21);
  steps->starts = {100000, 3999000000};
  chart.Layout(0, 4002e6, -120, 25);
  chart.series.ResetPoints(2 * 4096, 0, 0, clRed);
  chart.series.ShowPoints(steps->Points(steps));
  const QImage img = Both("far apart");
  int inked = 0;
  for (int x = chart.bottom.ValueToPixel(3300000) + 1; x < chart.bottom.ValueToPixel(3999e6); ++x)
    for (int y = 0; y < img.height(); ++y) inked += (img.pixel(x, y) & 0xFFFFFF) != kWhite;
  EXPECT_EQ(inked, 0);
}
