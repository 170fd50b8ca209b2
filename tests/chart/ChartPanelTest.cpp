// The chart panel: invalidation and painting, the plotting rectangle's
// arithmetic, the shown axes and the drawing order, checked on the canvas
// image. Text is judged by where its ink lies, never by glyph shapes.
#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "tests/chart/WindowChart.h"

using namespace wg;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;

std::uint32_t Rgb(TColor c) { return ColorToQRgb(c) & 0xFFFFFF; }
std::uint32_t Px(const TChart& chart, int x, int y) { return chart.Canvas().Image().pixel(x, y) & 0xFFFFFF; }

// Every text of the chart has the default font; its height as the canvas
// measures it.
int FontH() {
  TChartCanvas3D c;
  c.AssignFont(DefaultChartFont());
  return c.FontHeight();
}

// A series with no values of its own: it only tells whether it was detached
// from the chart before being freed.
class BareSeries : public TChartSeries {
 public:
  bool* detachedAtDestruction = nullptr;
  ~BareSeries() override {
    if (detachedAtDestruction) *detachedAtDestruction = ParentChart() == nullptr;
  }
};

// A line series whose drawing fails half-way, with its clip set.
class BrokenLine : public TFastLineSeries {
 public:
  bool broken = true;
  void DrawPoints() override {
    if (broken) throw std::runtime_error("broken series");
    TFastLineSeries::DrawPoints();
  }
};

// The chart as the program configures it, on the default scan range.
void ConfigureLikeProgram(TChart& chart, int w = 580, int h = 326) {
  wgtest::SetUpLikeTheWindow(chart, w, h);
  chart.BottomAxis()->SetRange(138e6, 153e6);
}

void DrawAll(TChart& chart) { chart.Draw(nullptr, {0, 0, chart.width(), chart.height()}); }

// Paints the widget the way Qt does, into an image of its size.
QImage Paint(TChart& chart) {
  QImage img(chart.size(), QImage::Format_RGB32);
  img.fill(0xFF00FF00u);
  chart.render(&img);
  return img;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and the series list

TEST(ChartPanel, ConstructionSetsAxesInListOrderAndInvalidatesNothing) {
  TChart chart;
  EXPECT_EQ(chart.InvalidationCount(), 0) << "construction must not reach the window";
  EXPECT_TRUE(chart.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_TRUE(chart.testAttribute(Qt::WA_NoSystemBackground));
  const std::vector<TChartAxis*> order{chart.BottomAxis(), chart.TopAxis(), chart.LeftAxis(),
                                       chart.RightAxis(), chart.DepthAxis()};
  const int angles[] = {0, 0, 90, 270, 0};
  ASSERT_EQ(chart.AxisCount(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(chart.Axis(i), order[i]) << i;
    EXPECT_EQ(chart.Axis(i)->IsHorizontal(), i < 2) << i;
    EXPECT_EQ(chart.Axis(i)->FarSide(), i % 2 == 1 || i == 4) << i;
    EXPECT_EQ(chart.Axis(i)->Title().Angle(), angles[i]) << i;
  }
}

TEST(ChartPanel, SeriesListOwnsAndDetachesItsSeries) {
  bool detached = false;
  {
    TChart chart;
    auto* s = chart.AddSeries(std::make_unique<BareSeries>());
    s->detachedAtDestruction = &detached;
    EXPECT_THROW(chart.Series(1), EListError);
    auto* other = chart.AddSeries(std::make_unique<BareSeries>());
    std::unique_ptr<TChartSeries> back = chart.RemoveSeries(other);
    EXPECT_EQ(other->ParentChart(), nullptr);
    EXPECT_EQ(chart.SeriesCount(), 1);
  }
  EXPECT_TRUE(detached) << "a series is detached from the chart before it is freed";
}

// ---------------------------------------------------------------------------
// Invalidation and painting

TEST(ChartPanel, OnlyAChangedValueInvalidates) {
  TChart chart;
  ConfigureLikeProgram(chart);
  DrawAll(chart);
  const long before = chart.InvalidationCount();
  chart.SetColor(clWhite);
  chart.SetMarginLeft(3);
  chart.Title().SetText({"FFT", ""});
  chart.LeftAxis()->SetMinimum(-120);
  EXPECT_EQ(chart.InvalidationCount(), before);
  EXPECT_FALSE(chart.Canvas().Dirty());

  long n = before;
  auto changed = [&](const char* what) {
    EXPECT_EQ(chart.InvalidationCount(), ++n) << what;
    EXPECT_TRUE(chart.Canvas().Dirty()) << what;
    DrawAll(chart);
  };
  chart.SetMarginTop(5);
  changed("margin");
  chart.Title().Font().SetSize(10);
  changed("title font");
  chart.Frame().SetWidth(2);
  changed("wall pen");
  chart.AddSeries(std::make_unique<BareSeries>());
  changed("series added");
}

TEST(ChartPanel, ImageIsRedrawnOnlyAfterAnInvalidation) {
  TChart chart;
  ConfigureLikeProgram(chart);
  const long draws = chart.DrawCount();
  const QImage first = Paint(chart);
  const QImage second = Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 1) << "an unchanged chart is copied, not drawn";
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, chart.Canvas().Image()) << "the window receives the finished image";

  chart.Title().SetText({"Other"});
  EXPECT_EQ(chart.DrawCount(), draws + 1) << "invalidation draws nothing by itself";
  Paint(chart);
  Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 2);
  chart.resize(300, 200);
  EXPECT_EQ(Paint(chart).size(), QSize(300, 200));
  EXPECT_EQ(chart.DrawCount(), draws + 3) << "a new size makes the image stale";
}

