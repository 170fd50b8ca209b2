// The chart canvas, checked on the pixels it leaves in its image. Text is
// judged by its inked bounding box only, never by glyph shapes.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>

#include "ChartCanvas.h"

using namespace wg;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;

// A canvas in the middle of a buffered frame over a white image.
struct Frame {
  TChartCanvas3D c;
  int w, h;
  explicit Frame(int width = 200, int height = 120) : w(width), h(height) {
    c.BeginFrame(nullptr, nullptr, {0, 0, w, h}, false);
    c.Brush().SetColor(clWhite);
    c.Brush().SetStyle(bsSolid);
    c.FillRect({0, 0, w, h});
  }
  // RGB of a pixel (0xRRGGBB).
  std::uint32_t Px(int x, int y) const { return c.Image().pixel(x, y) & 0xFFFFFF; }
  QImage Snapshot() const { return c.Image().copy(); }
  // Pixels that differ from `background`.
  std::set<std::pair<int, int>> Inked(std::uint32_t background = kWhite) const {
    std::set<std::pair<int, int>> s;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (Px(x, y) != background) s.insert({x, y});
    return s;
  }
};

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
  int width() const { return right - left + 1; }
  int height() const { return bottom - top + 1; }
};
Box InkBox(const Frame& f, std::uint32_t background = kWhite) {
  Box b;
  for (auto [x, y] : f.Inked(background)) {
    b.left = std::min(b.left, x);
    b.right = std::max(b.right, x);
    b.top = std::min(b.top, y);
    b.bottom = std::max(b.bottom, y);
  }
  return b;
}

}  // namespace

// ---------------------------------------------------------------------------
// Colours and pens

TEST(CanvasColor, ConvertsOnlyAtTheSurface) {
  EXPECT_EQ(ColorToRGB(clRed), 0x0000FF);
  EXPECT_EQ(ColorToQRgb(clRed), 0xFFFF0000u);
  EXPECT_EQ(ColorToQRgb(clBlue), 0xFF0000FFu);
  EXPECT_EQ(QRgbToColor(0xFF123456u), 0x563412);
  EXPECT_LT(clBtnFace, 0);
  EXPECT_LT(clWindowText, 0);
  const QColor button = QGuiApplication::palette().color(QPalette::Active, QPalette::Button);
  EXPECT_EQ(ColorToQRgb(clBtnFace), button.rgb());
  // Flag values are not colours; only their low bits can reach a surface.
  EXPECT_EQ(clDefault, 0x20000000);
  EXPECT_EQ(clNone, 0x1FFFFFFF);
}

TEST(ChartPenClasses, DefaultsAndNotification) {
  TChartPen plain;
  EXPECT_EQ(plain.Color(), clBlack);
  EXPECT_EQ(plain.Width(), 1);
  EXPECT_EQ(plain.Style(), psSolid);
  EXPECT_EQ(plain.Mode(), pmCopy);
  EXPECT_TRUE(plain.Visible());
  EXPECT_FALSE(plain.SmallDots());
  EXPECT_FALSE(TChartHiddenPen().Visible());
  EXPECT_EQ(TDottedGrayPen().Color(), clGray);
  EXPECT_EQ(TDottedGrayPen().Style(), psDot);
  EXPECT_EQ(TDarkGrayPen().Color(), clGray);
  EXPECT_EQ(TDarkGrayPen().Style(), psSolid);
  EXPECT_EQ(TChartAxisPen().Width(), 2);
  EXPECT_EQ(TChartArrowPen().Color(), clWhite);
  EXPECT_EQ(TChartBrush().Color(), clDefault);
  EXPECT_EQ(TChartBrush().Style(), bsSolid);

  int calls = 0;
  TChartPen p([&] { ++calls; });
  p.SetVisible(true);
  p.SetColor(clBlack);
  EXPECT_EQ(calls, 0);
  p.SetVisible(false);
  p.SetSmallDots(true);
  p.SetColor(clRed);
  EXPECT_EQ(calls, 3);
  TChartPen q;
  q.Assign(p);
  EXPECT_FALSE(q.Visible());
  EXPECT_TRUE(q.SmallDots());
  EXPECT_EQ(q.Color(), clRed);
}

