// The chart panel: construction, invalidation and painting, the plotting
// rectangle's arithmetic, and the drawing order, checked on the canvas image.
// Text is judged by where its ink lies, never by glyph shapes.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Chart.h"
#include "Series.h"
#include "panel_test_util.h"

using namespace wg;
using namespace wg::paneltest;

namespace {

// Paints the widget the way Qt does, into an image of its size.
QImage Paint(TChart& chart) {
  QImage img(chart.size(), QImage::Format_RGB32);
  img.fill(0xFF00FF00u);
  chart.render(&img);
  return img;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TEST(ChartPanelConstruction, DefaultsAxesAndNoInvalidation) {
  TChart chart;
  EXPECT_EQ(chart.InvalidationCount(), 0) << "construction must not reach the window";
  EXPECT_TRUE(chart.RepaintEnabled());
  EXPECT_TRUE(chart.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_TRUE(chart.testAttribute(Qt::WA_NoSystemBackground));
  EXPECT_EQ(chart.width(), 400);
  EXPECT_EQ(chart.height(), 250);

  EXPECT_EQ(chart.MarginLeft(), 3);
  EXPECT_EQ(chart.MarginTop(), 4);
  EXPECT_EQ(chart.MarginRight(), 3);
  EXPECT_EQ(chart.MarginBottom(), 4);
  EXPECT_TRUE(chart.View3D());
  EXPECT_EQ(chart.Chart3DPercent(), 15);
  EXPECT_EQ(chart.Color(), clBtnFace);
  EXPECT_EQ(chart.BevelOuter(), bvRaised);
  EXPECT_EQ(chart.BevelInner(), bvNone);
  EXPECT_EQ(chart.BevelWidth(), 1);
  EXPECT_EQ(chart.BorderWidth(), 0);
  EXPECT_TRUE(chart.AllowZoom());
  EXPECT_EQ(chart.AllowPanning(), pmBoth);
  EXPECT_FALSE(chart.AnimatedZoom());
  EXPECT_EQ(chart.AnimatedZoomSteps(), 8);
  EXPECT_FALSE(chart.Gradient().Visible());
  EXPECT_EQ(chart.Gradient().StartColor(), clWhite);
  EXPECT_EQ(chart.Gradient().EndColor(), clYellow);
  EXPECT_TRUE(chart.AxisVisible());
  EXPECT_TRUE(chart.ClipPoints());
  EXPECT_EQ(chart.SeriesCount(), 0);

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
    EXPECT_EQ(chart.Axis(i)->ParentChart(), &chart);
  }
  EXPECT_TRUE(chart.DepthAxis()->IsDepthAxis());
  EXPECT_THROW(chart.Axis(5), EListError);

  EXPECT_TRUE(chart.Title().Text().empty());
  EXPECT_TRUE(chart.Title().Visible());
  EXPECT_TRUE(chart.Foot().Visible());
  EXPECT_EQ(chart.Title().Alignment(), taCenter);
  EXPECT_EQ(chart.Title().Color(), clDefault);
  EXPECT_EQ(chart.Title().Font().Color(), clBlue);
  EXPECT_EQ(chart.Title().Font().Name(), "Arial");
  EXPECT_FALSE(chart.Title().Frame().Visible());
  EXPECT_TRUE(chart.Title().AdjustFrame());
  EXPECT_EQ(chart.BackWall().Color(), clDefault);
  EXPECT_EQ(chart.BackWall().Brush().Style(), bsClear);
  EXPECT_EQ(chart.LeftWall().Color(), 0x80FFFF);
  EXPECT_EQ(chart.LeftWall().DefaultColor(), 0x80FFFF);
  EXPECT_EQ(chart.BottomWall().Color(), clWhite);
  EXPECT_EQ(&chart.Frame(), &chart.BackWall().Pen());
  EXPECT_TRUE(chart.Frame().Visible());
  EXPECT_EQ(chart.Frame().Color(), clBlack);
  EXPECT_TRUE(chart.Legend().Visible());
  EXPECT_FALSE(chart.ZoomRecord().Dragging);
  EXPECT_FALSE(chart.PanningRecord().Dragging);
}

TEST(ChartPanelConstruction, SeriesListOwnsAndDetachesItsSeries) {
  bool detached = false;
  {
    TChart chart;
    auto* s = chart.AddSeries(std::make_unique<ProbeSeries>());
    s->detachedAtDestruction = &detached;
    EXPECT_EQ(chart.SeriesCount(), 1);
    EXPECT_EQ(chart.Series(0), s);
    EXPECT_EQ(s->ParentChart(), &chart);
    EXPECT_EQ(s->GetHorizAxis(), chart.BottomAxis());
    EXPECT_EQ(s->GetVertAxis(), chart.LeftAxis());
    EXPECT_THROW(chart.Series(1), EListError);
    EXPECT_THROW(chart.Series(-1), EListError);

    auto* other = chart.AddSeries(std::make_unique<ProbeSeries>());
    std::unique_ptr<TChartSeries> back = chart.RemoveSeries(other);
    EXPECT_EQ(back.get(), other);
    EXPECT_EQ(other->ParentChart(), nullptr);
    EXPECT_EQ(chart.SeriesCount(), 1);
    EXPECT_EQ(chart.RemoveSeries(other), nullptr);
  }
  EXPECT_TRUE(detached) << "a series is detached from the chart before it is freed";
}

// ---------------------------------------------------------------------------
// Invalidation and painting

TEST(ChartPanelInvalidation, OnlyAChangedValueInvalidates) {
  TChart chart;
  ConfigureLikeProgram(chart);
  DrawAll(chart);
  ASSERT_FALSE(chart.Canvas().Dirty());
  const long before = chart.InvalidationCount();

  // Every value set to what it already holds.
  chart.SetColor(clWhite);
  chart.SetMarginLeft(3);
  chart.SetView3D(false);
  chart.SetAxisVisible(true);
  chart.SetBevelOuter(bvRaised);
  chart.SetAllowPanning(pmBoth);
  chart.Title().SetText({"FFT", ""});
  chart.Title().SetVisible(true);
  chart.Title().SetAlignment(taCenter);
  chart.Title().Font().SetColor(clBlue);
  chart.BackWall().Pen().SetColor(clBlack);
  chart.BackWall().Brush().SetStyle(bsClear);
  chart.Legend().SetVisible(false);
  chart.Gradient().SetVisible(false);
  chart.LeftAxis()->SetMinimum(-120);
  EXPECT_EQ(chart.InvalidationCount(), before);
  EXPECT_FALSE(chart.Canvas().Dirty());

  // Each real change invalidates once and makes the image stale.
  long n = before;
  auto changed = [&](const char* what) {
    EXPECT_EQ(chart.InvalidationCount(), ++n) << what;
    EXPECT_TRUE(chart.Canvas().Dirty()) << what;
    DrawAll(chart);
  };
  chart.SetMarginTop(5);
  changed("margin");
  chart.SetClipPoints(false);
  changed("boolean");
  chart.SetColor(clSilver);
  changed("colour");
  chart.Title().SetText({"FFT"});
  changed("title text");
  chart.Foot().SetAlignment(taLeftJustify);
  changed("foot alignment");
  chart.Title().Font().SetSize(10);
  changed("title font");
  chart.Frame().SetWidth(2);
  changed("frame pen");
  chart.LeftWall().SetColor(clRed);
  changed("wall colour");
  chart.Gradient().SetVisible(true);
  changed("gradient");
  chart.BottomAxis()->SetEndPosition(90);
  changed("axis");
  chart.AddSeries(std::make_unique<ProbeSeries>());
  changed("series added");
  chart.Series(0)->SetActive(false);
  changed("series data side");
}

TEST(ChartPanelInvalidation, ImageIsRedrawnOnlyAfterAnInvalidation) {
  TChart chart;
  ConfigureLikeProgram(chart);
  const long draws = chart.DrawCount();
  const QImage first = Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 1);
  const QImage second = Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 1) << "an unchanged chart is copied, not drawn";
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, chart.Canvas().Image()) << "the window receives the finished image";

  chart.Title().SetText({"Other"});
  EXPECT_EQ(chart.DrawCount(), draws + 1) << "invalidation draws nothing by itself";
  Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 2);
  Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 2);

  // A new size makes the image stale too: the next paint draws at the new size.
  chart.resize(300, 200);
  const QImage resized = Paint(chart);
  EXPECT_EQ(chart.DrawCount(), draws + 3);
  EXPECT_EQ(chart.Canvas().Image().size(), QSize(300, 200));
  EXPECT_EQ(resized, chart.Canvas().Image());
}