TEST(ChartPanel, OnScreenManyInvalidationsMakeOnePaintEachRound) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.show();
  QCoreApplication::processEvents();
  const long draws = chart.DrawCount();
  ASSERT_GE(draws, 1);
  for (int round = 1; round <= 3; ++round) {
    for (int i = 0; i < 1000; ++i) chart.Invalidate();
    chart.Title().SetText({"round " + std::to_string(round)});
    QCoreApplication::processEvents();
    EXPECT_EQ(chart.DrawCount(), draws + round) << "every round reaches the window, once";
  }

  // A change made inside a drawing does not block later ones.
  bool once = true;
  chart.OnAfterDraw = [&] {
    if (once) chart.Title().SetText({"changed while drawing"});
    once = false;
  };
  chart.Invalidate();
  QCoreApplication::processEvents();
  const long afterEvent = chart.DrawCount();
  chart.Title().SetText({"later"});
  QCoreApplication::processEvents();
  EXPECT_GT(chart.DrawCount(), afterEvent);
}

TEST(ChartPanel, FailingSeriesNeitherEscapesThePaintNorLeavesAClip) {
  TChart chart;
  ConfigureLikeProgram(chart);
  auto* s = chart.AddSeries(std::make_unique<BrokenLine>());
  s->AddPoint(140e6, 1);
  s->AddPoint(150e6, 2);
  EXPECT_THROW(DrawAll(chart), std::runtime_error);
  EXPECT_TRUE(chart.Canvas().Dirty()) << "a failed drawing is not a valid image";
  EXPECT_FALSE(chart.Canvas().Clipped()) << "the series' clip must not outlive the frame";
  EXPECT_NO_THROW(Paint(chart));

  s->broken = false;
  Paint(chart);
  EXPECT_FALSE(chart.Canvas().Dirty());
  EXPECT_EQ(Px(chart, 0, 0), Rgb(clBtnHighlight)) << "the next image is whole, unclipped";
}

// ---------------------------------------------------------------------------
// Plotting rectangle