// ---------------------------------------------------------------------------
// Lines

TEST(CanvasLine, EndPixelExcludedAndPositionMoves) {
  Frame f;
  f.c.MoveTo(0, 5);
  f.c.LineTo(10, 5);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(f.Px(x, 5), kBlack) << x;
  EXPECT_EQ(f.Px(10, 5), kWhite);
  EXPECT_EQ(f.c.PenPos(), (TPoint{10, 5}));
  EXPECT_EQ(f.Inked().size(), 10u);

  f.c.VerticalLine(20, 30, 20);  // upwards: rows 30 down to 21
  EXPECT_EQ(f.Px(20, 30), kBlack);
  EXPECT_EQ(f.Px(20, 21), kBlack);
  EXPECT_EQ(f.Px(20, 20), kWhite);
  EXPECT_EQ(f.Inked().size(), 20u);

  f.c.Line(50, 50, 50, 50);  // zero length: nothing
  f.c.DepthLine(60, 60, 0, 10);  // flat: a single point, nothing drawn
  EXPECT_EQ(f.Inked().size(), 20u);
  EXPECT_EQ(f.c.PenPos(), (TPoint{60, 60}));
}

TEST(CanvasLine, SlopedLinesAreNearestPixelsAndDirectionFree) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(0, 119);
  for (int n = 0; n < 300; ++n) {
    const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    if (x0 == x1 && y0 == y1) continue;
    Frame a(120, 120), b(120, 120);
    a.c.Line(x0, y0, x1, y1);
    b.c.Line(x1, y1, x0, y0);
    auto pa = a.Inked(), pb = b.Inked();
    const size_t len = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    ASSERT_EQ(pa.size(), len);
    EXPECT_FALSE(pa.count({x1, y1}));
    EXPECT_TRUE(pa.count({x0, y0}));
    // Both directions cover the same pixels apart from their excluded ends.
    pa.insert({x1, y1});
    pb.insert({x0, y0});
    EXPECT_EQ(pa, pb) << x0 << "," << y0 << " -> " << x1 << "," << y1;
    // Every pixel is the nearest to the ideal line along the minor axis.
    for (auto [x, y] : pa) {
      const bool xMajor = std::abs(x1 - x0) >= std::abs(y1 - y0);
      const double t = xMajor ? double(x - x0) / (x1 - x0) : double(y - y0) / (y1 - y0);
      const double ideal = xMajor ? y0 + t * (y1 - y0) : x0 + t * (x1 - x0);
      EXPECT_LE(std::abs((xMajor ? y : x) - ideal), 0.5);
    }
  }
}

TEST(CanvasLine, ClippingKeepsExactlyTheUnclippedPixelsInside) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> coord(-150, 300);
  const TRect clip{30, 20, 140, 90};
  for (int n = 0; n < 300; ++n) {
    const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    Frame whole(160, 120), clipped(160, 120);
    whole.c.Line(x0, y0, x1, y1);
    clipped.c.ClipTo(clip);
    clipped.c.Line(x0, y0, x1, y1);
    std::set<std::pair<int, int>> expect;
    for (auto [x, y] : whole.Inked())
      if (x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom) expect.insert({x, y});
    ASSERT_EQ(clipped.Inked(), expect) << x0 << "," << y0 << " -> " << x1 << "," << y1;
  }
}

TEST(CanvasLine, FarCoordinatesAreClippedWithoutWalking) {
  Frame f(200, 100);
  const int x0 = -2000000000, y0 = -1000000000, x1 = 2000000000, y1 = 1000000000;
  f.c.Line(x0, y0, x1, y1);
  const auto ink = f.Inked();
  // The ideal line y = x / 2 crosses the image in columns 0..199.
  EXPECT_EQ(ink.size(), 200u);
  for (auto [x, y] : ink) EXPECT_LE(std::abs(y - x / 2.0), 0.5);
  f.c.Line(-2147483647, 50, 2147483647, 50);
  EXPECT_EQ(f.Px(0, 50), kBlack);
  EXPECT_EQ(f.Px(199, 50), kBlack);
}

