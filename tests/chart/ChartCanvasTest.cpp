// The chart canvas and its fonts, checked on the pixels left in the image.
// Text is judged by its inked bounding box only, never by glyph shapes.
#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>

#include "chart/ImageCanvas.h"
#include "runtime/NumText.h"

using namespace wg;

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;
using PixelSet = std::set<std::pair<int, int>>;

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
  std::uint32_t Px(int x, int y) const { return c.Image().pixel(x, y) & 0xFFFFFF; }
  QImage Snapshot() const { return c.Image().copy(); }
  PixelSet Inked(std::uint32_t background = kWhite) const {
    PixelSet s;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (Px(x, y) != background) s.insert({x, y});
    return s;
  }
};

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
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
// Colours and fonts

TEST(CanvasBasics, ColoursAndFonts) {
  EXPECT_EQ(ColorToQRgb(clRed), 0xFFFF0000u);
  EXPECT_EQ(QRgbToColor(0xFF123456u), 0x563412);
  const QColor button = QGuiApplication::palette().color(QPalette::Active, QPalette::Button);
  EXPECT_EQ(ColorToQRgb(clBtnFace), button.rgb());

  // "Arial" 8 points is MulDiv(8, dpi, 72) pixels of a metric-compatible face.
  const int dpi = ScreenPixelsPerInch();
  TFont f = DefaultChartFont();
  EXPECT_EQ(f.Name(), "Arial");
  EXPECT_EQ(MakeQFont(f).pixelSize(), rt::MulDiv(8, dpi, 72));
  f.SetSize(10);
  EXPECT_EQ(MakeQFont(f).pixelSize(), rt::MulDiv(10, dpi, 72));
  EXPECT_EQ(QFontInfo(MakeQFont(DefaultChartFont())).family().toStdString(), "Liberation Sans");

  // Measurement follows a shape change made through the canvas's font, but
  // a colour change keeps the cached shape.
  TChartCanvas c;
  c.AssignFont(DefaultChartFont());
  EXPECT_EQ(c.TextWidth(""), 0);
  const int w = c.TextWidth("138"), h = c.FontHeight();
  EXPECT_GT(c.TextWidth("138,000,000"), w);
  EXPECT_EQ(c.TextHeight("x"), h);
  const auto gen = c.Font().Generation();
  c.Font().SetColor(clRed);
  EXPECT_EQ(c.Font().Generation(), gen);
  c.Font().SetSize(16);
  EXPECT_GT(c.FontHeight(), h);
  EXPECT_GT(c.TextWidth("138"), w);
}

// ---------------------------------------------------------------------------
// Lines

TEST(CanvasLine, EndPixelExcludedAndPositionMoves) {
  Frame f;
  f.c.MoveTo(0, 5);
  f.c.LineTo(10, 5);
  EXPECT_EQ(f.Px(9, 5), kBlack);
  EXPECT_EQ(f.Px(10, 5), kWhite);
  EXPECT_EQ(f.c.PenPos(), (TPoint{10, 5}));
  EXPECT_EQ(f.Inked().size(), 10u);
  f.c.Line(50, 50, 50, 50);  // zero length: nothing
  EXPECT_EQ(f.Inked().size(), 10u);
}

TEST(CanvasLine, RandomLinesNearestPixelsDirectionFreeAndClipped) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(-40, 200);
  const TRect clip{30, 20, 140, 90};
  auto inFrame = [](int x, int y) { return x >= 0 && x < 160 && y >= 0 && y < 120; };
  int whole = 0;
  for (int n = 0; n < 300; ++n) {
    const int x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    if (x0 == x1 && y0 == y1) continue;
    SCOPED_TRACE(testing::Message() << x0 << "," << y0 << " -> " << x1 << "," << y1);
    Frame a(160, 120), b(160, 120), clipped(160, 120);
    a.c.Line(x0, y0, x1, y1);
    b.c.Line(x1, y1, x0, y0);
    clipped.c.ClipTo(clip);
    clipped.c.Line(x0, y0, x1, y1);
    const bool xMajor = std::abs(x1 - x0) >= std::abs(y1 - y0);
    PixelSet pa = a.Inked(), pb = b.Inked(), inside;
    for (auto [x, y] : pa) {
      const double t = xMajor ? double(x - x0) / (x1 - x0) : double(y - y0) / (y1 - y0);
      const double ideal = xMajor ? y0 + t * (y1 - y0) : x0 + t * (x1 - x0);
      ASSERT_LE(std::abs((xMajor ? y : x) - ideal), 0.5);
      if (x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom) inside.insert({x, y});
    }
    ASSERT_EQ(clipped.Inked(), inside);
    if (inFrame(x0, y0) && inFrame(x1, y1)) {  // no gaps: one pixel per major step
      ++whole;
      ASSERT_EQ(pa.size(), static_cast<size_t>(std::max(std::abs(x1 - x0), std::abs(y1 - y0))));
    }
    // Apart from their excluded end pixels both directions cover the same.
    pa.erase({x0, y0});
    pb.erase({x1, y1});
    ASSERT_EQ(pa, pb);
    ASSERT_FALSE(a.Inked().count({x1, y1}));
  }
  EXPECT_GT(whole, 10);
}

