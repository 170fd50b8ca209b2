// The fast line series: visible range, the canvas calls of the per-point
// walk, the draw-at-once add, hit testing and colour rules.
#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
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

// ---------------------------------------------------------------------------
// Visible range and the per-point walk

TEST_F(FastLineCalls, WalkMovesOnceSkipsThePreviousPixelAndEntersFromTheLeft) {
  Add({{20, 30}});
  EXPECT_EQ(Draw(), (Log{"MoveTo 20,170"}));
  ExpectRange(0, 0);

  // Three points on one pixel after a point elsewhere: one LineTo, two skips.
  // A point back on an earlier, not the previous, pixel is drawn again.
  chart.series.ClearPoints();
  chart.series.XValues().SetOrder(loNone);  // keep the points in call order
  Add({{0, 0}, {50, 50}, {50.1, 50.1}, {50.2, 49.9}, {60, 50}, {60.4, 50}, {50, 50}, {51, 50}});
  EXPECT_EQ(Draw(), (Log{"MoveTo 0,200", "LineTo 50,150", "LineTo 60,150", "LineTo 50,150", "LineTo 51,150"}));
  EXPECT_EQ(chart.series.PrevPixelX, 51);
  EXPECT_EQ(chart.series.PrevPixelY, 150);

  // Points 0 … 4 left of the range: the line enters from point 4 to 5.
  chart.series.ClearPoints();
  chart.series.XValues().SetOrder(loAscending);
  for (int i = 0; i < 12; ++i) chart.series.AddPoint(10.0 * i, 5.0 * i);
  chart.Layout(45, 200, 0, 200);
  auto col = [](double v) { return static_cast<int>(std::nearbyint((v - 45) * 200 / 155)); };
  const Log log = Draw();
  ExpectRange(5, 11);
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[0], "Line " + RecordingCanvas::P(col(40), 180) + " " + RecordingCanvas::P(col(50), 175));
  EXPECT_EQ(log[1], "LineTo " + RecordingCanvas::P(col(60), 170));
}

TEST_F(FastLineCalls, RangeEdgesAndEmptySeries) {
  Draw();
  ExpectRange(-1, -1);

  for (int i = 0; i < 5; ++i) chart.series.AddPoint(100.0 + i, 50);
  // All left of the range: nothing, and no hook is called.
  int hooks = 0;
  chart.series.BeforeDrawValues = [&](TChartSeries&) { ++hooks; };
  chart.series.AfterDrawValues = [&](TChartSeries&) { ++hooks; };
  chart.Layout(1000, 2000, 0, 200);
  EXPECT_TRUE(Draw().empty());
  ExpectRange(-1, -1);
  EXPECT_EQ(hooks, 0);

  // All right of it: the first point stays, as a single move.
  chart.Layout(-200, -100, 0, 200);
  EXPECT_EQ(Draw().size(), 1u);
  ExpectRange(0, 0);
  EXPECT_EQ(hooks, 2);

  // The line runs on to the first point at or beyond the right edge.
  chart.Layout(0, 101.5, 0, 200);
  Draw();
  ExpectRange(0, 2);
  chart.series.ReachesRightEdge = false;
  Draw();
  ExpectRange(0, 1);

  // Two neighbours either side of the range still give the segment across.
  chart.series.ReachesRightEdge = true;
  chart.Layout(101.2, 101.8, 0, 200);
  Draw();
  ExpectRange(2, 2);

  chart.series.ClearPoints();
  EXPECT_TRUE(Draw().empty());
  ExpectRange(-1, -1);
}

TEST_F(FastLineCalls, StaleRangeNeverReadsPastTheLastPoint) {
  for (int i = 0; i < 10; ++i) chart.series.AddPoint(10.0 * i, 10);
  Draw();
  ASSERT_EQ(chart.series.LastVisible, 9);
  // Points go, the range of the last drawing stays until the next one.
  chart.series.ClearPoints();
  for (int i = 0; i < 4; ++i) chart.series.AddPoint(10.0 * i, 10);
  EXPECT_NO_THROW(EXPECT_EQ(chart.series.HitTest(200, 200), -1));
  EXPECT_EQ(chart.series.HitTest(30, 190), 3);
  rec.log.clear();
  EXPECT_NO_THROW(chart.series.DrawPoints());
  EXPECT_EQ(rec.log.size(), 4u);
  chart.series.ClearPoints();
  EXPECT_NO_THROW(EXPECT_EQ(chart.series.HitTest(0, 190), -1));
}