TEST(CanvasLine, DotAndSmallDotsPatterns) {
  Frame f;
  TDottedGrayPen grid;
  f.c.ApplyChartPen(grid);
  f.c.HorizontalLine(0, 20, 10);
  f.c.HorizontalLine(3, 23, 12);  // every line starts its pattern afresh
  for (int i = 0; i < 20; ++i) {
    const bool on = (i % 6) < 3;
    EXPECT_EQ(f.Px(i, 10), on ? 0x808080u : kWhite) << i;
    EXPECT_EQ(f.Px(3 + i, 12), on ? 0x808080u : kWhite) << i;
  }

  TChartPen fine;
  fine.SetColor(clRed);
  fine.SetSmallDots(true);
  f.c.ApplyChartPen(fine);
  f.c.VerticalLine(40, 0, 15);
  for (int y = 0; y < 15; ++y) EXPECT_EQ(f.Px(40, y), y % 2 == 0 ? 0xFF0000u : kWhite) << y;
  EXPECT_EQ(f.Px(40, 15), kWhite);

  // Any later pen setting leaves the alternate pen.
  f.c.Pen().SetColor(clBlack);
  f.c.HorizontalLine(0, 10, 30);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(f.Px(x, 30), kBlack);

  // Fine dotting is a one-pixel pen only.
  fine.SetWidth(3);
  f.c.ApplyChartPen(fine);
  f.c.HorizontalLine(100, 140, 60);
  for (int x = 102; x < 138; ++x) EXPECT_EQ(f.Px(x, 60), 0xFF0000u) << x;
}

TEST(CanvasLine, InvisiblePenDrawsNothingButMovesThePoint) {
  Frame f;
  TChartHiddenPen hidden;
  f.c.ApplyChartPen(hidden);
  f.c.MoveTo(0, 0);
  f.c.LineTo(50, 50);
  f.c.HorizontalLine(0, 100, 70);
  EXPECT_TRUE(f.Inked().empty());
  EXPECT_EQ(f.c.PenPos(), (TPoint{100, 70}));
  // The hidden pen keeps colour and width; a visible pen draws again from
  // where the invisible lines ended.
  TChartPen visible;
  f.c.ApplyChartPen(visible);
  f.c.LineTo(110, 70);
  EXPECT_EQ(f.Px(100, 70), kBlack);
  EXPECT_EQ(f.Inked().size(), 10u);
}

TEST(CanvasLine, VerticalSpanMatchesMoveAndLineTo) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> coord(-20, 140);
  for (int style = 0; style < 3; ++style) {
    for (int n = 0; n < 100; ++n) {
      Frame a(60, 120), b(60, 120);
      for (Frame* f : {&a, &b}) {
        f->c.ClipTo({5, 10, 55, 100});
        if (style == 1) f->c.Pen().SetStyle(psDot);
        if (style == 2) f->c.Pen().SetMode(pmNotXor);
      }
      const int x = coord(rng) % 60, y0 = coord(rng), y1 = coord(rng);
      a.c.MoveTo(x, y0);
      a.c.LineTo(x, y1);
      a.c.LineTo(x, y0);  // a second stroke: NotXor must undo exactly
      b.c.VerticalSpan(x, y0, y1);
      b.c.VerticalSpan(x, y1, y0);
      ASSERT_EQ(a.Snapshot(), b.Snapshot()) << x << " " << y0 << " " << y1 << " style " << style;
      EXPECT_EQ(a.c.PenPos(), b.c.PenPos());
    }
  }
}

// ---------------------------------------------------------------------------
// Areas and clipping

