// Axis drawing: the bands an axis takes in the layout, where its line, ticks,
// grid, labels and title land, on the pixels of a real canvas or on the calls
// a recording canvas sees. Text is judged by where its ink lies, never by
// glyph shapes.
#include "tests/chart/AxisDrawFixture.h"

using namespace wg;
using namespace wgtest;

// ---------------------------------------------------------------------------
// Layout

TEST_F(AxisDrawTest, WorkedLayoutOfTheProgramsChartAndItsShift) {
  Image img(580, 326);
  chart.canvas = &img.c;
  // The bottom and left axes as the program's window sets them up.
  ConfigureFrequencyAxis(bottom);
  bottom.SetRange(138000000, 153000000);
  ConfigureLevelAxis(left);
  // A label hook never widens the band: the layout measures plain values.
  chart.hook = [](const TCustomChartAxis&, double, std::string& t) { t = "a very long label indeed"; };

  const int ht = FontHeightOf(img.c, DefaultChartFont());
  const int hb = FontHeightOf(img.c, bottom.LabelsFont());
  ASSERT_EQ(FontHeightOf(img.c, bottom.Title().Font()), hb);
  const int hl = FontHeightOf(img.c, left.Title().Font());
  ASSERT_GT(hb, 5);
  // The first layout knows no axis length yet, so the step is the smallest
  // and the end labels are the range's own ends.
  const int wl = img.c.TextWidth("-120") + img.c.TextWidth(" ");
  const int plotTop = 13 + 2 * ht + 5;  // margins and the two-line title
  const TRect work{17, plotTop, 563, 313};
  chart.plot = work;
  EXPECT_EQ(bottom.TickBandSize(), 5);
  EXPECT_EQ(left.TickBandSize(), 5);
  left.UpdateEffectiveRange();
  EXPECT_EQ(left.WidestLabel(), wl);
  Layout(chart, {&bottom, &left});
  const TRect plot = chart.plot;
  EXPECT_EQ(plot, (TRect{17 + hl + wl + 5, plotTop, 563, 313 - 2 * hb - 5}));

  // Bands sit where they were taken off, moved by PositionPercent of the
  // remaining size: the bottom ones down, the left ones further left.
  const int down = RoundEven(0.02 * plot.Height()), leftward = RoundEven(0.01 * plot.Width());
  ASSERT_GT(down, 0);
  ASSERT_GT(leftward, 0);
  EXPECT_EQ(bottom.TitleBandPos, 313 - hb + down);
  EXPECT_EQ(bottom.LabelBandPos, 313 - 2 * hb + down);
  EXPECT_EQ(left.TitleBandPos, 17 + hl - leftward);
  EXPECT_EQ(left.LabelBandPos, 17 + hl + wl - leftward);

  chart.hook = nullptr;
  chart.invalidations = 0;
  auto draw = [&] {
    img.Clear();
    bottom.Draw();
    left.Draw();
  };
  draw();
  EXPECT_EQ(chart.invalidations, 0) << "drawing must not invalidate the chart";
  EXPECT_EQ(bottom.LinePos, plot.Bottom + down);
  EXPECT_EQ(left.LinePos, plot.Left - leftward);
  // Axis lines in black, the end pixel left out.
  EXPECT_EQ(bottom.StartPixel, plot.Left);
  EXPECT_EQ(bottom.EndPixel, plot.Left + RoundEven(0.97 * plot.Width()));
  for (int x = bottom.StartPixel; x < bottom.EndPixel; ++x) ASSERT_EQ(img.Px(x, bottom.LinePos), kBlack) << x;
  EXPECT_NE(img.Px(bottom.EndPixel, bottom.LinePos), kBlack);
  for (int y = left.StartPixel; y < left.EndPixel; ++y) ASSERT_EQ(img.Px(left.LinePos, y), kBlack) << y;
  EXPECT_NE(img.Px(left.LinePos, left.EndPixel), kBlack);

  // Titles: "Hz" centred under the axis from TitleBandPos down; "dB" reading
  // upwards, ending at TitleBandPos and centred on the left axis.
  const Box hz = img.Ink({0, bottom.TitleBandPos, 580, 326});
  ASSERT_FALSE(hz.empty());
  EXPECT_GE(hz.top, bottom.TitleBandPos);
  EXPECT_LT(hz.bottom, bottom.TitleBandPos + hb);
  EXPECT_NEAR(hz.cx(), bottom.CenterPixel, 2.0);
  const Box db = img.Ink({0, 0, left.TitleBandPos, plot.Bottom});
  ASSERT_FALSE(db.empty());
  EXPECT_GE(db.left, left.TitleBandPos - hl);
  EXPECT_LT(db.right, left.TitleBandPos);
  EXPECT_GT(db.bottom - db.top, db.right - db.left) << "rotated text is taller than wide";
  EXPECT_NEAR(db.cy(), left.CenterPixel, 2.0);

  const TRect inside{plot.Left + 1, plot.Top, plot.Right, plot.Bottom};
  const auto grid = img.PixelsOf(kGray, inside);
  const auto ticks = bottom.TickPositions();
  ASSERT_GE(ticks.size(), 3u);
  const Box below = img.Ink({0, plot.Bottom + down + 1, 580, 326});
  const Box beside = img.Ink({0, 0, plot.Left - leftward, plot.Bottom});

  // The next layout, with the axis lengths known and without the shift,
  // keeps the plot; the grid and the tick columns stay, everything outside
  // the plot moves back as one.
  bottom.SetPositionPercent(0);
  left.SetPositionPercent(0);
  chart.plot = work;
  Layout(chart, {&bottom, &left});
  ASSERT_EQ(chart.plot, plot);
  draw();
  EXPECT_EQ(bottom.LinePos, plot.Bottom);
  EXPECT_EQ(left.LinePos, plot.Left);
  EXPECT_EQ(img.PixelsOf(kGray, inside), grid) << "grid spans exactly the plot either way";
  EXPECT_EQ(bottom.TickPositions(), ticks);
  const Box below0 = img.Ink({0, plot.Bottom + 1, 580, 326});
  EXPECT_EQ(below.top, below0.top + down);
  EXPECT_EQ(below.bottom, below0.bottom + down);
  EXPECT_EQ(below.left, below0.left);
  EXPECT_EQ(below.right, below0.right);
  const Box beside0 = img.Ink({0, 0, plot.Left, plot.Bottom});
  EXPECT_EQ(beside.left, beside0.left - leftward);
  EXPECT_EQ(beside.right, beside0.right - leftward);
  EXPECT_EQ(beside.top, beside0.top);
}