TEST_F(FastLineCalls, AutoRepaintFalseDrawsTheNewSegmentAtOnce) {
  Add({{10, 10}, {20, 20}, {30, 20}});
  Draw();
  rec.log.clear();
  chart.series.SetAutoRepaint(false);
  chart.series.LinePen().SetWidth(3);
  chart.invalidations = 0;
  chart.series.AddPoint(40, 50);
  EXPECT_EQ(rec.log, (Log{"MoveTo 30,180", "LineTo 40,150"}));
  EXPECT_EQ(rec.Pen().Width(), 3);
  EXPECT_EQ(rec.Pen().Color(), clRed);

  // The new point's pixel equals where the last pass ended, but not the
  // point before it: the segment is still drawn.
  rec.log.clear();
  chart.series.PrevPixelX = 45;
  chart.series.PrevPixelY = 150;
  chart.series.AddPoint(45, 50);
  EXPECT_EQ(rec.log, (Log{"MoveTo 40,150", "LineTo 45,150"}));
  EXPECT_EQ(chart.invalidations, 0);

  // A hidden series draws nothing; with AutoRepaint the chart redraws.
  rec.log.clear();
  chart.series.SetActive(false);
  chart.series.AddPoint(60, 60);
  chart.series.SetActive(true);
  chart.series.SetAutoRepaint(true);
  chart.invalidations = 0;
  chart.series.AddPoint(70, 60);
  EXPECT_TRUE(rec.log.empty());
  EXPECT_EQ(chart.invalidations, 1);
}

TEST_F(FastLineCalls, ColourRulesAndPenChangesAskForARedraw) {
  // The series colour sets the line pen's; the pen's own colour is what draws
  // and leaves the series colour alone; a whole new pen brings its colour.
  chart.series.LinePen().SetColor(clBlue);
  EXPECT_EQ(chart.series.SeriesColor(), clRed);
  Add({{10, 10}, {20, 20}});
  Draw();
  EXPECT_EQ(rec.Pen().Color(), clBlue);
  chart.series.SetSeriesColor(clBlack);
  EXPECT_EQ(chart.series.LinePen().Color(), clBlack);
  TChartPen green;
  green.SetColor(clGreen);
  green.SetWidth(2);
  chart.series.SetLinePen(green);
  EXPECT_EQ(chart.series.SeriesColor(), clGreen);
  EXPECT_EQ(chart.series.LinePen().Width(), 2);

  // Only real changes repaint.
  chart.invalidations = 0;
  chart.series.LinePen().SetWidth(2);
  chart.series.SetSeriesColor(clGreen);
  EXPECT_EQ(chart.invalidations, 0);
  chart.series.LinePen().SetVisible(false);
  EXPECT_EQ(chart.invalidations, 1);
  // An invisible pen still moves: the walk is the same, nothing is drawn.
  EXPECT_EQ(Draw(), (Log{"MoveTo 10,190", "LineTo 20,180"}));
  EXPECT_EQ(rec.Pen().Style(), psClear);
}

// ---------------------------------------------------------------------------
// Hit testing

TEST_F(FastLineCalls, HitTestFindsPointsAndSegments) {
  // Point i at column 10 i; points 7 and 8 at rows 80 and 60.
  for (int i = 0; i < 12; ++i) chart.series.AddPoint(10.0 * i, i == 7 ? 120 : i == 8 ? 140 : 100);
  EXPECT_EQ(chart.series.HitTest(70, 80), -1);  // nothing drawn yet
  Draw();
  const struct {
    int x, y, want;
  } cases[] = {{70, 80, 7}, {80, 60, 8}, {0, 100, 0},   {75, 70, 7},  {74, 72, 7},
               {35, 100, 3}, {75, 72, -1}, {30, 5, -1}, {150, 100, -1}};
  for (const auto& c : cases) EXPECT_EQ(chart.series.HitTest(c.x, c.y), c.want) << c.x << "," << c.y;
}

