// The chart's axes in the layout and the drawing: which axes are shown, the
// bands they take off the plotting rectangle, and what is drawn of them.
#include <QApplication>
#include <gtest/gtest.h>

#include "panel_test_util.h"

using namespace wg;
using namespace wg::paneltest;

TEST(ChartPanelAxes, WorkedLayoutOfTheProgramsChart) {
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.AddSeries(std::make_unique<ProbeSeries>());
  chart.BottomAxis()->SetRange(138e6, 153e6);
  // The left axis measures its widest label with the axis length of the
  // drawing before; the second drawing is the settled one.
  DrawAll(chart);
  DrawAll(chart);
  const int h = DefaultFontHeight();  // every text of the chart has the default font
  const int wl = chart.LeftAxis()->WidestLabel();
  ASSERT_GT(wl, 0);
  EXPECT_EQ(chart.PlotRect(), (TRect{17 + h + wl + 5, 13 + 2 * h + 5, 563, 313 - h - h - 5}));
  // The axes run inside the final rectangle.
  EXPECT_EQ(chart.BottomAxis()->StartPixel, chart.PlotRect().Left);
  EXPECT_EQ(chart.LeftAxis()->EndPixel, chart.PlotRect().Bottom);
}

TEST(ChartPanelAxes, TopAndRightAxesOnlyWithoutAnActiveSeries) {
  const int h = DefaultFontHeight();
  TChart chart;
  ConfigureLikeProgram(chart);
  chart.BottomAxis()->SetRange(138e6, 153e6);
  chart.TopAxis()->Title().SetCaption("TOP");
  chart.RightAxis()->Title().SetCaption("RIGHT");
  // Ink above the plot below the title text, and right of the plot.
  auto inkAboveAndRight = [&](bool& above, bool& right) {
    const TRect p = chart.PlotRect();
    above = right = false;
    for (int y = 13 + h; y < p.Top; ++y)
      for (int x = 1; x < 579; ++x) above |= Px(chart, x, y) != kWhite;
    for (int y = p.Top; y <= p.Bottom; ++y)
      for (int x = p.Right + 1; x < 579; ++x) right |= Px(chart, x, y) != kWhite;
  };
  bool above = false, right = false;

  auto* s = chart.AddSeries(std::make_unique<ProbeSeries>());
  DrawAll(chart);
  inkAboveAndRight(above, right);
  EXPECT_FALSE(above) << "no top axis while the series is active, even without values";
  EXPECT_FALSE(right) << "no right axis while the series is active";
  EXPECT_EQ(chart.PlotRect().Right, 563);

  s->SetActive(false);
  DrawAll(chart);
  inkAboveAndRight(above, right);
  EXPECT_TRUE(above) << "all four axes without an active series";
  EXPECT_TRUE(right);
  EXPECT_LT(chart.PlotRect().Right, 563 - h);
  EXPECT_GT(chart.PlotRect().Top, 13 + 2 * h + 5 + h);
}

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
