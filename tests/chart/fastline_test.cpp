// The fast line series: visible range, the canvas calls of the per-point
// walk, the draw-at-once add, hit testing, colour rules, and the fast path
// checked pixel for pixel against the per-point drawing.
#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ChartEngine.h"
#include "Series.h"

using namespace wg;

namespace {

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
  TPoint Project(int x, int y, int) override { return {x, y}; }
  TRect BeginFrame(QPainter*, const TView3DOptions*, const TRect& b, bool) override { return b; }
  bool RepaintFromCache() override { return false; }
  // Nothing else matters to a series.
  void SetBackColor(TColor) override {} void SetBackMode(TCanvasBackMode) override {}
  void SetTextAlign(unsigned) override {} void FillRect(const TRect&) override {}
  void Rectangle(int, int, int, int) override {} void Rectangle(const TRect&) override {}
  void TextOut(int, int, std::string_view) override {} void TextOutZ(int, int, int, std::string_view) override {}
  void RotatedText(int, int, std::string_view, int) override {}
  void RotatedTextZ(int, int, int, std::string_view, int) override {}
  void PresentFrame(QPainter*, QPainter*, const TRect&) override {} void ClipTo(const TRect&) override {}
  void EraseBackground(const TRect&) override {} void MarkDirty() override {} void Suspend3D() override {}
  void Resume3D() override {} void HorizontalLine(int, int, int) override {}
  void VerticalLine(int, int, int) override {} void HorizontalLineZ(int, int, int, int) override {}
  void VerticalLineZ(int, int, int, int) override {} void DepthLine(int, int, int, int) override {}
  void LineZ(int, int, int, int, int) override {} void MoveToZ(int, int, int) override {}
  void LineToZ(int, int, int) override {}
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

}  // namespace

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
    const int n = 1 + static_cast<int>(rng() % 300);
    double x = u(rng) * 100 - 50;
    for (int i = 0; i < n; ++i) {
      x += u(rng) < 0.3 ? 0 : u(rng) * 3;
      s.AddPoint(x, u(rng) * 220 - 10);
    }
    if (round % 4 == 1) s.SetPointX(static_cast<int>(rng() % n), u(rng) * 400 - 100);
    if (round % 4 == 2) s.SetPointX(static_cast<int>(rng() % n), std::nan(""));
    s.XValues().SetMultiplier(round % 5 == 3 ? 1.5 : 1.0);
    s.ReachesRightEdge = round % 3 != 0;
    chart.bottom.SetInverted(round % 7 == 4);
    const double lo = u(rng) * 300 - 100;
    chart.Layout(lo, lo + u(rng) * 200 + 1, 0, 200);

    s.TChartSeries::CalcVisibleRange();
    const int first = s.FirstVisible, last = s.LastVisible;
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

// ---------------------------------------------------------------------------
// Pixels on a real canvas

namespace {

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
void FillSpectrum(TFastLineSeries& s, double startHz, double stopHz, unsigned seed) {
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

}  // namespace

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

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