TEST(ChartPanelInvalidation, FailingSeriesNeitherEscapesThePaintNorLeavesAClip) {
  TChart chart;
  ConfigureLikeProgram(chart);
  auto* s = chart.AddSeries(std::make_unique<BrokenLine>());
  s->AddPoint(1, 1);
  s->AddPoint(2, 2);
  EXPECT_THROW(DrawAll(chart), std::runtime_error);
  EXPECT_TRUE(chart.Canvas().Dirty()) << "a failed drawing is not a valid image";
  EXPECT_FALSE(chart.Canvas().Clipped()) << "the series' clip must not outlive the frame";
  EXPECT_FALSE(chart.Canvas().InFrame());
  EXPECT_NO_THROW(Paint(chart));
  EXPECT_TRUE(chart.Canvas().Dirty());

  s->broken = false;
  const QImage shown = Paint(chart);
  EXPECT_FALSE(chart.Canvas().Dirty());
  EXPECT_EQ(Px(chart, 0, 0), Rgb(clBtnHighlight)) << "the whole image is drawn again, unclipped";
  EXPECT_EQ(shown, chart.Canvas().Image());
}

// ---------------------------------------------------------------------------
// Plotting rectangle

TEST(ChartPanelLayout, MarginsAndTitleBandWithoutAxes) {
  const int h = DefaultFontHeight();
  ASSERT_GT(h, 0);
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  EXPECT_EQ(chart.DrawBounds(), (TRect{0, 0, 580, 326}));
  // MulDiv(3, 580, 100) = 17, MulDiv(4, 326, 100) = 13; two title lines, the
  // second empty, and the gap; the empty foot moves nothing.
  EXPECT_EQ(chart.PlotRect(), (TRect{17, 13 + 2 * h + 5, 563, 313}));
  EXPECT_EQ(chart.PlotWidth(), 563 - 17);
  EXPECT_EQ(chart.PlotHeight(), 313 - (13 + 2 * h + 5));
  EXPECT_EQ(chart.PlotXCenter(), (17 + 563) / 2);
  EXPECT_EQ(chart.PlotYCenter(), (13 + 2 * h + 5 + 313) / 2);

  chart.Title().SetText({});
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect().Top, 13) << "a title without lines takes no room";
  chart.Title().SetText({"one"});
  chart.Foot().SetText({"foot"});
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect().Top, 13 + h + 5);
  EXPECT_EQ(chart.PlotRect().Bottom, 313 - h - 5);
  chart.Title().SetVisible(false);
  chart.Foot().SetVisible(false);
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect(), (TRect{17, 13, 563, 313}));

  chart.SetBorderWidth(4);
  DrawAll(chart);
  EXPECT_EQ(chart.PlotRect(), (TRect{21, 17, 559, 309}));
}