TEST(ChartPanelLayout, WorkedLayoutTitleAndFootBands) {
  const int h = FontH();
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.AddSeries(std::make_unique<BareSeries>());
  // The left axis measures its widest label with the axis length of the
  // drawing before; the second drawing is the settled one.
  DrawAll(chart);
  DrawAll(chart);
  EXPECT_EQ(chart.DrawBounds(), (TRect{0, 0, 580, 326}));
  const int wl = chart.LeftAxis()->WidestLabel();
  ASSERT_GT(wl, 0);
  EXPECT_EQ(chart.PlotRect(), (TRect{17 + h + wl + 5, 13 + 2 * h + 5, 563, 313 - h - h - 5}));
  EXPECT_EQ(chart.BottomAxis()->StartPixel, chart.PlotRect().Left);
  EXPECT_EQ(chart.LeftAxis()->EndPixel, chart.PlotRect().Bottom);

  // Without axes: margins 17 and 13; two title lines, the second empty; the
  // empty foot moves nothing.
  chart.SetAxisVisible(false);
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect(), (TRect{17, 13 + 2 * h + 5, 563, 313}));
  chart.Title().SetText({});
  chart.Foot().SetText({"foot"});
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect().Top, 13) << "a title without lines takes no room";
  EXPECT_EQ(chart.PlotRect().Bottom, 313 - h - 5);
  chart.Title().SetText({"FFT"});
  chart.Title().Frame().SetVisible(true);
  chart.Foot().SetVisible(false);
  chart.SetBorderWidth(4);
  DrawAll(chart);
  // The frame's width inside the band and once more outside it.
  EXPECT_EQ(chart.PlotRect(), (TRect{21, 17 + 1 + h + 1 + 5, 559, 309}));
}

TEST(ChartPanelLayout, TinyControlKeepsAUsablePlot) {
  TChart chart;
  ConfigureLikeProgram(chart, 580, 30);
  chart.SetAxisVisible(false);
  chart.Title().SetText({"A", "B", "C", "D"});
  DrawAll(chart);
  const int top = 1 + 4 * FontH() + 5;  // MulDiv(4, 30, 100) = 1
  ASSERT_GT(top, 29);
  EXPECT_EQ(chart.PlotRect().Top, top);
  EXPECT_EQ(chart.PlotRect().Bottom, top + 1) << "bottom above top: one below top";
}

// ---------------------------------------------------------------------------
// Shown axes

TEST(ChartPanelAxes, TopAndRightAxesOnlyWithoutAnActiveSeries) {
  const int h = FontH();
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.TopAxis()->Title().SetCaption("TOP");
  chart.RightAxis()->Title().SetCaption("RIGHT");
  bool above = false, right = false;
  // Ink between the title text and the plot, and right of the plot.
  auto look = [&] {
    DrawAll(chart);
    const TRect p = chart.PlotRect();
    above = right = false;
    for (int y = 13 + h; y < p.Top; ++y)
      for (int x = 1; x < 579; ++x) above |= Px(chart, x, y) != kWhite;
    for (int y = p.Top; y <= p.Bottom; ++y)
      for (int x = p.Right + 1; x < 579; ++x) right |= Px(chart, x, y) != kWhite;
  };
  auto* s = chart.AddSeries(std::make_unique<BareSeries>());
  look();
  EXPECT_FALSE(above) << "no top axis while the series is active";
  EXPECT_FALSE(right) << "no right axis while the series is active";
  s->SetActive(false);
  look();
  EXPECT_TRUE(above) << "all four axes without an active series";
  EXPECT_TRUE(right);
  EXPECT_LT(chart.PlotRect().Right, 563 - h);

  // An active series shows the axes it is on, also while empty.
  auto shown = [&] {
    std::vector<bool> v;
    for (int i = 0; i < chart.AxisCount(); ++i) v.push_back(chart.IsAxisShown(*chart.Axis(i)));
    return v;
  };
  using V = std::vector<bool>;
  s->SetActive(true);
  s->SetVertAxis(aRightAxis);
  s->SetHorizAxis(aBothHorizAxis);
  EXPECT_EQ(shown(), (V{true, true, false, true, false}));
  chart.SetAxisVisible(false);
  EXPECT_EQ(shown(), (V{false, false, false, false, false}));
}