TEST_F(AxisDrawTest, BandsFollowSetSizesAndAngles) {
  bottom.SetRange(0, 100);
  left.SetRange(0, 100);
  const int h = FontHeightOf(rec, DefaultChartFont());

  // Set sizes replace measuring; no title means no title band.
  bottom.SetLabelsSize(30);
  TRect r{0, 0, 400, 300};
  bottom.LayoutShare(r);
  EXPECT_EQ(r, (TRect{0, 0, 400, 300 - 30 - 6}));  // labels + axis 2 + ticks 4
  EXPECT_EQ(bottom.LabelBandPos, 270);

  // Across the axis a bottom title or label takes its width, along it its
  // height; the left axis the other way round.
  bottom.SetLabels(false);
  bottom.Title().SetCaption("frequency");
  bottom.Title().SetAngle(90);
  r = {0, 0, 400, 300};
  bottom.LayoutShare(r);
  rec.AssignFont(bottom.Title().Font());
  EXPECT_EQ(r.Bottom, 300 - rec.TextWidth("frequency") - 6);
  left.Title().SetCaption("level");
  left.Title().SetAngle(0);
  left.SetLabelsAngle(90);
  r = {0, 0, 400, 300};
  left.LayoutShare(r);
  EXPECT_EQ(r.Left, rec.TextWidth("level") + h + 6);

  // The far-side axes take theirs off the top and right; a positive
  // PositionPercent moves their bands into the plot.
  top.Title().SetCaption("T");
  top.SetPositionPercent(10);
  r = {0, 0, 400, 300};
  top.LayoutShare(r);
  EXPECT_EQ(r.Top, h + h + 6);
  const int d = RoundEven(0.1 * r.Height());
  EXPECT_EQ(top.TitleBandPos, h + d);
  EXPECT_EQ(top.LabelBandPos, 2 * h + d);
  right.Title().SetCaption("R");
  right.SetPositionPercent(-10);
  r = {0, 0, 400, 300};
  right.LayoutShare(r);
  EXPECT_EQ(r.Right, 400 - h - right.WidestLabel() - 6);
  EXPECT_EQ(right.TitleBandPos, 400 - h + RoundEven(0.1 * r.Width()));

  // No axis line and no ticks: only minor ticks, when longer, give a band.
  left.Axis().Hide();
  left.Ticks().Hide();
  EXPECT_EQ(left.TickBandSize(), 2);
  left.MinorTicks().Hide();
  EXPECT_EQ(left.TickBandSize(), 0);
}

