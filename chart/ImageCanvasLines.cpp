// The image canvas's lines: the one-pixel rasteriser with its dash patterns
// and raster operations, clipped in closed form, and the column spans of the
// fast line series.
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "chart/ImageCanvasImpl.h"

namespace wg {

using image_canvas::CompositionFor;
using image_canvas::SurfaceRgb;

namespace {

// Dash patterns of the one-pixel styles, as on/off bits over one period,
// bit i for the i-th pixel of a line: dash 18 on 6 off, dot 3 on 3 off,
// dash-dot 9-6-3-6, dash-dot-dot 9-3-3-3-3-3, alternate 1 on 1 off.
struct Pattern {
  std::uint32_t bits;
  int period;
  bool On(long long i) const { return (bits >> (i % period)) & 1u; }
};
constexpr std::uint32_t Runs(std::initializer_list<int> runs) {
  std::uint32_t bits = 0;
  int pos = 0;
  bool on = true;
  for (int r : runs) {
    for (int k = 0; k < r; ++k, ++pos)
      if (on) bits |= 1u << pos;
    on = !on;
  }
  return bits;
}
constexpr Pattern kDash{Runs({18, 6}), 24};
constexpr Pattern kDot{Runs({3, 3}), 6};
constexpr Pattern kDashDot{Runs({9, 6, 3, 6}), 24};
constexpr Pattern kDashDotDot{Runs({9, 3, 3, 3, 3, 3}), 24};
constexpr Pattern kAlternate{0b01, 2};

inline std::uint32_t Rop2(TPenMode m, std::uint32_t p, std::uint32_t d) {
  std::uint32_t r;
  switch (m) {
    case pmBlack: r = 0; break;
    case pmWhite: r = ~0u; break;
    case pmNop: r = d; break;
    case pmNot: r = ~d; break;
    case pmCopy: r = p; break;
    case pmNotCopy: r = ~p; break;
    case pmMergePenNot: r = p | ~d; break;
    case pmMaskPenNot: r = p & ~d; break;
    case pmMergeNotPen: r = ~p | d; break;
    case pmMaskNotPen: r = ~p & d; break;
    case pmMerge: r = p | d; break;
    case pmNotMerge: r = ~(p | d); break;
    case pmMask: r = p & d; break;
    case pmNotMask: r = ~(p & d); break;
    case pmXor: r = p ^ d; break;
    case pmNotXor: r = ~(p ^ d); break;
    default: r = p; break;
  }
  return r | 0xFF000000u;
}


using Wide = __int128;

// Floor of a / b for b > 0.
inline Wide FloorDiv(Wide a, Wide b) {
  Wide q = a / b;
  if ((a % b != 0) && (a < 0)) --q;
  return q;
}
inline Wide CeilDiv(Wide a, Wide b) { return -FloorDiv(-a, b); }

// Walks the pixels of the line from (x0, y0) towards (x1, y1), end pixel
// excluded, inside the box [bx0, bx1) x [by0, by1), and calls
// plot(x, y, i) with i the pixel's index along the whole line (so dash
// patterns stay put when the line is clipped). The minor coordinate is the
// nearest pixel of the ideal line; a tie goes to the smaller coordinate, so a
// line covers the same pixels whichever way it is drawn. The clipping is
// solved in closed form: a line far outside costs no walk.
template <class Plot>
inline void Rasterise(int x0, int y0, int x1, int y1, int bx0, int by0, int bx1, int by1, Plot&& plot) {
  if (bx0 >= bx1 || by0 >= by1) return;
  const long long dx = static_cast<long long>(x1) - x0;
  const long long dy = static_cast<long long>(y1) - y0;
  const long long adx = dx < 0 ? -dx : dx;
  const long long ady = dy < 0 ? -dy : dy;
  const bool xMajor = adx >= ady;
  const long long n = xMajor ? adx : ady;  // pixels drawn
  if (n == 0) return;
  const long long m = xMajor ? ady : adx;
  const int sMaj = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const int sMin = (xMajor ? dy : dx) < 0 ? -1 : 1;
  const long long maj0 = xMajor ? x0 : y0;
  const long long min0 = xMajor ? y0 : x0;
  const long long majLo = xMajor ? bx0 : by0, majHi = (xMajor ? bx1 : by1) - 1;
  const long long minLo = xMajor ? by0 : bx0, minHi = (xMajor ? by1 : bx1) - 1;

  // i range from the major axis.
  long long ia, ib;  // [ia, ib)
  if (sMaj > 0) {
    ia = majLo - maj0;
    ib = majHi - maj0 + 1;
  } else {
    ia = maj0 - majHi;
    ib = maj0 - majLo + 1;
  }
  ia = std::max(ia, 0LL);
  ib = std::min(ib, n);
  if (ia >= ib) return;

  // Offsets k along the minor axis that fall in the box.
  long long klo, khi;
  if (sMin > 0) {
    klo = minLo - min0;
    khi = minHi - min0;
  } else {
    klo = min0 - minHi;
    khi = min0 - minLo;
  }
  const bool tieUp = sMin < 0;
  if (m == 0) {
    if (klo > 0 || khi < 0) return;
  } else {
    // First i with k(i) >= K, where k(i) is i*m/n rounded (ties down, or up
    // when tieUp).
    auto firstAtLeast = [&](long long K) -> long long {
      const Wide num = static_cast<Wide>(n) * (2 * static_cast<Wide>(K) - 1);
      const Wide den = 2 * static_cast<Wide>(m);
      const Wide i = tieUp ? CeilDiv(num, den) : FloorDiv(num, den) + 1;
      if (i < 0) return 0;
      if (i > n) return n;
      return static_cast<long long>(i);
    };
    ia = std::max(ia, firstAtLeast(klo));
    ib = std::min(ib, firstAtLeast(khi + 1));
    if (ia >= ib) return;
  }

  long long k;
  if (m == 0) {
    k = 0;
  } else {
    const Wide num = 2 * static_cast<Wide>(ia) * m + n;
    const Wide den = 2 * static_cast<Wide>(n);
    k = static_cast<long long>(tieUp ? FloorDiv(num, den) : CeilDiv(num - 2 * static_cast<Wide>(n), den));
  }
  // d = 2*m*i - (2k+1)*n, kept small: |d| <= 2n.
  long long d = static_cast<long long>(2 * static_cast<Wide>(m) * ia - (2 * static_cast<Wide>(k) + 1) * n);
  long long maj = maj0 + sMaj * ia;
  long long mn = min0 + sMin * k;
  const long long twoM = 2 * m, twoN = 2 * n;
  for (long long i = ia; i < ib; ++i) {
    if (xMajor)
      plot(static_cast<int>(maj), static_cast<int>(mn), i);
    else
      plot(static_cast<int>(mn), static_cast<int>(maj), i);
    maj += sMaj;
    d += twoM;
    if (d > 0 || (tieUp && d == 0)) {
      mn += sMin;
      d -= twoN;
    }
  }
}

// The pixels a run from a toward b covers with the end pixel b left out, as
// a line draws them, clipped to [clipLo, clipHi): first and last inclusive,
// first > last when none is left.
inline void RunPixels(int a, int b, int clipLo, int clipHi, int& first, int& last) {
  if (b > a) {
    first = a;
    last = b - 1;
  } else {
    first = b + 1;
    last = a;
  }
  first = std::max(first, clipLo);
  last = std::min(last, clipHi - 1);
}

// One colour down a column, rows first … last.
inline void FillColumn(std::uint32_t* bits, std::ptrdiff_t stride, int x, int first, int last,
                       std::uint32_t color) {
  std::uint32_t* q = bits + static_cast<std::ptrdiff_t>(first) * stride + x;
  for (int y = first; y <= last; ++y, q += stride) *q = color;
}


}  // namespace

namespace image_canvas {

std::uint32_t SurfaceRgb(TColor c, bool monochrome) {
  const std::uint32_t q = ColorToQRgb(c);
  if (!monochrome) return q;
  const unsigned r = (q >> 16) & 0xFF, g = (q >> 8) & 0xFF, b = q & 0xFF;
  return (r * 30 + g * 59 + b * 11) / 100 >= 128 ? 0xFFFFFFFFu : 0xFF000000u;
}

QPainter::CompositionMode CompositionFor(TPenMode m) {
  switch (m) {
    case pmBlack: return QPainter::RasterOp_ClearDestination;
    case pmWhite: return QPainter::RasterOp_SetDestination;
    case pmNot: return QPainter::RasterOp_NotDestination;
    case pmNotCopy: return QPainter::RasterOp_NotSource;
    case pmMergePenNot: return QPainter::RasterOp_SourceOrNotDestination;
    case pmMaskPenNot: return QPainter::RasterOp_SourceAndNotDestination;
    case pmMergeNotPen: return QPainter::RasterOp_NotSourceOrDestination;
    case pmMaskNotPen: return QPainter::RasterOp_NotSourceAndDestination;
    case pmMerge: return QPainter::RasterOp_SourceOrDestination;
    case pmNotMerge: return QPainter::RasterOp_NotSourceAndNotDestination;
    case pmMask: return QPainter::RasterOp_SourceAndDestination;
    case pmNotMask: return QPainter::RasterOp_NotSourceOrNotDestination;
    case pmXor: return QPainter::RasterOp_SourceXorDestination;
    case pmNotXor: return QPainter::RasterOp_NotSourceXorDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

Qt::BrushStyle QtBrushStyle(TBrushStyle s) {
  switch (s) {
    case bsSolid: return Qt::SolidPattern;
    case bsHorizontal: return Qt::HorPattern;
    case bsVertical: return Qt::VerPattern;
    case bsFDiagonal: return Qt::FDiagPattern;
    case bsBDiagonal: return Qt::BDiagPattern;
    case bsCross: return Qt::CrossPattern;
    case bsDiagCross: return Qt::DiagCrossPattern;
    default: return Qt::NoBrush;
  }
}

}  // namespace image_canvas

// ---------------------------------------------------------------------------
// Lines

void TChartCanvas3D::MoveTo(int x, int y) {
  cpX_ = x;
  cpY_ = y;
}

void TChartCanvas3D::LineTo(int x, int y) {
  const int x0 = cpX_, y0 = cpY_;
  cpX_ = x;
  cpY_ = y;
  DrawSegment(x0, y0, x, y);
}

void TChartCanvas3D::Line(int x0, int y0, int x1, int y1) {
  cpX_ = x1;
  cpY_ = y1;
  DrawSegment(x0, y0, x1, y1);
}

void TChartCanvas3D::HorizontalLine(int x0, int x1, int y) { Line(x0, y, x1, y); }
void TChartCanvas3D::VerticalLine(int x, int y0, int y1) { Line(x, y0, x, y1); }

void TChartCanvas3D::VerticalSpan(int x, int y0, int y1) {
  cpX_ = x;
  cpY_ = y1;
  if (bits_ && pen_.mode_ == pmCopy && !pen_.alternate_ && pen_.width_ <= 1 &&
      (pen_.style_ == psSolid || pen_.style_ == psInsideFrame) && d_->penColorValid &&
      d_->penColorFor == pen_.color_) {
    if (x < cx0_ || x >= cx1_) return;
    int first, last;
    RunPixels(y0, y1, cy0_, cy1_, first, last);
    FillColumn(bits_, stride_, x, first, last, d_->penRgb);
    return;
  }
  DrawSegment(x, y0, x, y1);
}

void TChartCanvas3D::MoveToZ(int x, int y, int z) {
  const TPoint p = Project(x, y, z);
  MoveTo(p.X, p.Y);
}
void TChartCanvas3D::LineToZ(int x, int y, int z) {
  const TPoint p = Project(x, y, z);
  LineTo(p.X, p.Y);
}
void TChartCanvas3D::LineZ(int x0, int y0, int x1, int y1, int z) {
  MoveToZ(x0, y0, z);
  LineToZ(x1, y1, z);
}
void TChartCanvas3D::HorizontalLineZ(int x0, int x1, int y, int z) { LineZ(x0, y, x1, y, z); }
void TChartCanvas3D::VerticalLineZ(int x, int y0, int y1, int z) { LineZ(x, y0, x, y1, z); }
void TChartCanvas3D::DepthLine(int x, int y, int z0, int z1) {
  MoveToZ(x, y, z0);
  LineToZ(x, y, z1);
}


void TChartCanvas3D::DrawSegment(int x0, int y0, int x1, int y1) {
  const TPen& pen = pen_;
  if (pen.style_ == psClear || (x0 == x1 && y0 == y1)) return;
  if (!d_->penColorValid || d_->penColorFor != pen.color_) {
    d_->penRgb = SurfaceRgb(pen.color_, monochrome_);
    d_->penColorFor = pen.color_;
    d_->penColorValid = true;
  }
  const std::uint32_t color = d_->penRgb;

  if (pen.width_ > 1 && !pen.alternate_) {
    QPainter* p = d_->current;
    if (!p || cx1_ <= cx0_ || pen.mode_ == pmNop) return;
    p->save();
    if (hasClip_) p->setClipRect(QRect(clip_.Left, clip_.Top, clip_.Width(), clip_.Height()));
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setCompositionMode(CompositionFor(pen.mode_));
    // Wide pens are solid whatever their style, with round ends.
    p->setPen(QPen(QColor::fromRgb(color), pen.width_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p->drawLine(QPoint(x0, y0), QPoint(x1, y1));
    p->restore();
    return;
  }

  const Pattern* pattern = nullptr;
  if (pen.alternate_) {
    pattern = &kAlternate;
  } else {
    switch (pen.style_) {
      case psDash: pattern = &kDash; break;
      case psDot: pattern = &kDot; break;
      case psDashDot: pattern = &kDashDot; break;
      case psDashDotDot: pattern = &kDashDotDot; break;
      default: break;
    }
  }

  if (bits_) {
    std::uint32_t* const bits = bits_;
    const std::ptrdiff_t stride = stride_;
    if (!pattern && pen.mode_ == pmCopy) {
      if (x0 == x1) {
        // A column: the common case of a dense trace.
        if (x0 < cx0_ || x0 >= cx1_) return;
        int first, last;
        RunPixels(y0, y1, cy0_, cy1_, first, last);
        FillColumn(bits, stride, x0, first, last, color);
        return;
      }
      if (y0 == y1) {
        if (y0 < cy0_ || y0 >= cy1_) return;
        int first, last;
        RunPixels(x0, x1, cx0_, cx1_, first, last);
        if (first <= last) std::fill_n(bits + static_cast<std::ptrdiff_t>(y0) * stride + first, last - first + 1, color);
        return;
      }
      Rasterise(x0, y0, x1, y1, cx0_, cy0_, cx1_, cy1_,
                [=](int x, int y, long long) { bits[static_cast<std::ptrdiff_t>(y) * stride + x] = color; });
      return;
    }
    const TPenMode mode = pen.mode_;
    if (mode == pmNop) return;
    Rasterise(x0, y0, x1, y1, cx0_, cy0_, cx1_, cy1_, [=](int x, int y, long long i) {
      if (pattern && !pattern->On(i)) return;
      std::uint32_t& px = bits[static_cast<std::ptrdiff_t>(y) * stride + x];
      px = Rop2(mode, color, px);
    });
    return;
  }

  // No pixel access (a window's painter): the same pixels, as points.
  QPainter* p = d_->current;
  if (!p || pen.mode_ == pmNop) return;
  auto& pts = d_->points;
  pts.clear();
  Rasterise(x0, y0, x1, y1, cx0_, cy0_, cx1_, cy1_, [&](int x, int y, long long i) {
    if (!pattern || pattern->On(i)) pts.emplace_back(x, y);
  });
  if (pts.empty()) return;
  p->save();
  p->setClipping(false);
  p->setRenderHint(QPainter::Antialiasing, false);
  p->setCompositionMode(CompositionFor(pen.mode_));
  p->setPen(QPen(QColor::fromRgb(color), 1));
  p->drawPoints(pts.data(), static_cast<int>(pts.size()));
  p->restore();
}


}  // namespace wg