TEST_F(FastLineCalls, VisibleRangeAndHitTestAgreeWithThePlainWalks) {
  // The series' own searches and hit walk read the stored values directly;
  // they must agree with the base class's searches and with a walk through
  // PointPixelX and PointPixelY, also on unordered, repeated and NaN values.
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(0, 1);
  TFastLineSeries& s = chart.series;
  chart.plot = {20, 10, 220, 190};
  for (int round = 0; round < 40; ++round) {
    s.ClearPoints();
    const int n = 1 + static_cast<int>(rng() % (round % 2 ? 3000 : 300));
    const double pace = round % 2 ? 0.3 : 3;
    double x = u(rng) * 100 - 50;
    for (int i = 0; i < n; ++i) {
      x += u(rng) < 0.3 ? 0 : u(rng) * pace;
      s.AddPoint(x, u(rng) * 220 - 10);
    }
    // A last point so far off that the axis sends it to its centre.
    if (round % 6 == 5) s.AddPoint(1e18, 50);
    if (round % 4 == 1) s.SetPointX(static_cast<int>(rng() % n), u(rng) * 400 - 100);
    if (round % 4 == 2) s.SetPointX(static_cast<int>(rng() % n), std::nan(""));
    s.XValues().SetMultiplier(round % 5 == 3 ? 1.5 : 1.0);
    s.ReachesRightEdge = round % 3 != 0;
    chart.bottom.SetInverted(round % 7 == 4);
    const double lo = u(rng) * 300 - 100;
    chart.Layout(lo, lo + u(rng) * 200 + 1, 0, 200);

    // The straight searches over the values as read.
    const int count = s.PointCount();
    const TRect plot = chart.GetPlotRect();
    const double left = chart.bottom.PixelToValue(chart.bottom.Inverted() ? plot.Right : plot.Left);
    const double right = chart.bottom.PixelToValue(chart.bottom.Inverted() ? plot.Left : plot.Right);
    int first = 0, last = -1;
    while (first < count && s.PointX(first) < left) ++first;
    if (first == count) {
      first = -1;
    } else if (s.PointX(count - 1) <= right) {
      last = count - 1;
    } else {
      last = first;
      while (last < count && s.PointX(last) < right) ++last;
      last = std::min(last, count - 1);
      if (!s.ReachesRightEdge && s.PointX(last) > right) --last;
    }
    s.CalcVisibleRange();
    ASSERT_EQ(s.FirstVisible, first) << "round " << round;
    ASSERT_EQ(s.LastVisible, last) << "round " << round;
    const bool any = first >= 0 && last >= first;

    auto plainHit = [&](TPoint t) {
      if (!any) return -1;
      TPoint prev{0, 0};
      for (int i = first; i <= last; ++i) {
        const TPoint p{s.PointPixelX(i), s.PointPixelY(i)};
        if (p == t) return i;
        if (i > first && TFastLineSeries::PointOnSegment(t, p, prev)) return i - 1;
        prev = p;
      }
      return -1;
    };
    int hits = 0;
    for (int k = 0; k < 400; ++k) {
      TPoint t{static_cast<int>(rng() % 240), static_cast<int>(rng() % 200)};
      if (k % 2 == 0 && any) {  // aim at a visible point, or next to it
        const int i = first + static_cast<int>(rng() % static_cast<unsigned>(last - first + 1));
        t = {s.PointPixelX(i) + static_cast<int>(rng() % 3) - 1, s.PointPixelY(i)};
      }
      const int want = plainHit(t);
      ASSERT_EQ(s.HitTest(t.X, t.Y), want) << "round " << round << " at " << t.X << "," << t.Y;
      hits += want >= 0;
    }
    if (any) {
      EXPECT_GT(hits, 0) << "round " << round;
    }
  }
}

TEST(FastLineGeometry, PointOnSegment) {
  constexpr int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  const struct {
    TPoint p, a, b;
    int tolerance;
    bool on;
  } cases[] = {
      {{4, 2}, {0, 0}, {10, 5}, 0, true},
      {{3, 1}, {0, 0}, {10, 5}, 0, true},    // |3*5 - 1*10| = 5 < 10
      {{3, 0}, {0, 0}, {10, 5}, 0, false},   // 15
      {{10, 5}, {0, 0}, {10, 5}, 0, true},
      {{12, 6}, {0, 0}, {10, 5}, 0, false},  // beyond the end
      {{12, 6}, {0, 0}, {10, 5}, 2, true},
      {{-2, -1}, {0, 0}, {10, 5}, 1, false},
      {{3, 3}, {3, 3}, {3, 3}, 0, false},  // a zero-length segment contains nothing
      // Vertical segments check only the axis they run along.
      {{5, 7}, {5, 0}, {5, 9}, 0, true},
      {{5, 10}, {5, 0}, {5, 9}, 0, false},
      {{6, 7}, {5, 0}, {5, 9}, 0, false},
      // Pixels at the far ends of the int range do not overflow the test.
      {{0, 0}, {kMin + 1, kMin + 1}, {kMax, kMax}, 0, true},
      {{0, 1}, {kMin + 1, kMin + 1}, {kMax, kMax}, 0, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TFastLineSeries::PointOnSegment(c.p, c.a, c.b, c.tolerance), c.on)
        << c.p.X << "," << c.p.Y << " on " << c.a.X << "," << c.a.Y << " - " << c.b.X << "," << c.b.Y;
}