// ---------------------------------------------------------------------------
// Text placement

// Where the ink of a two-line title lands for each side and angle: the block
// of lines starts at the band edge and is centred on the axis.
TEST_F(AxisDrawTest, TitleBlockPlacementOnEverySideAndAngle) {
  Image img(600, 600);
  chart.canvas = &img.c;
  chart.plot = {200, 200, 400, 400};
  const int h = FontHeightOf(img.c, DefaultChartFont()), n = 2;
  // Where the block starts along the axis when its lines run across it, as
  // for a horizontal text on a vertical axis.
  const int blockStart = 300 - h / 2 - RoundEven(h * 0.5 * (n + 1)) + h;
  for (TChartAxis* a : {&bottom, &top, &left, &right}) {
    const bool horizontal = a->IsHorizontal();
    const int out = horizontal != a->FarSide() ? 1 : -1;  // away from the plot
    a->SetLabels(false);
    a->Axis().Hide();
    a->Ticks().Hide();
    a->Title().SetCaption("Wg\rWg");
    a->UpdatePixelExtent();
    ASSERT_EQ(a->CenterPixel, 300);
    const int edge = a->TitleBandPos = out > 0 ? 450 : 150;
    for (int angle : {0, 90, 180, 270}) {
      SCOPED_TRACE(std::to_string(horizontal * 2 + a->FarSide()) + " at " + std::to_string(angle));
      a->Title().SetAngle(angle);
      img.Clear();
      a->Draw();
      const Box ink = img.Ink({0, 0, 600, 600});
      ASSERT_FALSE(ink.empty());
      const int lo = horizontal ? ink.top : ink.left, hi = horizontal ? ink.bottom : ink.right;
      const int alongLo = horizontal ? ink.left : ink.top, alongHi = horizontal ? ink.right : ink.bottom;
      if (horizontal == (angle == 90 || angle == 270)) {
        // Lines run across the axis: they start at the band edge, the block
        // lies within n × h along the axis.
        EXPECT_GE(alongLo, blockStart - 1);
        EXPECT_LE(alongHi, blockStart + n * h);
        if (out > 0) {
          EXPECT_GE(lo, edge - 1);
          EXPECT_LE(lo, edge + 4);
        } else {
          EXPECT_LE(hi, edge);
          EXPECT_GE(hi, edge - 4);
        }
      } else {
        // Lines run along the axis: centred on it, n × h deep away from the plot.
        EXPECT_NEAR((alongLo + alongHi) / 2.0, 300, 2.0);
        EXPECT_GE(lo, out > 0 ? edge - 1 : edge - n * h - 1);
        EXPECT_LE(hi, out > 0 ? edge + n * h : edge);
      }
    }
  }
}

TEST_F(AxisDrawTest, UpsideDownTextKeepsItsLineOrderAndAnglesStayInTheCircle) {
  chart.plot = {200, 200, 400, 400};
  bottom.SetLabels(false);
  bottom.Title().SetCaption("one\rtwo");
  bottom.UpdatePixelExtent();
  bottom.TitleBandPos = 450;
  const int h = FontHeightOf(rec, DefaultChartFont());
  using Text = RecordingCanvas::Text;
  bottom.Draw();
  EXPECT_EQ(rec.texts, (std::vector<Text>{{300, 450, 0, TA_CENTER | TA_TOP, "one"},
                                          {300, 450 + h, 0, TA_CENTER | TA_TOP, "two"}}));
  // Turned over, the first line is the lower one on the screen.
  rec.Reset();
  bottom.Title().SetAngle(180);
  bottom.Draw();
  EXPECT_EQ(rec.texts, (std::vector<Text>{{300, 450 + h, 180, TA_CENTER | TA_BOTTOM, "one"},
                                          {300, 450, 180, TA_CENTER | TA_BOTTOM, "two"}}));

  EXPECT_THROW(bottom.Title().SetAngle(360), ChartException);
  EXPECT_THROW(bottom.SetLabelsAngle(360), ChartException);
  EXPECT_EQ(bottom.LabelsAngle(), 0);
  EXPECT_EQ(bottom.Title().Angle(), 180);
  bottom.SetLabelsAngle(359);
  bottom.Title().SetAngle(359);
  bottom.Title().SetCaption("Hz");
  bottom.SetLabels(true);
  Place(bottom, 0, 100);
  rec.Reset();
  bottom.Draw();
  ASSERT_GT(rec.texts.size(), 1u);
  for (const auto& t : rec.texts) EXPECT_EQ(t.angle, 359);
}
