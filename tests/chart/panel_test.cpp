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

#include "Chart.h"
#include "Series.h"

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

// The chart as the program configures it.
void ConfigureLikeProgram(TChart& chart, int w = 580, int h = 326) {
  chart.resize(w, h);
  chart.SetView3D(false);
  chart.Legend().SetVisible(false);
  chart.Title().SetText({"FFT", ""});
  chart.BackWall().Brush().SetColor(clWhite);
  chart.BackWall().Brush().SetStyle(bsClear);
  chart.SetColor(clWhite);
  TChartAxis* b = chart.BottomAxis();
  b->Axis().SetWidth(1);
  b->SetEndPosition(97);
  b->SetPositionPercent(-2);
  b->Title().SetCaption("Hz");
  b->SetRange(138e6, 153e6);
  TChartAxis* l = chart.LeftAxis();
  l->SetAutomatic(false);
  l->SetMaximum(25);
  l->SetMinimum(-120);
  l->SetStartPosition(5);
  l->SetPositionPercent(-1);
  l->Axis().SetWidth(1);
  l->Title().SetCaption("dB");
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
  struct Want {
    TChartAxis* axis;
    bool horizontal, farSide;
    int angle;
    bool visible;
  };
  const Want want[] = {{chart.BottomAxis(), true, false, 0, true},
                       {chart.TopAxis(), true, true, 0, true},
                       {chart.LeftAxis(), false, false, 90, true},
                       {chart.RightAxis(), false, true, 270, true},
                       {chart.DepthAxis(), false, true, 0, false}};
  ASSERT_EQ(chart.AxisCount(), 5);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(chart.Axis(i), want[i].axis);
    EXPECT_EQ(chart.Axis(i)->IsHorizontal(), want[i].horizontal);
    EXPECT_EQ(chart.Axis(i)->FarSide(), want[i].farSide);
    EXPECT_EQ(chart.Axis(i)->Title().Angle(), want[i].angle);
    EXPECT_EQ(chart.Axis(i)->Visible(), want[i].visible);
  }
  EXPECT_EQ(&chart.Frame(), &chart.BackWall().Pen());
}

TEST(ChartPanel, SeriesListOwnsAndDetachesItsSeries) {
  bool detached = false;
  {
    TChart chart;
    auto* s = chart.AddSeries(std::make_unique<BareSeries>());
    s->detachedAtDestruction = &detached;
    EXPECT_EQ(chart.Series(0), s);
    EXPECT_EQ(s->ParentChart(), &chart);
    EXPECT_EQ(s->GetHorizAxis(), chart.BottomAxis());
    EXPECT_EQ(s->GetVertAxis(), chart.LeftAxis());
    EXPECT_THROW(chart.Series(1), EListError);

    auto* other = chart.AddSeries(std::make_unique<BareSeries>());
    std::unique_ptr<TChartSeries> back = chart.RemoveSeries(other);
    EXPECT_EQ(back.get(), other);
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
  chart.SetAxisVisible(true);
  chart.Title().SetText({"FFT", ""});
  chart.BackWall().Brush().SetStyle(bsClear);
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
  chart.SetColor(clSilver);
  changed("colour");
  chart.Title().SetText({"FFT"});
  changed("title text");
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
  const QImage resized = Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 3) << "a new size makes the image stale";
  EXPECT_EQ(resized.size(), QSize(300, 200));
  EXPECT_EQ(resized, chart.Canvas().Image());
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
    EXPECT_FALSE(chart.Canvas().Dirty());
  }
  chart.hide();
  chart.Invalidate();
  chart.show();
  QCoreApplication::processEvents();
  EXPECT_FALSE(chart.Canvas().Dirty()) << "invalidated while hidden, drawn when shown";

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

TEST(ChartPanelLayout, WorkedLayoutOfTheProgramsChart) {
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
}