// ---------------------------------------------------------------------------
// Drawing

TEST(ChartPanelDrawing, BevelAndBackWallOutlineOnPlotRightAndBottomRows) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  const TRect p = chart.PlotRect();
  for (int x = p.Left; x <= p.Right; ++x)
    ASSERT_TRUE(Px(chart, x, p.Top) == kBlack && Px(chart, x, p.Bottom) == kBlack) << x;
  for (int y = p.Top; y <= p.Bottom; ++y)
    ASSERT_TRUE(Px(chart, p.Left, y) == kBlack && Px(chart, p.Right, y) == kBlack) << y;
  EXPECT_EQ(Px(chart, p.Right + 1, p.Top + 10), kWhite);
  EXPECT_EQ(Px(chart, p.Left + 10, p.Bottom + 1), kWhite);
  EXPECT_EQ(Px(chart, p.Left + 1, p.Top + 1), kWhite) << "the clear brush leaves the inside";
  // One raised bevel pixel: light top and left, dark bottom and right.
  EXPECT_EQ(Px(chart, 0, 0), Rgb(clBtnHighlight));
  EXPECT_EQ(Px(chart, 579, 0), Rgb(clBtnShadow));
  EXPECT_EQ(Px(chart, 0, 325), Rgb(clBtnShadow));

  chart.SetBackColor(clYellow);
  chart.BackWall().Brush().SetStyle(bsSolid);
  DrawAll(chart);
  EXPECT_EQ(Px(chart, p.Right - 1, p.Bottom - 1), Rgb(clYellow));
  EXPECT_EQ(Px(chart, p.Right, p.Bottom), kBlack);
}

TEST(ChartPanelDrawing, LineSeriesIsDrawnClippedBetweenTheEvents) {
  TChart chart;
  ConfigureLikeProgram(chart);
  auto* line = chart.AddSeries(std::make_unique<TFastLineSeries>());
  line->SetSeriesColor(clRed);
  for (int i = 0; i <= 300; ++i) line->AddPoint(130e6 + i * 1e5, -57);
  std::vector<std::string> log;
  chart.OnBeforeDrawAxes = [&] { log.push_back("axes"); };
  chart.OnBeforeDrawSeries = [&] { log.push_back("series"); };
  line->BeforeDrawValues = [&](TChartSeries&) { log.push_back("values"); };
  chart.OnAfterDraw = [&] { log.push_back("after"); };
  DrawAll(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"axes", "series", "values", "after"}));

  // The trace, wider than the axis, shows from one past the plot's left edge
  // to one before its right edge, over the wall, the grid and the axes.
  const TRect p = chart.PlotRect();
  const int y = chart.LeftAxis()->ValueToPixel(-57);
  for (int tick : chart.LeftAxis()->TickPositions()) ASSERT_NE(tick, y) << "no grid line on the trace row";
  for (int x = p.Left + 1; x < p.Right; ++x) ASSERT_EQ(Px(chart, x, y), Rgb(clRed)) << x;
  EXPECT_EQ(Px(chart, p.Left, y), kBlack);
  EXPECT_EQ(Px(chart, p.Right, y), kBlack);

  log.clear();
  chart.SetAxisVisible(false);
  chart.SetClipPoints(false);
  DrawAll(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"series", "values", "after"}));
  const int y2 = chart.LeftAxis()->ValueToPixel(-57);
  EXPECT_EQ(Px(chart, chart.PlotRect().Right + 1, y2), Rgb(clRed)) << "unclipped";
  line->SetActive(false);
  log.clear();
  DrawAll(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"series", "after"}));
}
