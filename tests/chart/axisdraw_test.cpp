// Axis drawing: the bands an axis takes in the layout, where its line, ticks,
// grid, labels and title land, on the pixels of a real canvas or on the calls
// a recording canvas sees. Text is judged by where its ink lies, never by
// glyph shapes.
#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "ChartEngine.h"
#include "SpectrumChart.h"
#include "numtext.h"

using namespace wg;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kGray = 0x808080;

int RoundEven(double x) { return static_cast<int>(std::nearbyint(x)); }

// A canvas that writes down the lines and texts it is asked for, with the
// pen or alignment in effect; it measures text like the real canvas.
class RecordingCanvas : public TCanvas3D {
 public:
  struct Seg {
    int x0, y0, x1, y1;
    TColor color;
    TPenStyle style;
    friend bool operator==(const Seg&, const Seg&) = default;
  };
  struct Text {
    int x, y, angle;
    unsigned align;
    std::string text;
    friend bool operator==(const Text&, const Text&) = default;
  };
  std::vector<Seg> lines;
  std::vector<Text> texts;
  unsigned align = 0;

  void Reset() {
    lines.clear();
    texts.clear();
  }
  void Note(int x0, int y0, int x1, int y1) {
    if (pen_.Style() != psClear) lines.push_back({x0, y0, x1, y1, pen_.Color(), pen_.Style()});
  }
  // Lines of a colour whose ends differ only in y (vertical) or only in x.
  std::vector<Seg> Of(TColor color, bool vertical) const {
    std::vector<Seg> out;
    for (const Seg& l : lines)
      if ((vertical ? l.x0 == l.x1 : l.y0 == l.y1) && l.color == color) out.push_back(l);
    return out;
  }

  void SetTextAlign(unsigned flags) override { align = flags; }
  void TextOut(int x, int y, std::string_view t) override { texts.push_back({x, y, 0, align, std::string(t)}); }
  void TextOutZ(int x, int y, int, std::string_view t) override { TextOut(x, y, t); }
  void RotatedText(int x, int y, std::string_view t, int a) override {
    texts.push_back({x, y, a, align, std::string(t)});
  }
  void RotatedTextZ(int x, int y, int, std::string_view t, int a) override { RotatedText(x, y, t, a); }
  void Line(int x0, int y0, int x1, int y1) override { Note(x0, y0, x1, y1); }
  void HorizontalLine(int x0, int x1, int y) override { Note(x0, y, x1, y); }
  void VerticalLine(int x, int y0, int y1) override { Note(x, y0, x, y1); }
  void HorizontalLineZ(int x0, int x1, int y, int) override { Note(x0, y, x1, y); }
  void VerticalLineZ(int x, int y0, int y1, int) override { Note(x, y0, x, y1); }
  void LineZ(int x0, int y0, int x1, int y1, int) override { Note(x0, y0, x1, y1); }
  TPoint Unproject(int x, int y, int) override { return {x, y}; }
  TPoint Project(int x, int y, int) override { return {x, y}; }
  TRect BeginFrame(QPainter*, const TView3DOptions*, const TRect& b, bool) override { return b; }
  bool RepaintFromCache() override { return false; }
  // Nothing else matters to an axis.
  void SetBackColor(TColor) override {} void SetBackMode(TCanvasBackMode) override {}
  void FillRect(const TRect&) override {} void LineTo(int, int) override {} void MoveTo(int, int) override {}
  void Rectangle(int, int, int, int) override {} void Rectangle(const TRect&) override {}
  void ClipTo(const TRect&) override {} void EraseBackground(const TRect&) override {}
  void MarkDirty() override {} void RemoveClip() override {} void ClipToPlotArea(const TRect&, int, int) override {}
  void PresentFrame(QPainter*, QPainter*, const TRect&) override {} void DepthLine(int, int, int, int) override {}
  void Suspend3D() override {} void Resume3D() override {} void MoveToZ(int, int, int) override {}
  void LineToZ(int, int, int) override {}
};