TEST(ChartPanelLayout, TitleAndFootBands) {
  const int h = FontH();
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  // Margins 17 and 13; two title lines, the second empty; the empty foot
  // moves nothing.
  EXPECT_EQ(chart.PlotRect(), (TRect{17, 13 + 2 * h + 5, 563, 313}));
  EXPECT_EQ(chart.PlotYCenter(), (13 + 2 * h + 5 + 313) / 2);

  chart.Title().SetText({});
  chart.Foot().SetText({"foot"});
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect().Top, 13) << "a title without lines takes no room";
  EXPECT_EQ(chart.PlotRect().Bottom, 313 - h - 5);

  chart.Title().SetText({"FFT"});
  chart.Title().Frame().SetVisible(true);
  chart.Title().Frame().SetColor(clBlack);
  chart.Foot().SetVisible(false);
  chart.SetBorderWidth(4);
  DrawAll(chart);
  // The frame's width inside the band and once more outside it.
  EXPECT_EQ(chart.PlotRect(), (TRect{21, 17 + 1 + h + 1 + 5, 559, 309}));
  const TRect box = chart.Title().TitleRect();
  EXPECT_EQ(box.Top, 17);
  EXPECT_NEAR((box.Left + box.Right) / 2, (21 + 559) / 2, 1) << "fitted to the text, centred";
  EXPECT_LT(box.Width(), 559 - 21);
  for (int x = box.Left; x < box.Right; ++x) ASSERT_EQ(Px(chart, x, box.Top), kBlack) << x;
  EXPECT_EQ(Px(chart, box.Right, box.Top), kWhite);
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

  chart.Title().SetVisible(false);
  chart.Foot().SetVisible(false);
  chart.resize(100, 100);
  chart.SetMarginLeft(50);
  chart.SetMarginRight(50);
  chart.SetMarginTop(-10);
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect().Left, 50);
  EXPECT_EQ(chart.PlotRect().Right, 150) << "right on left: pushed out by the control's width";
  EXPECT_EQ(chart.PlotRect().Top, 0) << "no higher than the drawing bounds";
}

// ---------------------------------------------------------------------------
// Shown axes

TEST(ChartPanelAxes, ShownRuleFollowsTheActiveSeries) {
  TChart chart;
  ConfigureLikeProgram(chart);
  auto shown = [&] {
    std::vector<bool> v;
    for (int i = 0; i < chart.AxisCount(); ++i) v.push_back(chart.IsAxisShown(*chart.Axis(i)));
    return v;
  };
  using V = std::vector<bool>;
  EXPECT_EQ(shown(), (V{true, true, true, true, false}));
  auto* s = chart.AddSeries(std::make_unique<BareSeries>());
  EXPECT_EQ(shown(), (V{true, false, true, false, false})) << "the series' axes, also while empty";
  s->SetVertAxis(aRightAxis);
  s->SetHorizAxis(aBothHorizAxis);
  EXPECT_EQ(shown(), (V{true, true, false, true, false}));
  s->SetActive(false);
  EXPECT_EQ(shown(), (V{true, true, true, true, false}));
  chart.LeftAxis()->SetVisible(false);
  EXPECT_EQ(shown(), (V{true, true, false, true, false}));
  chart.SetAxisVisible(false);
  EXPECT_EQ(shown(), (V{false, false, false, false, false}));
  chart.SetAxisVisible(true);
  chart.DepthAxis()->SetVisible(true);
  EXPECT_FALSE(chart.IsAxisShown(*chart.DepthAxis())) << "depth axis only in a 3-D view";
  chart.SetView3D(true);
  EXPECT_TRUE(chart.IsAxisShown(*chart.DepthAxis()));
}

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
}

// ---------------------------------------------------------------------------
// Drawing

TEST(ChartPanelDrawing, BackgroundBevelsAndBorder) {
  TChart chart;
  ConfigureLikeProgram(chart, 200, 100);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  const std::uint32_t light = Rgb(clBtnHighlight), dark = Rgb(clBtnShadow);
  // One raised pixel: light top and left, dark bottom and right, the
  // bottom-left and top-right corners dark.
  EXPECT_EQ(Px(chart, 0, 0), light);
  EXPECT_EQ(Px(chart, 0, 50), light);
  EXPECT_EQ(Px(chart, 199, 0), dark);
  EXPECT_EQ(Px(chart, 0, 99), dark);
  EXPECT_EQ(Px(chart, 100, 99), dark);
  EXPECT_EQ(Px(chart, 1, 1), kWhite);

  chart.SetBevelOuter(bvLowered);
  chart.SetBevelWidth(2);
  chart.SetBorderWidth(1);
  chart.SetBevelInner(bvRaised);
  chart.SetColor(clSilver);
  DrawAll(chart);
  EXPECT_EQ(Px(chart, 1, 1), dark);
  EXPECT_EQ(Px(chart, 198, 98), light);
  EXPECT_EQ(Px(chart, 2, 2), 0xC0C0C0u) << "border in the chart colour";
  EXPECT_EQ(Px(chart, 4, 4), light) << "inner bevel as wide as the outer one";
  EXPECT_EQ(Px(chart, 5, 5), 0xC0C0C0u);
}

