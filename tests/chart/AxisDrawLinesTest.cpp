// Axis drawing: the line, ticks, grid and labels of an axis on every side,
// on the calls a recording canvas sees or on the pixels of a real canvas.
#include "tests/chart/AxisDrawFixture.h"

using namespace wg;
using namespace wgtest;

// ---------------------------------------------------------------------------
// Line, labels, ticks and grid

TEST_F(AxisDrawTest, DottedGridSpansExactlyThePlot) {
  Image img(400, 300);
  chart.canvas = &img.c;
  chart.plot = {60, 30, 380, 250};
  bottom.SetPositionPercent(-3);
  bottom.LabelBandPos = 270;  // labels away from the lines looked at
  left.LabelBandPos = 20;
  for (TChartAxis* a : {&bottom, &left}) {
    const bool h = a->IsHorizontal();
    Place(*a, 0, 100);
    img.Clear();
    a->Draw();
    ASSERT_FALSE(a->TickPositions().empty());
    // Dotted: starts on the plot's first row or column, has gaps, never
    // leaves the plot (the left grid is drawn over the line).
    const int first = h ? 30 : 60, last = h ? 249 : 379;
    for (int t : a->TickPositions()) {
      std::vector<int> on;
      for (int k = h ? 0 : a->LinePos; k <= (h ? a->LinePos : 399); ++k)
        if ((h ? img.Px(t, k) : img.Px(k, t)) == kGray) on.push_back(k);
      ASSERT_FALSE(on.empty()) << t;
      EXPECT_EQ(on.front(), first) << t;
      EXPECT_LE(on.back(), last) << t;
      EXPECT_GE(on.back(), last - 5) << t;
      EXPECT_LT(on.size(), static_cast<std::size_t>(last - first)) << t;
      EXPECT_GT(on.size(), static_cast<std::size_t>(last - first) / 4) << t;
    }
  }

  // A default-coloured grid draws grey, and the pen keeps its own colour.
  img.Clear();
  left.Grid().SetColor(clDefault);
  left.Draw();
  EXPECT_FALSE(img.PixelsOf(kGray, {61, 30, 380, 250}).empty());
  EXPECT_EQ(left.Grid().Color(), clDefault);
}

TEST_F(AxisDrawTest, TickAndLineCoordinatesOnEverySide) {
  chart.plot = {100, 50, 500, 350};
  // With no series on them the top and right axes would show no labels.
  chart.line.SetHorizAxis(aBothHorizAxis);
  chart.line.SetVertAxis(aBothVertAxis);
  for (TChartAxis* a : {&bottom, &top, &left, &right}) {
    SCOPED_TRACE(a->IsHorizontal() * 2 + a->FarSide());
    a->SetTickInnerLength(3);
    a->Grid().Hide();
    a->MinorTicks().Hide();
    a->Ticks().SetColor(clRed);
    a->TicksInner().SetColor(clBlue);
    Place(*a, 0, 100, 50);
    rec.Reset();
    a->Draw();
    ASSERT_EQ(a->TickPositions().size(), 3u);
    // The line on the plot's edge, then the outer and the inner ticks of
    // each label, the outer ones away from the plot.
    const int p = a->TickPositions()[1], l = a->LinePos;
    const int out = a->IsHorizontal() != a->FarSide() ? 1 : -1;
    using Seg = RecordingCanvas::Seg;
    ASSERT_EQ(rec.lines.size(), 7u);
    if (a->IsHorizontal()) {
      EXPECT_EQ(l, a->FarSide() ? 50 : 350);
      EXPECT_EQ(rec.lines[0], (Seg{100, l, 500, l, clBlack, psSolid}));
      EXPECT_EQ(rec.lines[2], (Seg{p, l + out, p, l + 5 * out, clRed, psSolid}));
      EXPECT_EQ(rec.lines[5], (Seg{p, l - out, p, l - 4 * out, clBlue, psSolid}));
    } else {
      EXPECT_EQ(l, a->FarSide() ? 500 : 100);
      EXPECT_EQ(rec.lines[0], (Seg{l, 50, l, 350, clBlack, psSolid}));
      EXPECT_EQ(rec.lines[2], (Seg{l + out, p, l + 5 * out, p, clRed, psSolid}));
      EXPECT_EQ(rec.lines[5], (Seg{l - out, p, l - 4 * out, p, clBlue, psSolid}));
    }
  }
}