TEST(CanvasRectangle, OutlineRightAndBottomExclusive) {
  Frame f;
  f.c.Brush().SetColor(clYellow);
  f.c.Rectangle(0, 0, 10, 10);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(f.Px(i, 0), kBlack);
    EXPECT_EQ(f.Px(i, 9), kBlack);
    EXPECT_EQ(f.Px(0, i), kBlack);
    EXPECT_EQ(f.Px(9, i), kBlack);
    EXPECT_EQ(f.Px(10, i), kWhite);
    EXPECT_EQ(f.Px(i, 10), kWhite);
  }
  EXPECT_EQ(f.Px(1, 1), 0xFFFF00u);
  EXPECT_EQ(f.Px(8, 8), 0xFFFF00u);

  // A clear brush leaves the inside alone; no pen leaves out the last row
  // and column.
  f.c.Brush().SetStyle(bsClear);
  f.c.Rectangle(20, 0, 30, 10);
  EXPECT_EQ(f.Px(25, 5), kWhite);
  EXPECT_EQ(f.Px(29, 9), kBlack);
  f.c.Brush().SetStyle(bsSolid);
  f.c.Pen().SetStyle(psClear);
  f.c.Rectangle(40, 0, 50, 10);
  EXPECT_EQ(f.Px(40, 0), 0xFFFF00u);
  EXPECT_EQ(f.Px(48, 8), 0xFFFF00u);
  EXPECT_EQ(f.Px(49, 5), kWhite);
  EXPECT_EQ(f.Px(45, 9), kWhite);

  // Degenerate rectangles draw nothing.
  const QImage before = f.Snapshot();
  f.c.Pen().SetStyle(psSolid);
  f.c.Rectangle(60, 0, 60, 10);
  f.c.Rectangle(70, 10, 80, 5);
  f.c.FillRect({90, 0, 80, 10});
  EXPECT_EQ(f.Snapshot(), before);
}

TEST(CanvasRectangle, NotXorTwiceRestores) {
  Frame f;
  // Something varied underneath.
  for (int i = 0; i < 12; ++i) {
    f.c.Brush().SetColor(static_cast<TColor>(0x102030 * i + 0x0A0B0C));
    f.c.FillRect({i * 16, 0, i * 16 + 16, 120});
  }
  f.c.Pen().SetColor(clBlack);
  f.c.TextOut(20, 30, "148.5");
  const QImage before = f.Snapshot();

  f.c.Brush().SetStyle(bsClear);
  f.c.Pen().SetMode(pmNotXor);
  for (TRect r : {TRect{20, 20, 80, 60}, TRect{100, 50, 101, 90}, TRect{120, 70, 170, 71}, TRect{5, 5, 6, 6}}) {
    f.c.Rectangle(r);
    const QImage once = f.Snapshot();
    EXPECT_NE(once, before);
    // Once: exactly the outline is inverted.
    EXPECT_EQ(f.Px(r.Left, r.Top), ~before.pixel(r.Left, r.Top) & 0xFFFFFF);
    EXPECT_EQ(f.Px(r.Right - 1, r.Bottom - 1), ~before.pixel(r.Right - 1, r.Bottom - 1) & 0xFFFFFF);
    f.c.Rectangle(r);
    EXPECT_EQ(f.Snapshot(), before);
  }
}

TEST(CanvasRectangle, HatchBackgroundFollowsTheBackMode) {
  Frame f;
  f.c.Brush().SetColor(clRed);
  f.c.Brush().SetStyle(bsHorizontal);
  f.c.FillRect({0, 0, 40, 40});  // transparent: gaps stay white
  f.c.SetBackMode(cbmOpaque);
  f.c.SetBackColor(clBlue);
  f.c.FillRect({50, 0, 90, 40});  // opaque: gaps take the background colour
  std::set<std::uint32_t> left, right;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      left.insert(f.Px(x, y));
      right.insert(f.Px(50 + x, y));
    }
  EXPECT_EQ(left, (std::set<std::uint32_t>{0xFF0000u, kWhite}));
  EXPECT_EQ(right, (std::set<std::uint32_t>{0xFF0000u, 0x0000FFu}));
  f.c.Brush().SetStyle(bsClear);
  const QImage before = f.Snapshot();
  f.c.FillRect({0, 0, 100, 100});
  EXPECT_EQ(f.Snapshot(), before);
}