TEST(ChartPanelDrawing, BackWallOutlinesPlotRightAndBottomRows) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  const TRect p = chart.PlotRect();
  for (int x = p.Left; x <= p.Right; ++x) {
    ASSERT_EQ(Px(chart, x, p.Top), kBlack) << x;
    ASSERT_EQ(Px(chart, x, p.Bottom), kBlack) << x;
  }
  for (int y = p.Top; y <= p.Bottom; ++y) {
    ASSERT_EQ(Px(chart, p.Left, y), kBlack) << y;
    ASSERT_EQ(Px(chart, p.Right, y), kBlack) << y;
  }
  EXPECT_EQ(Px(chart, p.Right + 1, p.Top + 10), kWhite);
  EXPECT_EQ(Px(chart, p.Left + 10, p.Bottom + 1), kWhite);
  EXPECT_EQ(Px(chart, p.Left + 1, p.Top + 1), kWhite) << "the clear brush leaves the inside";

  chart.SetBackColor(clYellow);
  chart.BackWall().Brush().SetStyle(bsSolid);
  DrawAll(chart);
  EXPECT_EQ(Px(chart, p.Left + 1, p.Top + 1), Rgb(clYellow));
  EXPECT_EQ(Px(chart, p.Right - 1, p.Bottom - 1), Rgb(clYellow));
  EXPECT_EQ(Px(chart, p.Right, p.Bottom), kBlack);
}

TEST(ChartPanelDrawing, TitleTextSitsCentredInItsBand) {
  const int h = FontH();
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  // Ink above the plot, inside the bevel, is "FFT": rows 13 .. 13 + h - 1,
  // centred on the plot, bluish.
  int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
  const QImage& img = chart.Canvas().Image();
  for (int y = 1; y < chart.PlotRect().Top; ++y)
    for (int x = 1; x < img.width() - 1; ++x) {
      const QRgb c = img.pixel(x, y);
      if ((c & 0xFFFFFF) == kWhite) continue;
      EXPECT_GT(qBlue(c), qRed(c)) << x << "," << y;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  ASSERT_GE(right, 0);
  EXPECT_GE(top, 13);
  EXPECT_LT(bottom, 13 + h);
  EXPECT_NEAR((left + right) / 2.0, (17 + 563) / 2.0, 2.5);
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

TEST(ChartPanelDrawing, ZoomRectangleIsNotXorOverTheImage) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  const TRect p = chart.PlotRect();
  const QImage plain = chart.Canvas().Image().copy();

  // Dragged up and to the left, across the plot's left edge.
  TZoomPanningRecord& z = chart.ZoomRecord();
  z.StartAt(p.Left + 40, p.Top + 60);
  z.EndX = p.Left - 5;
  z.EndY = p.Top + 20;
  DrawAll(chart);
  EXPECT_EQ(Px(chart, p.Left - 5, p.Top + 20), kBlack) << "black over white";
  EXPECT_EQ(Px(chart, p.Left + 39, p.Top + 59), kBlack);
  EXPECT_EQ(Px(chart, p.Left, p.Top + 20), kWhite) << "white over the black wall line";
  EXPECT_EQ(Px(chart, p.Left + 40, p.Top + 60), kWhite) << "right and bottom edges exclusive";
  EXPECT_EQ(Px(chart, p.Left + 10, p.Top + 30), kWhite) << "no fill";

  z.Dragging = false;
  DrawAll(chart);
  EXPECT_EQ(chart.Canvas().Image(), plain);
}

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