TEST(CanvasLine, FarCoordinatesAreClippedWithoutWalking) {
  Frame f(200, 100);
  f.c.Line(-2000000000, -1000000000, 2000000000, 1000000000);
  const auto ink = f.Inked();
  EXPECT_EQ(ink.size(), 200u);
  for (auto [x, y] : ink) EXPECT_LE(std::abs(y - x / 2.0), 0.5);
  f.c.Line(-2147483647, 50, 2147483647, 50);
  EXPECT_EQ(f.Px(0, 50), kBlack);
  EXPECT_EQ(f.Px(199, 50), kBlack);
}

TEST(CanvasLine, DotSmallDotsAndInvisiblePens) {
  Frame f;
  TDottedGrayPen grid;
  f.c.ApplyChartPen(grid);
  f.c.HorizontalLine(0, 20, 10);
  f.c.HorizontalLine(3, 23, 12);  // every line starts its pattern afresh
  for (int i = 0; i < 20; ++i) {
    const std::uint32_t want = (i % 6) < 3 ? 0x808080u : kWhite;
    EXPECT_EQ(f.Px(i, 10), want) << i;
    EXPECT_EQ(f.Px(3 + i, 12), want) << i;
  }
  TChartPen fine;
  fine.SetColor(clRed);
  fine.SetSmallDots(true);
  f.c.ApplyChartPen(fine);
  f.c.VerticalLine(40, 0, 15);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(f.Px(40, y), y % 2 == 0 && y < 15 ? 0xFF0000u : kWhite) << y;
  f.c.Pen().SetColor(clBlack);  // any later pen setting leaves the alternate pen
  f.c.HorizontalLine(0, 10, 30);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(f.Px(x, 30), kBlack);

  // An invisible pen draws nothing but moves the current point.
  Frame g;
  TChartHiddenPen hidden;
  g.c.ApplyChartPen(hidden);
  g.c.MoveTo(0, 0);
  g.c.LineTo(50, 50);
  g.c.HorizontalLine(0, 100, 70);
  EXPECT_TRUE(g.Inked().empty());
  TChartPen visible;
  g.c.ApplyChartPen(visible);
  g.c.LineTo(110, 70);
  EXPECT_EQ(g.Px(100, 70), kBlack);
  EXPECT_EQ(g.Inked().size(), 10u);
}

// ---------------------------------------------------------------------------
// Areas and clipping

TEST(CanvasRectangle, OutlineFillAndDegenerateCases) {
  Frame f;
  f.c.Brush().SetColor(clYellow);
  f.c.Rectangle(0, 0, 10, 10);
  PixelSet outline;
  for (int i = 0; i < 10; ++i) outline.insert({{i, 0}, {i, 9}, {0, i}, {9, i}});
  for (auto [x, y] : f.Inked()) EXPECT_EQ(f.Px(x, y), outline.count({x, y}) ? kBlack : 0xFFFF00u);
  EXPECT_EQ(f.Inked().size(), 100u) << "outline and fill end before row and column 10";
  // No pen leaves out the last row and column.
  f.c.Pen().SetStyle(psClear);
  f.c.Rectangle(40, 0, 50, 10);
  EXPECT_EQ(f.Px(40, 0), 0xFFFF00u);
  EXPECT_EQ(f.Px(48, 8), 0xFFFF00u);
  EXPECT_EQ(f.Px(49, 5), kWhite);
  EXPECT_EQ(f.Px(45, 9), kWhite);
  const QImage before = f.Snapshot();
  f.c.Pen().SetStyle(psSolid);
  f.c.Rectangle(60, 0, 60, 10);
  f.c.Rectangle(70, 10, 80, 5);
  f.c.FillRect({90, 0, 80, 10});
  EXPECT_EQ(f.Snapshot(), before);
}

TEST(CanvasRectangle, NotXorTwiceRestores) {
  Frame f;
  for (int i = 0; i < 12; ++i) {
    f.c.Brush().SetColor(static_cast<TColor>(0x102030 * i + 0x0A0B0C));
    f.c.FillRect({i * 16, 0, i * 16 + 16, 120});
  }
  f.c.TextOut(20, 30, "148.5");
  const QImage before = f.Snapshot();
  f.c.Brush().SetStyle(bsClear);
  f.c.Pen().SetMode(pmNotXor);
  for (TRect r : {TRect{20, 20, 80, 60}, TRect{100, 50, 101, 90}, TRect{120, 70, 170, 71}}) {
    f.c.Rectangle(r);
    EXPECT_EQ(f.Px(r.Left, r.Top), ~before.pixel(r.Left, r.Top) & 0xFFFFFF);
    EXPECT_EQ(f.Px(r.Right - 1, r.Bottom - 1), ~before.pixel(r.Right - 1, r.Bottom - 1) & 0xFFFFFF);
    f.c.Rectangle(r);
    EXPECT_EQ(f.Snapshot(), before);
  }
}