TEST(ChartPanelLayout, FramedTitleAddsItsPenOnBothSides) {
  const int h = DefaultFontHeight();
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  chart.Title().SetText({"FFT"});
  chart.Title().Frame().SetVisible(true);
  chart.Title().Frame().SetColor(clBlack);
  chart.Title().Frame().SetWidth(1);
  DrawAll(chart);
  // Frame width f = 1 inside the band and the pen width once more outside.
  EXPECT_EQ(chart.PlotRect().Top, 13 + 1 + h + 1 + 5);
  const TRect box = chart.Title().TitleRect();
  EXPECT_EQ(box.Top, 13);
  EXPECT_EQ(box.Bottom, 13 + 1 + h + 1);
  // AdjustFrame: as wide as the text plus one "W", centred on the plot.
  EXPECT_LT(box.Width(), 563 - 17);
  EXPECT_NEAR((box.Left + box.Right) / 2, (17 + 563) / 2, 1);
  for (int x = box.Left; x < box.Right; ++x) EXPECT_EQ(Px(chart, x, box.Top), kBlack) << x;
  EXPECT_EQ(Px(chart, box.Left - 1, box.Top), kWhite);
  EXPECT_EQ(Px(chart, box.Right, box.Top), kWhite);
}

TEST(ChartPanelLayout, TinyControlKeepsAUsablePlot) {
  TChart chart;
  ConfigureLikeProgram(chart, 580, 30);
  chart.SetAxisVisible(false);
  chart.Title().SetText({"A", "B", "C", "D"});
  DrawAll(chart);
  const int h = DefaultFontHeight();
  const int top = 1 + 4 * h + 5;  // MulDiv(4, 30, 100) = 1
  ASSERT_GT(top, 29);
  EXPECT_EQ(chart.PlotRect().Top, top);
  EXPECT_EQ(chart.PlotRect().Bottom, top + 1) << "bottom below top: one pixel below top";

  // Right edge landing on the left edge: pushed out by the control's width.
  TChart flat;
  ConfigureLikeProgram(flat, 100, 100);
  flat.SetAxisVisible(false);
  flat.Title().SetVisible(false);
  flat.Foot().SetVisible(false);
  flat.SetMarginLeft(50);
  flat.SetMarginRight(50);
  flat.SetMarginTop(-10);
  DrawAll(flat);
  EXPECT_EQ(flat.PlotRect().Left, 50);
  EXPECT_EQ(flat.PlotRect().Right, 150);
  EXPECT_EQ(flat.PlotRect().Top, 0) << "a negative margin stops at the drawing bounds";
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
  EXPECT_EQ(Px(chart, 100, 0), light);
  EXPECT_EQ(Px(chart, 0, 50), light);
  EXPECT_EQ(Px(chart, 199, 0), dark);
  EXPECT_EQ(Px(chart, 0, 99), dark);
  EXPECT_EQ(Px(chart, 199, 99), dark);
  EXPECT_EQ(Px(chart, 100, 99), dark);
  EXPECT_EQ(Px(chart, 1, 1), kWhite);
  EXPECT_EQ(Px(chart, 198, 98), kWhite);

  chart.SetBevelOuter(bvLowered);
  chart.SetBevelWidth(2);
  chart.SetBorderWidth(1);
  chart.SetBevelInner(bvRaised);
  chart.SetColor(clSilver);
  DrawAll(chart);
  const std::uint32_t silver = 0xC0C0C0;
  EXPECT_EQ(Px(chart, 0, 0), dark);
  EXPECT_EQ(Px(chart, 1, 1), dark);
  EXPECT_EQ(Px(chart, 199, 99), light);
  EXPECT_EQ(Px(chart, 198, 98), light);
  EXPECT_EQ(Px(chart, 2, 2), silver) << "border frame in the chart colour";
  EXPECT_EQ(Px(chart, 3, 3), light) << "inner raised bevel, as wide as the outer one";
  EXPECT_EQ(Px(chart, 4, 4), light);
  EXPECT_EQ(Px(chart, 196, 96), dark);
  EXPECT_EQ(Px(chart, 5, 5), silver);

  chart.SetBevelOuter(bvNone);
  chart.SetBevelInner(bvNone);
  chart.SetBorderWidth(0);
  DrawAll(chart);
  EXPECT_EQ(Px(chart, 0, 0), silver);
  EXPECT_EQ(Px(chart, 199, 99), silver);
}