// The chart as the axes see it: a plotting rectangle, one line series on the
// bottom and left axes, and a canvas.
class FakeChart : public TChartLink {
 public:
  FakeChart() { series.push_back(&line); }
  void Invalidate() override { ++invalidations; }
  int SeriesCount() const override { return static_cast<int>(series.size()); }
  TChartSeries* Series(int i) const override { return series[static_cast<std::size_t>(i)]; }
  TRect GetPlotRect() const override { return plot; }
  TCanvas3D* GetCanvas() const override { return canvas; }
  TChartAxis* AxisFor(THorizAxis) const override { return nullptr; }
  TChartAxis* AxisFor(TVertAxis) const override { return nullptr; }
  void GetAxisLabel(const TCustomChartAxis& axis, double v, std::string& text) override {
    if (hook) hook(axis, v, text);
  }

  TChartSeries line;
  std::vector<TChartSeries*> series;
  TRect plot;
  TCanvas3D* canvas = nullptr;
  int invalidations = 0;
  std::function<void(const TCustomChartAxis&, double, std::string&)> hook;
};

// The chart's axis steps: ranges, the bands taken off the working rectangle
// in list order, the final plot and the pixel extents.
void Layout(FakeChart& chart, std::initializer_list<TChartAxis*> axes) {
  for (TChartAxis* a : axes) a->UpdateEffectiveRange();
  TRect work = chart.plot;
  for (TChartAxis* a : axes) {
    TRect r = work;
    a->LayoutShare(r);
    const TRect common{std::max(r.Left, work.Left), std::max(r.Top, work.Top), std::min(r.Right, work.Right),
                       std::min(r.Bottom, work.Bottom)};
    if (!common.IsEmpty()) work = common;
  }
  chart.plot = work;
  for (TChartAxis* a : axes) {
    a->UpdatePixelExtent();
    a->ApplySeriesMargins();
  }
}

// Range and extent of an axis drawn without the chart's layout.
void Place(TChartAxis& a, double lo, double hi, double increment = 0) {
  a.SetRange(lo, hi);
  a.SetIncrement(increment);
  a.UpdateEffectiveRange();
  a.UpdatePixelExtent();
}

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
  double cx() const { return (left + right) / 2.0; }
  double cy() const { return (top + bottom) / 2.0; }
};

// A real canvas in a frame over a white image of the chart's size.
class Image {
 public:
  Image(int w, int h) : w_(w), h_(h) { Clear(); }
  void Clear() {
    c.BeginFrame(nullptr, nullptr, {0, 0, w_, h_}, false);
    c.Brush().SetColor(clWhite);
    c.Brush().SetStyle(bsSolid);
    c.FillRect({0, 0, w_, h_});
  }
  std::uint32_t Px(int x, int y) const { return c.Image().pixel(x, y) & 0xFFFFFF; }
  std::set<std::pair<int, int>> PixelsOf(std::uint32_t rgb, const TRect& area) const {
    std::set<std::pair<int, int>> s;
    for (int y = std::max(0, area.Top); y < std::min(h_, area.Bottom); ++y)
      for (int x = std::max(0, area.Left); x < std::min(w_, area.Right); ++x)
        if (Px(x, y) == rgb) s.insert({x, y});
    return s;
  }
  Box Ink(const TRect& area) const {
    Box b;
    for (int y = std::max(0, area.Top); y < std::min(h_, area.Bottom); ++y)
      for (int x = std::max(0, area.Left); x < std::min(w_, area.Right); ++x)
        if (Px(x, y) != kWhite)
          b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x), std::max(b.bottom, y)};
    return b;
  }

  TChartCanvas3D c;

 private:
  int w_, h_;
};

int FontHeightOf(TCanvas3D& c, const TFont& f) {
  c.AssignFont(f);
  return c.FontHeight();
}

class AxisDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetDecimalSeparator('.');
    rt::SetThousandSeparator(",");
    chart.canvas = &rec;
  }
  FakeChart chart;
  TChartAxis bottom{&chart, true, false};
  TChartAxis top{&chart, true, true};
  TChartAxis left{&chart, false, false};
  TChartAxis right{&chart, false, true};
  RecordingCanvas rec;
};

}  // namespace

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