TEST(CanvasClip, PlotAreaClipIntersectionAndRemoval) {
  Frame f(600, 320);
  f.c.ClipToPlotArea({50, 20, 550, 300});
  f.c.Brush().SetColor(clRed);
  f.c.FillRect({0, 0, 600, 320});
  f.c.Line(0, 10, 599, 310);
  f.c.TextOut(540, 290, "WWWW");
  const Box b = InkBox(f);
  EXPECT_EQ((std::vector<int>{b.left, b.top, b.right, b.bottom}), (std::vector<int>{51, 21, 549, 298}));

  // Clips intersect; a degenerate one hides everything until removed.
  Frame g(100, 100);
  g.c.Brush().SetColor(clRed);
  g.c.ClipTo({10, 10, 60, 60});
  g.c.ClipTo({40, 0, 100, 50});
  g.c.FillRect({0, 0, 100, 100});
  const Box gb = InkBox(g);
  EXPECT_EQ((std::vector<int>{gb.left, gb.top, gb.right, gb.bottom}), (std::vector<int>{40, 10, 59, 49}));
  g.c.ClipTo({70, 70, 70, 90});
  g.c.Pen().SetWidth(3);
  g.c.Line(0, 80, 99, 80);
  g.c.TextOut(70, 70, "W");
  EXPECT_EQ(g.Inked().size(), 800u);
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
  f.c.ResetDrawingState();
  f.c.TextOut(10, 10, "Hz 138");
  for (auto [x, y] : f.Inked(0xFFFF00)) {
    const std::uint32_t p = f.Px(x, y);  // black ink, maybe blended into yellow
    ASSERT_TRUE((p & 0xFF) == 0 && (p >> 16) == ((p >> 8) & 0xFF)) << x << "," << y;
  }
  const Box b = InkBox(f, 0xFFFF00);
  EXPECT_GE(b.top, 10);
  EXPECT_LT(b.bottom, 10 + f.c.FontHeight());
  EXPECT_GE(b.height(), 10 * ScreenPixelsPerInch() / 72 * 6 / 10);
}

TEST(CanvasText, OpaqueBackgroundFillsTheTextCell) {
  Frame f;
  f.c.SetBackMode(cbmOpaque);
  f.c.SetBackColor(clAqua);
  f.c.TextOut(100, 30, "dB");
  const int w = f.c.TextWidth("dB"), h = f.c.TextHeight("dB");
  EXPECT_EQ(f.Px(100, 30), 0x00FFFFu);
  EXPECT_EQ(f.Px(100 + w - 1, 30 + h - 1), 0x00FFFFu);
  EXPECT_EQ(f.Px(100 + w, 30), kWhite);
  EXPECT_EQ(f.Px(100, 30 + h), kWhite);
}

TEST(CanvasText, AlignmentPlacesTheReferencePoint) {
  Frame c;
  c.c.SetTextAlign(TA_CENTER | TA_TOP);  // 6
  c.c.TextOut(100, 40, "dB");
  const Box cb = InkBox(c);
  EXPECT_LE(std::abs((cb.left + cb.right + 1) / 2.0 - 100), 1.5);
  EXPECT_GE(cb.top, 40);
  EXPECT_LE(cb.top, 40 + c.c.FontHeight() / 3);

  Frame r;
  r.c.SetTextAlign(TA_RIGHT | TA_TOP);
  r.c.TextOut(100, 40, "-120");
  const Box rb = InkBox(r);
  EXPECT_LT(rb.right, 100);
  EXPECT_GE(rb.right, 97);
}

TEST(CanvasText, RotatedNinetyReadsUpAndWrapsAbove360) {
  Frame a, b;
  a.c.RotatedText(60, 100, "Frequency", 90);
  b.c.RotatedText(60, 100, "Frequency", 450);
  EXPECT_EQ(a.Snapshot(), b.Snapshot());
  // Reading upwards, glyph tops facing left: right of x and above y.
  const Box box = InkBox(a);
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
// The chart's paint handling against a window surface.
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
    c.ResetDrawingState();
    c.PresentFrame(&p, &p, bounds);
  }
  c.SetWindowSurface(nullptr);
}
}  // namespace

TEST(CanvasFrame, PaintWithoutChangeIsACopy) {
  TChartCanvas3D c;
  gDraws = 0;
  QImage first(120, 80, QImage::Format_RGB32), second(120, 80, QImage::Format_RGB32);
  first.fill(Qt::black);
  second.fill(Qt::black);
  Paint(c, first);
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
}