TEST(ChartPanelDrawing, BackWallOutlinesPlotRightAndBottomRows) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  const TRect p = chart.PlotRect();
  for (int x = p.Left; x <= p.Right; ++x) {
    EXPECT_EQ(Px(chart, x, p.Top), kBlack) << x;
    EXPECT_EQ(Px(chart, x, p.Bottom), kBlack) << x;
  }
  for (int y = p.Top; y <= p.Bottom; ++y) {
    EXPECT_EQ(Px(chart, p.Left, y), kBlack) << y;
    EXPECT_EQ(Px(chart, p.Right, y), kBlack) << y;
  }
  EXPECT_EQ(Px(chart, p.Right + 1, p.Top + 10), kWhite);
  EXPECT_EQ(Px(chart, p.Left + 10, p.Bottom + 1), kWhite);
  EXPECT_EQ(Px(chart, p.Left + 1, p.Top + 1), kWhite) << "the clear brush leaves the inside";

  // A solid back colour fills the inside; the outline stays.
  chart.SetBackColor(clYellow);
  chart.BackWall().Brush().SetStyle(bsSolid);
  DrawAll(chart);
  EXPECT_EQ(Px(chart, p.Left + 1, p.Top + 1), Rgb(clYellow));
  EXPECT_EQ(Px(chart, p.Right - 1, p.Bottom - 1), Rgb(clYellow));
  EXPECT_EQ(Px(chart, p.Right, p.Bottom), kBlack);

  chart.Frame().SetVisible(false);
  DrawAll(chart);
  EXPECT_EQ(Px(chart, p.Right, p.Bottom), kWhite);
  EXPECT_EQ(Px(chart, p.Left, p.Top), Rgb(clYellow));
}