TEST(CanvasClip, PlotAreaClipAndRemoval) {
  Frame f(600, 320);
  f.c.ClipToPlotArea({50, 20, 550, 300});
  f.c.Brush().SetColor(clRed);
  f.c.FillRect({0, 0, 600, 320});
  f.c.Pen().SetColor(clBlue);
  f.c.Line(0, 10, 599, 310);
  f.c.TextOut(540, 290, "WWWW");
  const Box b = InkBox(f);
  EXPECT_EQ(b.left, 51);
  EXPECT_EQ(b.right, 549);
  EXPECT_EQ(b.top, 21);
  EXPECT_EQ(b.bottom, 298);

  // Clips intersect; a degenerate one hides everything until removed.
  Frame g(100, 100);
  g.c.Brush().SetColor(clRed);
  g.c.ClipTo({10, 10, 60, 60});
  g.c.ClipTo({40, 0, 100, 50});
  g.c.FillRect({0, 0, 100, 100});
  const Box gb = InkBox(g);
  EXPECT_EQ(gb.left, 40);
  EXPECT_EQ(gb.top, 10);
  EXPECT_EQ(gb.right, 59);
  EXPECT_EQ(gb.bottom, 49);
  g.c.ClipTo({70, 70, 70, 90});
  g.c.Pen().SetWidth(3);
  g.c.Line(0, 80, 99, 80);
  g.c.Pen().SetWidth(1);
  g.c.Line(0, 80, 99, 80);
  g.c.TextOut(70, 70, "W");
  EXPECT_EQ(g.Inked().size(), 800u);  // only the fill above
  g.c.RemoveClip();
  g.c.Line(0, 80, 99, 80);
  EXPECT_EQ(g.Px(0, 80), kBlack);
}

// ---------------------------------------------------------------------------
// Text

TEST(CanvasText, ResetStateGivesBlackTenPointTransparentText) {
  Frame f;
  f.c.Brush().SetColor(clYellow);
  f.c.FillRect({0, 0, f.w, f.h});
  f.c.Font().SetColor(clRed);
  f.c.Font().SetSize(30);
  f.c.SetBackMode(cbmOpaque);
  f.c.SetBackColor(clBlue);
  f.c.ResetDrawingState();
  EXPECT_EQ(f.c.Font().Size(), 10);
  EXPECT_EQ(f.c.Pen().Color(), clBlack);
  EXPECT_EQ(f.c.Brush().Color(), clWhite);
  EXPECT_EQ(f.c.BackMode(), cbmTransparent);
  f.c.TextOut(10, 10, "Hz 138");
  bool sawBlack = false;
  for (auto [x, y] : f.Inked(0xFFFF00)) {
    const std::uint32_t p = f.Px(x, y);
    // Only glyph ink (black, or black blended into the yellow) appears.
    EXPECT_EQ(p & 0x0000FF, 0u) << x << "," << y;
    EXPECT_EQ((p >> 16) & 0xFF, (p >> 8) & 0xFF);
    sawBlack |= p == kBlack;
  }
  EXPECT_TRUE(sawBlack);
  const Box b = InkBox(f, 0xFFFF00);
  EXPECT_GE(b.top, 10);
  EXPECT_LT(b.bottom, 10 + f.c.FontHeight());
  EXPECT_GE(b.height(), 10 * ScreenPixelsPerInch() / 72 * 6 / 10);
}

TEST(CanvasText, OpaqueBackgroundFillsTheTextCell) {
  Frame f;
  f.c.SetBackMode(cbmOpaque);
  f.c.SetBackColor(clAqua);
  f.c.TextOut(20, 30, "dB");
  const int w = f.c.TextWidth("dB"), h = f.c.TextHeight("dB");
  EXPECT_EQ(f.Px(20, 30), 0x00FFFFu);
  EXPECT_EQ(f.Px(20 + w - 1, 30 + h - 1), 0x00FFFFu);
  EXPECT_EQ(f.Px(20 + w, 30), kWhite);
  EXPECT_EQ(f.Px(20, 30 + h), kWhite);
  EXPECT_EQ(f.Px(19, 30), kWhite);
}

