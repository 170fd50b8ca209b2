// Text measurement and the chart's fonts.
#include <QApplication>
#include <QFontInfo>
#include <gtest/gtest.h>

#include "ChartCanvas.h"
#include "numtext.h"

using namespace wg;

TEST(ChartFont, DefaultIsArialEightPointsBlackPlain) {
  const TFont f = DefaultChartFont();
  EXPECT_EQ(f.Name(), "Arial");
  EXPECT_EQ(f.Size(), 8);
  EXPECT_EQ(f.Color(), clBlack);
  EXPECT_EQ(f.Style(), 0u);
}

TEST(ChartFont, PointSizeBecomesMulDivPixels) {
  const int dpi = ScreenPixelsPerInch();
  EXPECT_GT(dpi, 0);
  TFont f = DefaultChartFont();
  EXPECT_EQ(f.PixelSize(), rt::MulDiv(8, dpi, 72));
  EXPECT_EQ(MakeQFont(f).pixelSize(), rt::MulDiv(8, dpi, 72));
  f.SetSize(10);
  EXPECT_EQ(MakeQFont(f).pixelSize(), rt::MulDiv(10, dpi, 72));
}

TEST(ChartFont, ArialResolvesToMetricCompatibleFace) {
  // Layout depends on Arial's metrics; without the metric clone the labels
  // would be measured with whatever face fontconfig falls back to.
  const QFontInfo info(MakeQFont(DefaultChartFont()));
  EXPECT_EQ(info.family().toStdString(), "Liberation Sans");
}

TEST(ChartFont, ChangeNotifiesOnlyOnRealChange) {
  int calls = 0;
  TFont f([&] { ++calls; });
  f.SetSize(f.Size());
  f.SetName(f.Name());
  EXPECT_EQ(calls, 0);
  const auto g = f.Generation();
  f.SetColor(clRed);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(f.Generation(), g);  // colour does not change the shape
  f.SetStyle(fsBold);
  EXPECT_EQ(calls, 2);
  EXPECT_NE(f.Generation(), g);
}

TEST(CanvasMeasure, WidthGrowsWithTextAndFont) {
  TChartCanvas c;
  c.AssignFont(DefaultChartFont());
  EXPECT_EQ(c.TextWidth(""), 0);
  const int w1 = c.TextWidth("138");
  const int w2 = c.TextWidth("138,000,000");
  EXPECT_GT(w1, 0);
  EXPECT_GT(w2, w1);
  const int h8 = c.FontHeight();
  EXPECT_GE(h8, c.Font().PixelSize());
  EXPECT_EQ(c.TextHeight("x"), h8);
  // The measurement follows a font change made through the canvas's font.
  c.Font().SetSize(16);
  EXPECT_GT(c.FontHeight(), h8);
  EXPECT_GT(c.TextWidth("138"), w1);
}

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