TEST(ChartPanelDrawing, TitleTextSitsCentredInItsBand) {
  const int h = DefaultFontHeight();
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  // Ink above the plot (inside the bevel) is the title "FFT": in rows
  // 13 .. 13 + h - 1, centred on the plot, bluish.
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
  ASSERT_GE(right, 0) << "title drawn in the title font colour";
  EXPECT_GE(top, 13);
  EXPECT_LT(bottom, 13 + h);
  EXPECT_NEAR((left + right) / 2.0, (17 + 563) / 2.0, 2.5);
}

TEST(ChartPanelDrawing, SeriesAreClippedToThePlotAndEventsComeInOrder) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  std::vector<std::string> log;
  chart.OnBeforeDrawAxes = [&] { log.push_back("axes"); };
  chart.OnBeforeDrawSeries = [&] { log.push_back("before series"); };
  chart.OnAfterDraw = [&] {
    log.push_back("after");
    EXPECT_TRUE(chart.Canvas().InFrame()) << "the last event still belongs to the drawing";
  };
  auto* a = chart.AddSeries(std::make_unique<ProbeSeries>());
  auto* hidden = chart.AddSeries(std::make_unique<ProbeSeries>());
  auto* empty = chart.AddSeries(std::make_unique<ProbeSeries>());
  a->log = hidden->log = empty->log = &log;
  hidden->SetActive(false);
  empty->first = -1;
  a->lineY = 200;
  DrawAll(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"before series", "series", "after"}))
      << "no axes event without AxisVisible; inactive and empty series skipped";
  EXPECT_EQ(hidden->drawCalls, 0);
  EXPECT_EQ(empty->drawCalls, 0);

  const TRect p = chart.PlotRect();
  EXPECT_TRUE(a->sawClip);
  EXPECT_EQ(a->clipRect, (TRect{p.Left + 1, p.Top + 1, p.Right, p.Bottom - 1}));
  EXPECT_FALSE(chart.Canvas().Clipped());
  EXPECT_EQ(Px(chart, p.Left, 200), kBlack) << "series drawn after the wall, inside it";
  EXPECT_EQ(Px(chart, p.Left + 1, 200), Rgb(clRed));
  EXPECT_EQ(Px(chart, p.Right - 1, 200), Rgb(clRed));
  EXPECT_EQ(Px(chart, p.Right, 200), kBlack);
  EXPECT_EQ(Px(chart, p.Left - 1, 200), kWhite);

  log.clear();
  chart.SetAxisVisible(true);
  chart.SetClipPoints(false);
  DrawAll(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"axes", "before series", "series", "after"}));
  EXPECT_FALSE(a->sawClip);
  EXPECT_EQ(Px(chart, 2, 200), Rgb(clRed));
}

TEST(ChartPanelDrawing, LineSeriesTraceRunsClippedAcrossThePlot) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.BottomAxis()->SetRange(138e6, 153e6);
  auto* line = chart.AddSeries(std::make_unique<TFastLineSeries>());
  line->SetSeriesColor(clRed);
  line->XValues().SetOrder(loAscending);
  for (int i = 0; i <= 300; ++i) line->AddPoint(130e6 + i * 1e5, -57);
  std::vector<std::string> log;
  chart.OnBeforeDrawSeries = [&] { log.push_back("before series"); };
  line->BeforeDrawValues = [&](TChartSeries&) {
    log.push_back("before values");
    EXPECT_FALSE(chart.Canvas().Clipped());
  };
  line->AfterDrawValues = [&](TChartSeries&) {
    log.push_back("after values");
    EXPECT_FALSE(chart.Canvas().Clipped());
  };
  chart.OnAfterDraw = [&] { log.push_back("after"); };
  DrawAll(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"before series", "before values", "after values", "after"}));

  const TRect p = chart.PlotRect();
  const int y = chart.LeftAxis()->ValueToPixel(-57);
  for (int tick : chart.LeftAxis()->TickPositions()) ASSERT_NE(tick, y) << "the trace row has no grid line";
  ASSERT_GT(y, p.Top);
  ASSERT_LT(y, p.Bottom);
  for (int x = p.Left + 1; x < p.Right; ++x) EXPECT_EQ(Px(chart, x, y), Rgb(clRed)) << x;
  EXPECT_EQ(Px(chart, p.Left, y), kBlack);
  EXPECT_EQ(Px(chart, p.Right, y), kBlack);
  EXPECT_NE(Px(chart, p.Left - 1, y), Rgb(clRed));
  EXPECT_NE(Px(chart, p.Right + 1, y), Rgb(clRed));

  log.clear();
  line->SetActive(false);
  DrawAll(chart);
  EXPECT_EQ(log, (std::vector<std::string>{"before series", "after"}));
  EXPECT_NE(Px(chart, (p.Left + p.Right) / 2, y), Rgb(clRed));
}