TEST(CanvasText, AlignmentPlacesTheReferencePoint) {
  {  // centred, top
    Frame f;
    f.c.SetTextAlign(TA_CENTER | TA_TOP);
    f.c.TextOut(100, 40, "dB");
    const Box b = InkBox(f);
    ASSERT_FALSE(b.empty());
    EXPECT_LE(std::abs((b.left + b.right + 1) / 2.0 - 100), 1.5);
    EXPECT_GE(b.top, 40);
    EXPECT_LE(b.top, 40 + f.c.FontHeight() / 3);
  }
  {  // right, top: ends at x
    Frame f;
    f.c.SetTextAlign(TA_RIGHT | TA_TOP);
    f.c.TextOut(100, 40, "-120");
    const Box b = InkBox(f);
    EXPECT_LT(b.right, 100);
    EXPECT_GE(b.right, 97);
    EXPECT_GE(b.left, 100 - f.c.TextWidth("-120"));
  }
  {  // centred, bottom: the text cell ends at y
    Frame f;
    f.c.SetTextAlign(TA_CENTER | TA_BOTTOM);
    f.c.TextOut(100, 60, "FFT");
    const Box b = InkBox(f);
    EXPECT_LT(b.bottom, 60);
    EXPECT_GE(b.top, 60 - f.c.FontHeight());
  }
  {  // left, top (the default)
    Frame f;
    f.c.TextOut(30, 20, "Hz");
    const Box b = InkBox(f);
    EXPECT_GE(b.left, 30);
    EXPECT_LE(b.left, 32);
    EXPECT_GE(b.top, 20);
  }
}

TEST(CanvasText, RotatedNinetyReadsUpAndWrapsAbove360) {
  Frame a, b;
  a.c.RotatedText(60, 100, "Frequency", 90);
  b.c.RotatedText(60, 100, "Frequency", 450);
  EXPECT_EQ(a.Snapshot(), b.Snapshot());
  EXPECT_EQ(a.c.Brush().Style(), bsClear);
  // Reading upwards from the reference point, the glyph tops facing left:
  // the text cell lies right of x and above y.
  const Box box = InkBox(a);
  ASSERT_FALSE(box.empty());
  EXPECT_GT(box.height(), 2 * box.width());
  EXPECT_GE(box.left, 60);
  EXPECT_LE(box.right, 60 + a.c.FontHeight());
  EXPECT_LE(box.bottom, 100);
  EXPECT_GE(box.top, 100 - a.c.TextWidth("Frequency") - 1);

  Frame down;
  down.c.RotatedText(60, 10, "Frequency", 270);
  const Box d = InkBox(down);
  EXPECT_LT(d.right, 60);
  EXPECT_GE(d.top, 10);
}

// ---------------------------------------------------------------------------
// Frames

namespace {
int gDraws = 0;
// The chart's paint handling against a window surface `window`.
void Paint(TChartCanvas3D& c, QImage& window) {
  QPainter p(&window);
  c.SetWindowSurface(&p);
  if (!c.RepaintFromCache()) {
    ++gDraws;
    const TRect bounds{0, 0, window.width(), window.height()};
    const TRect r = c.BeginFrame(&p, nullptr, bounds, false);
    c.Brush().SetColor(clWhite);
    c.EraseBackground(r);
    c.Pen().SetColor(clRed);
    c.Rectangle(10, 10, 50, 40);
    c.TextOut(12, 12, "138");
    c.ResetDrawingState();
    c.PresentFrame(&p, &p, bounds);
  }
  c.SetWindowSurface(nullptr);
}
}  // namespace