TEST_F(AxisDrawTest, LabelPlacementAndLabelsOnAxis) {
  // The level axis of the program: -120 … 25 by 20 gives 20 down to -100,
  // right-aligned on the band edge and centred on the tick; the alignment
  // back at left-top afterwards.
  chart.plot = {60, 20, 560, 320};
  left.SetAutomatic(false);
  left.SetMaximum(25);
  left.SetMinimum(-120);
  left.SetIncrement(20);
  left.SetStartPosition(5);
  left.UpdateEffectiveRange();
  left.UpdatePixelExtent();
  left.LabelBandPos = 55;
  left.Draw();
  const std::vector<double> values{20, 0, -20, -40, -60, -80, -100};
  std::vector<int> pixels;
  for (double v : values) pixels.push_back(left.ValueToPixel(v));
  EXPECT_EQ(left.TickPositions(), pixels);
  EXPECT_EQ(pixels.front(), 20 + 15 + RoundEven(5 * 285.0 / 145));
  const int h = FontHeightOf(rec, left.LabelsFont());
  ASSERT_EQ(rec.texts.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(rec.texts[i], (RecordingCanvas::Text{55, pixels[i] - h / 2, 0, TA_RIGHT | TA_TOP,
                                                   rt::FloatToStr(values[i])}));
  EXPECT_EQ(rec.align, 0u);

  // The bottom axis: centred on the tick, top at the band edge. Labels at
  // the axis ends come and go with LabelsOnAxis, ticks with them.
  chart.plot = {100, 50, 500, 350};
  left.SetStartPosition(0);
  for (TChartAxis* a : {&bottom, &left}) Place(*a, 0, 100, 50);
  bottom.LabelBandPos = 360;
  rec.Reset();
  bottom.Draw();
  EXPECT_EQ(bottom.TickPositions(), (std::vector<int>{500, 300, 100}));
  ASSERT_EQ(rec.texts.size(), 3u);
  EXPECT_EQ(rec.texts[0], (RecordingCanvas::Text{500, 360, 0, TA_CENTER | TA_TOP, "100"}));
  EXPECT_EQ(rec.texts[2], (RecordingCanvas::Text{100, 360, 0, TA_CENTER | TA_TOP, "0"}));
  left.Draw();
  EXPECT_EQ(left.TickPositions(), (std::vector<int>{50, 200, 350}));
  rec.Reset();
  bottom.SetLabelsOnAxis(false);
  left.SetLabelsOnAxis(false);
  bottom.Draw();
  EXPECT_EQ(bottom.TickPositions(), (std::vector<int>{300}));
  left.Draw();
  EXPECT_EQ(left.TickPositions(), (std::vector<int>{200}));
  EXPECT_EQ(rec.texts.size(), 2u);
}

TEST_F(AxisDrawTest, LabelsOffWithTicksOnLabelsOnlyDrawOnlyLineAndTitle) {
  Image img(400, 300);
  chart.canvas = &img.c;
  chart.plot = {60, 30, 380, 250};
  bottom.SetLabels(false);
  bottom.SetTickInnerLength(3);
  bottom.MinorGrid().Show();
  bottom.Title().SetCaption("Hz");
  bottom.TitleBandPos = 270;
  Place(bottom, 0, 100);
  const TRect all{0, 0, 400, 300};
  bottom.Draw();
  EXPECT_TRUE(bottom.TickPositions().empty());
  EXPECT_TRUE(img.PixelsOf(kGray, all).empty()) << "no ticks, grid or minor ticks";
  EXPECT_FALSE(img.PixelsOf(kBlack, {60, 250, 380, 251}).empty()) << "the line";
  EXPECT_FALSE(img.Ink({0, 270, 400, 300}).empty()) << "the title";

  // Ticks without labels when they need not sit on labels.
  img.Clear();
  bottom.SetTickOnLabelsOnly(false);
  bottom.Draw();
  EXPECT_FALSE(bottom.TickPositions().empty());
  EXPECT_FALSE(img.PixelsOf(kGray, all).empty());

  // An axis with no series shows no values: line and title, no ticks.
  img.Clear();
  chart.series.clear();
  bottom.SetLabels(true);
  bottom.Draw();
  EXPECT_TRUE(bottom.TickPositions().empty());
  EXPECT_TRUE(img.PixelsOf(kGray, all).empty());
  EXPECT_FALSE(img.Ink({0, 270, 400, 300}).empty());
  EXPECT_EQ(bottom.WidestLabel(), 0);
}

TEST_F(AxisDrawTest, MinorTicksAndMinorGridBetweenAndBeyondTheLabels) {
  // 4 pixels a unit: value v at x = 140 + 4 v, labels 100 … 0 every 20.
  chart.plot = {100, 50, 580, 350};
  bottom.Ticks().Hide();
  bottom.Grid().Hide();
  bottom.Axis().Hide();
  bottom.MinorTicks().SetColor(clRed);
  bottom.MinorGrid().SetColor(clBlue);
  Place(bottom, -10, 110, 20);
  bottom.Draw();
  ASSERT_EQ(bottom.TickPositions(), (std::vector<int>{540, 460, 380, 300, 220, 140}));
  // Beyond the ends only inside the axis (580 and 100 are its end pixels),
  // then three in each gap.
  const std::vector<int> want{560, 120, 480, 500, 520, 400, 420, 440, 320, 340, 360, 240, 260, 280, 160, 180, 200};
  std::vector<int> xs;
  for (const auto& l : rec.Of(clRed, true)) {
    EXPECT_EQ(l.y0, 351);
    EXPECT_EQ(l.y1, 353);
    xs.push_back(l.x0);
  }
  EXPECT_EQ(xs, want);

  // The minor grid takes the same positions across the plot.
  rec.Reset();
  bottom.MinorTicks().Hide();
  bottom.MinorGrid().Show();
  bottom.Draw();
  const auto grid = rec.Of(clBlue, true);
  ASSERT_EQ(grid.size(), want.size());
  EXPECT_EQ(grid[0], (RecordingCanvas::Seg{560, 50, 560, 350, clBlue, psSolid}));

  // A single label has no gap to divide: no minor ticks at all.
  rec.Reset();
  bottom.MinorGrid().Hide();
  bottom.MinorTicks().Show();
  Place(bottom, 0.5, 1.4, 1);
  bottom.Draw();
  EXPECT_EQ(bottom.TickPositions().size(), 1u);
  EXPECT_TRUE(rec.Of(clRed, true).empty());
}

TEST_F(AxisDrawTest, CentredGridFallsBetweenTheTicks) {
  chart.plot = {100, 50, 500, 350};
  left.SetGridCentered(true);
  left.Grid().SetColor(clRed);
  Place(left, 0, 100, 25);  // ticks 50, 125, 200, 275, 350
  left.Draw();
  ASSERT_EQ(left.TickPositions().size(), 5u);
  std::vector<int> ys;
  for (const auto& l : rec.Of(clRed, false)) {
    EXPECT_EQ(l, (RecordingCanvas::Seg{100, l.y0, 500, l.y0, clRed, psDot}));
    ys.push_back(l.y0);
  }
  // Halves go to the even neighbour: 87.5 → 88, 162.5 → 162 …
  EXPECT_EQ(ys, (std::vector<int>{88, 162, 238, 312}));
}

TEST_F(AxisDrawTest, TickListStopsAtTwoThousand) {
  chart.plot = {0, 0, 1000, 100};
  bottom.SetLabelsSeparation(0);  // the step stays at Increment however crowded
  bottom.SetLabels(false);
  bottom.SetTickOnLabelsOnly(false);
  Place(bottom, 0, 5000, 1);
  bottom.Draw();
  ASSERT_EQ(bottom.TickPositions().size(), TCustomChartAxis::kMaxTicks);
  EXPECT_EQ(bottom.TickPositions().front(), 1000);
  EXPECT_EQ(bottom.TickPositions().back(), bottom.ValueToPixel(5000 - 1999));
}

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