TEST(ChartPanelDrawing, ZoomRectangleIsNotXorOverTheImage) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.SetAxisVisible(false);
  DrawAll(chart);
  const TRect p = chart.PlotRect();
  const QImage plain = chart.Canvas().Image().copy();

  // A drag that crosses the plot's left edge, dragged up and to the left.
  TZoomPanningRecord& z = chart.ZoomRecord();
  z.StartAt(p.Left + 40, p.Top + 60);
  z.EndX = p.Left - 5;
  z.EndY = p.Top + 20;
  chart.Invalidate();
  DrawAll(chart);
  const int x0 = p.Left - 5, x1 = p.Left + 40, y0 = p.Top + 20, y1 = p.Top + 60;
  EXPECT_EQ(Px(chart, x0, y0), kBlack) << "black over white";
  EXPECT_EQ(Px(chart, x1 - 1, y1 - 1), kBlack);
  EXPECT_EQ(Px(chart, p.Left, y0), kWhite) << "white where it crosses the black wall line";
  EXPECT_EQ(Px(chart, x1, y1), kWhite) << "right and bottom edges exclusive";
  EXPECT_EQ(Px(chart, x0 + 5 + 10, y0 + 10), kWhite) << "no fill";

  z.Dragging = false;
  chart.Invalidate();
  DrawAll(chart);
  EXPECT_EQ(chart.Canvas().Image(), plain);

  // On a black chart the outline is drawn in the chart colour: pixels of the
  // outline come out white over black.
  chart.SetColor(clBlack);
  z.StartAt(5, 5);
  z.EndX = 15;
  z.EndY = 9;
  DrawAll(chart);
  EXPECT_EQ(Px(chart, 8, 5), kWhite);
}

TEST(ChartPanelInvalidation, OnScreenManyInvalidationsMakeOnePaint) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.show();
  QCoreApplication::processEvents();
  const long draws = chart.DrawCount();
  ASSERT_GE(draws, 1) << "shown chart painted";
  for (int round = 1; round <= 3; ++round) {
    for (int i = 0; i < 1000; ++i) chart.Invalidate();
    chart.Title().SetText({"round " + std::to_string(round)});
    EXPECT_EQ(chart.DrawCount(), draws + round - 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(chart.DrawCount(), draws + round) << "every round of invalidations reaches the window";
    EXPECT_FALSE(chart.Canvas().Dirty());
  }
  chart.hide();
  chart.Invalidate();
  chart.show();
  QCoreApplication::processEvents();
  EXPECT_FALSE(chart.Canvas().Dirty()) << "a chart invalidated while hidden is drawn when shown";

  // A change made by a drawing event does not stop later changes from
  // reaching the window.
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
  EXPECT_FALSE(chart.Canvas().Dirty());
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
  EXPECT_EQ(shown(), (V{true, true, true, true, false})) << "no series: the four standard axes";
  auto* s = chart.AddSeries(std::make_unique<ProbeSeries>());
  EXPECT_EQ(shown(), (V{true, false, true, false, false})) << "only the series' axes, also while empty";
  s->SetVertAxis(aRightAxis);
  EXPECT_EQ(shown(), (V{true, false, false, true, false}));
  s->SetHorizAxis(aBothHorizAxis);
  EXPECT_EQ(shown(), (V{true, true, false, true, false}));
  s->SetActive(false);
  EXPECT_EQ(shown(), (V{true, true, true, true, false})) << "an inactive series counts as none";
  s->SetActive(true);

  chart.LeftAxis()->SetVisible(false);
  chart.RightAxis()->SetVisible(false);
  EXPECT_EQ(shown(), (V{true, true, false, false, false}));
  chart.SetAxisVisible(false);
  EXPECT_EQ(shown(), (V{false, false, false, false, false}));
  chart.SetAxisVisible(true);

  chart.DepthAxis()->SetVisible(true);
  EXPECT_FALSE(chart.IsAxisShown(*chart.DepthAxis())) << "depth axis only in a 3-D view";
  chart.SetView3D(true);
  EXPECT_TRUE(chart.IsAxisShown(*chart.DepthAxis()));
}

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