TEST(CanvasFrame, PaintWithoutChangeIsACopy) {
  TChartCanvas3D c;
  EXPECT_TRUE(c.Dirty());
  gDraws = 0;
  QImage first(120, 80, QImage::Format_RGB32), second(120, 80, QImage::Format_RGB32);
  first.fill(Qt::black);
  second.fill(Qt::black);
  Paint(c, first);
  EXPECT_FALSE(c.Dirty());
  const uchar* pixels = c.Image().constBits();
  Paint(c, second);
  EXPECT_EQ(gDraws, 1);
  EXPECT_EQ(first, second);
  EXPECT_EQ(second.pixel(10, 10) & 0xFFFFFF, 0xFF0000u);

  c.MarkDirty();
  Paint(c, second);
  EXPECT_EQ(gDraws, 2);
  EXPECT_EQ(c.Image().constBits(), pixels);  // same size: the image is kept

  QImage bigger(150, 90, QImage::Format_RGB32);
  c.MarkDirty();
  Paint(c, bigger);
  EXPECT_EQ(c.Image().size(), QSize(150, 90));

  c.SetBuffered(false);
  EXPECT_FALSE(c.HasImage());
  EXPECT_TRUE(c.Dirty());
  EXPECT_FALSE(c.RepaintFromCache());
}

TEST(CanvasFrame, PresentCopiesAtTheBoundsOrigin) {
  TChartCanvas3D c;
  QImage window(100, 60, QImage::Format_RGB32);
  window.fill(Qt::white);
  QPainter p(&window);
  const TRect bounds{30, 20, 70, 50};
  const TRect r = c.BeginFrame(&p, nullptr, bounds, false);
  EXPECT_EQ(r, (TRect{0, 0, 40, 30}));
  c.Brush().SetColor(clBlue);
  c.FillRect(r);
  c.PresentFrame(&p, &p, bounds);
  p.end();
  EXPECT_EQ(window.pixel(29, 20) & 0xFFFFFF, kWhite);
  EXPECT_EQ(window.pixel(30, 20) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(window.pixel(69, 49) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(window.pixel(70, 49) & 0xFFFFFF, kWhite);
}

TEST(CanvasFrame, UnbufferedDrawsTheSamePixelsOnTheDestination) {
  auto scene = [](TChartCanvas3D& c, const TRect& r) {
    c.Brush().SetColor(clWhite);
    c.FillRect(r);
    c.ClipTo({5, 5, 150, 95});
    TDottedGrayPen grid;
    c.ApplyChartPen(grid);
    for (int x = 0; x < 160; x += 13) c.VerticalLine(x, 0, 100);
    c.Pen().SetColor(clRed);
    c.Pen().SetStyle(psSolid);
    for (int i = 0; i < 40; ++i) c.LineTo((i * 37) % 160, (i * 53) % 100);
    c.Pen().SetMode(pmNotXor);
    c.Pen().SetColor(clBlack);
    c.Brush().SetStyle(bsClear);
    c.Rectangle(20, 20, 90, 70);
    c.Pen().SetMode(pmCopy);
  };
  const TRect bounds{0, 0, 160, 100};
  QImage buffered(160, 100, QImage::Format_RGB32), direct(160, 100, QImage::Format_RGB32);
  {
    TChartCanvas3D c;
    QPainter p(&buffered);
    scene(c, c.BeginFrame(&p, nullptr, bounds, false));
    c.PresentFrame(&p, nullptr, bounds);
  }
  {
    TChartCanvas3D c;
    c.SetBuffered(false);
    QPainter p(&direct);
    scene(c, c.BeginFrame(&p, nullptr, bounds, false));
    c.PresentFrame(&p, nullptr, bounds);
    EXPECT_TRUE(c.Dirty());
  }
  EXPECT_EQ(buffered, direct);
}

TEST(CanvasFrame, FlatProjectionAndClipOnly) {
  TChartCanvas3D c;
  TView3DOptions opts;
  opts.Zoom = 150;
  c.BeginFrame(nullptr, &opts, {0, 0, 50, 50}, false);
  EXPECT_FALSE(c.Is3D());
  EXPECT_EQ(c.ZoomFactor(), 1.0);
  EXPECT_EQ(c.Project(10, 20, 30), (TPoint{10, 20}));
  EXPECT_EQ(c.Unproject(10, 20, 30), (TPoint{10, 20}));
  c.Suspend3D();
  c.Resume3D();
  EXPECT_FALSE(c.Is3D());
}

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
