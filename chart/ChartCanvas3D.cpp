// TChartCanvas3D: the frame protocol, the line rasteriser and the QPainter
// side (text, fills, wide pens).
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPoint>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "ChartCanvas.h"
#include "ChartCanvasMetrics.h"

namespace wg {

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

struct TChartCanvas3D::Impl {
  QImage image;
  std::unique_ptr<QPainter> imagePainter;  // open on image during a buffered frame
  QPainter* windowSurface = nullptr;
  QPainter* destination = nullptr;  // unbuffered frame
  QPainter* current = nullptr;      // where QPainter drawing goes now
  const TView3DOptions* options = nullptr;
  std::vector<QPoint> points;
  // Pen colour on the surface, recomputed when the pen colour changes.
  TColor penColorFor = -1;
  bool penColorValid = false;
  std::uint32_t penRgb = 0;

  void EndImagePainter() {
    if (imagePainter) {
      imagePainter->end();
      imagePainter.reset();
    }
  }
};

TChartCanvas3D::TChartCanvas3D() : d_(std::make_unique<Impl>()) {}

TChartCanvas3D::~TChartCanvas3D() {
  if (d_->destination && inFrame_ && !buffered_) d_->destination->restore();
  d_->EndImagePainter();
}

// ---------------------------------------------------------------------------
// Frame

void TChartCanvas3D::SetWindowSurface(QPainter* surface) {
  d_->windowSurface = surface;
  if (!inFrame_) {
    d_->current = surface;
    bits_ = nullptr;
    UpdateClipBox();
  }
}

bool TChartCanvas3D::HasImage() const { return !d_->image.isNull(); }
const QImage& TChartCanvas3D::Image() const { return d_->image; }

TRect TChartCanvas3D::BeginFrame(QPainter* destination, const TView3DOptions* options, const TRect& bounds,
                                 bool is3D) {
  if (inFrame_) {
    // A frame that was never presented: close it without copying.
    if (buffered_)
      d_->EndImagePainter();
    else if (d_->destination)
      d_->destination->restore();
    inFrame_ = false;
  }
  bounds_ = bounds;
  d_->options = options;
  is3D_ = is3D;
  orthogonal_ = false;
  zoomFactor_ = 1.0;
  if (is3D_ && options) {
    orthogonal_ = options->Orthogonal;
    zoomFactor_ = options->Zoom * 0.01;
    zoomText_ = options->ZoomText;
  }
  d_->penColorValid = false;
  inFrame_ = true;
  if (buffered_) {
    const int w = bounds.Width(), h = bounds.Height();
    if (!d_->image.isNull() && (d_->image.width() != w || d_->image.height() != h)) d_->image = QImage();
    if (d_->image.isNull() && w > 0 && h > 0) {
      d_->image = QImage(w, h, QImage::Format_RGB32);
      d_->image.fill(0xFF000000u);
    }
    d_->destination = nullptr;
    if (!d_->image.isNull()) {
      d_->imagePainter = std::make_unique<QPainter>(&d_->image);
      d_->imagePainter->setRenderHint(QPainter::Antialiasing, false);
      d_->current = d_->imagePainter.get();
      // After the painter: it may have detached the pixels.
      bits_ = reinterpret_cast<std::uint32_t*>(d_->image.bits());
      stride_ = static_cast<int>(d_->image.bytesPerLine() / 4);
    } else {
      d_->current = nullptr;
      bits_ = nullptr;
    }
    UpdateClipBox();
    return {0, 0, w, h};
  }
  d_->destination = destination;
  d_->current = destination;
  bits_ = nullptr;
  if (destination) {
    destination->save();
    destination->setRenderHint(QPainter::Antialiasing, false);
  }
  UpdateClipBox();
  return bounds;
}

void TChartCanvas3D::PresentFrame(QPainter* destination, QPainter* windowSurface, const TRect& bounds) {
  if (buffered_) {
    d_->EndImagePainter();
    bits_ = nullptr;
    if (destination && !d_->image.isNull()) {
      destination->save();
      destination->setClipping(false);
      destination->setCompositionMode(QPainter::CompositionMode_Source);
      destination->drawImage(QPoint(bounds.Left, bounds.Top), d_->image);
      destination->restore();
    }
    dirty_ = false;
  } else if (inFrame_ && d_->destination) {
    d_->destination->restore();
  }
  d_->destination = nullptr;
  inFrame_ = false;
  d_->windowSurface = windowSurface;
  d_->current = windowSurface;
  bits_ = nullptr;
  UpdateClipBox();
}

bool TChartCanvas3D::RepaintFromCache() {
  if (dirty_ || d_->image.isNull()) return false;
  if (QPainter* p = d_->current; p && !inFrame_) {
    p->save();
    p->setClipping(false);
    p->setCompositionMode(QPainter::CompositionMode_Source);
    p->drawImage(QPoint(0, 0), d_->image);
    p->restore();
  }
  return true;
}

void TChartCanvas3D::MarkDirty() { dirty_ = true; }

void TChartCanvas3D::SetBuffered(bool v) {
  if (v == buffered_) return;
  if (!v) {
    if (inFrame_) {
      d_->EndImagePainter();
      d_->current = nullptr;
      bits_ = nullptr;
    }
    d_->image = QImage();
    dirty_ = true;
  }
  buffered_ = v;
}

void TChartCanvas3D::SetMonochrome(bool v) {
  if (v == monochrome_) return;
  if (inFrame_ && buffered_) {
    d_->EndImagePainter();
    d_->current = nullptr;
    bits_ = nullptr;
  }
  d_->image = QImage();
  monochrome_ = v;
  d_->penColorValid = false;
  dirty_ = true;
}

void TChartCanvas3D::ResetDrawingState() {
  pen_.SetColor(clBlack);
  pen_.SetWidth(1);
  pen_.SetStyle(psSolid);
  brush_.SetColor(clWhite);
  brush_.SetStyle(bsSolid);
  font_.SetColor(clBlack);
  font_.SetSize(10);
  backColor_ = clWhite;
  backMode_ = cbmTransparent;
}

void TChartCanvas3D::ApplyChartPen(const TChartPen& p) {
  if (!p.Visible()) {
    pen_.SetStyle(psClear);
    return;
  }
  pen_.SetColor(p.Color());
  pen_.SetWidth(p.Width());
  pen_.SetStyle(p.SmallDots() && p.Width() == 1 ? psSolid : p.Style());
  pen_.SetMode(p.Mode());
  if (p.SmallDots() && p.Width() == 1) pen_.alternate_ = true;
}

// ---------------------------------------------------------------------------
// 3-D state. This chart draws flat; the orthogonal projection is kept so that
// a 3-D view shifts depth diagonally and zooms about the plot centre.

void TChartCanvas3D::Projection(int maxDepth, const TRect&, const TRect& plot) {
  maxDepth_ = maxDepth;
  plot_ = plot;
}

TPoint TChartCanvas3D::Project(int x, int y, int z) {
  if (!is3D_) return {x, y};
  const double cx = (plot_.Left + plot_.Right) / 2;
  const double cy = (plot_.Top + plot_.Bottom) / 2;
  return {static_cast<int>(std::lround(cx + (x + z - cx) * zoomFactor_)),
          static_cast<int>(std::lround(cy + (y - z - cy) * zoomFactor_))};
}

TPoint TChartCanvas3D::Unproject(int x, int y, int z) {
  if (!is3D_ || zoomFactor_ == 0) return {x, y};
  const double cx = (plot_.Left + plot_.Right) / 2;
  const double cy = (plot_.Top + plot_.Bottom) / 2;
  return {static_cast<int>(std::lround(cx + (x - cx) / zoomFactor_ - z)),
          static_cast<int>(std::lround(cy + (y - cy) / zoomFactor_ + z))};
}

void TChartCanvas3D::Suspend3D() {
  savedIs3D_ = is3D_;
  is3D_ = false;
}

void TChartCanvas3D::Resume3D() { is3D_ = savedIs3D_; }

// ---------------------------------------------------------------------------
// Surface state

void TChartCanvas3D::SetBackColor(TColor c) { backColor_ = c; }
void TChartCanvas3D::SetBackMode(TCanvasBackMode m) { backMode_ = m; }
void TChartCanvas3D::SetTextAlign(unsigned flags) { textAlign_ = flags; }

void TChartCanvas3D::UpdateClipBox() {
  int w = 0, h = 0;
  if (bits_) {
    w = d_->image.width();
    h = d_->image.height();
  } else if (d_->current && d_->current->device()) {
    w = d_->current->device()->width();
    h = d_->current->device()->height();
  }
  cx0_ = 0;
  cy0_ = 0;
  cx1_ = w;
  cy1_ = h;
  if (hasClip_) {
    cx0_ = std::max(cx0_, clip_.Left);
    cy0_ = std::max(cy0_, clip_.Top);
    cx1_ = std::min(cx1_, clip_.Right);
    cy1_ = std::min(cy1_, clip_.Bottom);
  }
  if (cx1_ <= cx0_ || cy1_ <= cy0_) cx0_ = cy0_ = cx1_ = cy1_ = 0;
}

void TChartCanvas3D::ClipTo(const TRect& r) {
  TRect c = r;
  if (hasClip_) {
    c.Left = std::max(c.Left, clip_.Left);
    c.Top = std::max(c.Top, clip_.Top);
    c.Right = std::min(c.Right, clip_.Right);
    c.Bottom = std::min(c.Bottom, clip_.Bottom);
  }
  if (c.IsEmpty()) c = {0, 0, 0, 0};
  clip_ = c;
  hasClip_ = true;
  UpdateClipBox();
}

void TChartCanvas3D::ClipToPlotArea(const TRect& r, int z0, int z1) {
  if (!is3D_) {
    ClipTo({r.Left + 1, r.Top + 1, r.Right, r.Bottom - 1});
    return;
  }
  // The box of the projected front and back faces.
  const TPoint a = Project(r.Left, r.Top, z0), b = Project(r.Right, r.Bottom, z0);
  const TPoint c = Project(r.Left, r.Top, z1), e = Project(r.Right, r.Bottom, z1);
  ClipTo({std::min(a.X, c.X) + 1, std::min(a.Y, c.Y) + 1, std::max(b.X, e.X), std::max(b.Y, e.Y) - 1});
}

void TChartCanvas3D::RemoveClip() {
  hasClip_ = false;
  clip_ = {};
  UpdateClipBox();
}

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

// Surface colour of a chart colour: monochrome images know only black and
// white.
static std::uint32_t SurfaceRgb(TColor c, bool monochrome) {
  const std::uint32_t q = ColorToQRgb(c);
  if (!monochrome) return q;
  const unsigned r = (q >> 16) & 0xFF, g = (q >> 8) & 0xFF, b = q & 0xFF;
  return (r * 30 + g * 59 + b * 11) / 100 >= 128 ? 0xFFFFFFFFu : 0xFF000000u;
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

// ---------------------------------------------------------------------------
// Areas

void TChartCanvas3D::FillRect(const TRect& r) {
  if (r.IsEmpty() || brush_.Style() == bsClear) return;
  const std::uint32_t color = SurfaceRgb(brush_.Color(), monochrome_);
  if (brush_.Style() == bsSolid && bits_) {
    const int l = std::max(r.Left, cx0_), t = std::max(r.Top, cy0_);
    const int rr = std::min(r.Right, cx1_), b = std::min(r.Bottom, cy1_);
    for (int y = t; y < b; ++y) std::fill_n(bits_ + static_cast<std::ptrdiff_t>(y) * stride_ + l, std::max(0, rr - l), color);
    return;
  }
  QPainter* p = d_->current;
  if (!p || cx1_ <= cx0_) return;
  p->save();
  if (hasClip_) p->setClipRect(QRect(clip_.Left, clip_.Top, clip_.Width(), clip_.Height()));
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  const QRect qr(r.Left, r.Top, r.Width(), r.Height());
  if (brush_.Style() != bsSolid && backMode_ == cbmOpaque) p->fillRect(qr, QColor::fromRgb(SurfaceRgb(backColor_, monochrome_)));
  p->fillRect(qr, QBrush(QColor::fromRgb(color), QtBrushStyle(brush_.Style())));
  p->restore();
}

void TChartCanvas3D::EraseBackground(const TRect& r) { FillRect(r); }

void TChartCanvas3D::Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }

void TChartCanvas3D::Rectangle(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  const bool noPen = pen_.style_ == psClear;
  const bool thin = pen_.width_ <= 1 || pen_.alternate_;

  // Interior, combined like the outline.
  if (brush_.Style() != bsClear && pen_.mode_ != pmNop) {
    // With no pen the whole area shrinks by the right column and bottom row.
    const TRect in = noPen ? TRect{left, top, right - 1, bottom - 1} : TRect{left + 1, top + 1, right - 1, bottom - 1};
    if (!in.IsEmpty()) {
      if (pen_.mode_ == pmCopy) {
        FillRect(in);
      } else if (QPainter* p = d_->current; p && cx1_ > cx0_) {
        p->save();
        if (hasClip_) p->setClipRect(QRect(clip_.Left, clip_.Top, clip_.Width(), clip_.Height()));
        p->setCompositionMode(CompositionFor(pen_.mode_));
        p->fillRect(QRect(in.Left, in.Top, in.Width(), in.Height()),
                    QBrush(QColor::fromRgb(SurfaceRgb(brush_.Color(), monochrome_)), QtBrushStyle(brush_.Style())));
        p->restore();
      }
    }
  }
  if (noPen) return;

  if (thin) {
    // Every outline pixel exactly once, so that an XOR-like mode drawn twice
    // restores the image.
    DrawSegment(left, top, right, top);
    if (bottom - top > 1) DrawSegment(left, bottom - 1, right, bottom - 1);
    if (bottom - top > 2) {
      DrawSegment(left, top + 1, left, bottom - 1);
      if (right - left > 1) DrawSegment(right - 1, top + 1, right - 1, bottom - 1);
    }
    return;
  }
  QPainter* p = d_->current;
  if (!p || cx1_ <= cx0_ || pen_.mode_ == pmNop) return;
  const int w = pen_.width_;
  p->save();
  if (hasClip_) p->setClipRect(QRect(clip_.Left, clip_.Top, clip_.Width(), clip_.Height()));
  p->setRenderHint(QPainter::Antialiasing, false);
  p->setCompositionMode(CompositionFor(pen_.mode_));
  p->setPen(QPen(QColor::fromRgb(SurfaceRgb(pen_.color_, monochrome_)), w, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p->setBrush(Qt::NoBrush);
  // The pen centred on the outline; an inside-frame pen stays within the
  // rectangle.
  QRectF path(left + 0.5, top + 0.5, right - left - 1, bottom - top - 1);
  if (pen_.style_ == psInsideFrame) path.adjust(w / 2.0 - 0.5, w / 2.0 - 0.5, -(w / 2.0 - 0.5), -(w / 2.0 - 0.5));
  p->drawRect(path);
  p->restore();
}

// ---------------------------------------------------------------------------
// Text

void TChartCanvas3D::DrawText(int x, int y, std::string_view text, int angle) {
  QPainter* p = d_->current;
  if (!p || text.empty() || cx1_ <= cx0_) return;
  const Metrics* m = CurrentMetrics();
  if (!m) return;
  QFont font = m->font;
  QFontMetrics fm = m->fm;
  if (is3D_ && zoomText_ && zoomFactor_ != 1.0) {
    TFont scaled(font_);
    scaled.SetSize(std::max(1, static_cast<int>(std::lround(font_.Size() * zoomFactor_))));
    font = MakeQFont(scaled);
    fm = QFontMetrics(font);
  }
  const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const int w = fm.horizontalAdvance(s);
  const int ascent = fm.ascent(), descent = fm.descent(), h = fm.height();
  int dx = 0;
  switch (textAlign_ & TA_CENTER) {
    case TA_CENTER: dx = -(w / 2); break;
    case TA_RIGHT: dx = -w; break;
    default: break;
  }
  int base;  // baseline relative to the reference point
  if ((textAlign_ & TA_BASELINE) == TA_BASELINE)
    base = 0;
  else if (textAlign_ & TA_BOTTOM)
    base = -descent;
  else
    base = ascent;

  p->save();
  if (hasClip_) p->setClipRect(QRect(clip_.Left, clip_.Top, clip_.Width(), clip_.Height()));
  else p->setClipping(false);
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->translate(x, y);
  if (angle != 0) p->rotate(-angle);
  if (backMode_ == cbmOpaque)
    p->fillRect(QRect(dx, base - ascent, w, h), QColor::fromRgb(SurfaceRgb(backColor_, monochrome_)));
  p->setFont(font);
  p->setPen(QColor::fromRgb(SurfaceRgb(font_.Color(), monochrome_)));
  p->drawText(QPoint(dx, base), s);
  p->restore();
}

void TChartCanvas3D::TextOut(int x, int y, std::string_view text) { DrawText(x, y, text, 0); }

void TChartCanvas3D::TextOutZ(int x, int y, int z, std::string_view text) {
  const TPoint p = Project(x, y, z);
  DrawText(p.X, p.Y, text, 0);
}

void TChartCanvas3D::RotatedText(int x, int y, std::string_view text, int angle) {
  if (angle > 360) angle -= 360;
  brush_.SetStyle(bsClear);
  DrawText(x, y, text, angle);
}

void TChartCanvas3D::RotatedTextZ(int x, int y, int z, std::string_view text, int angle) {
  const TPoint p = Project(x, y, z);
  RotatedText(p.X, p.Y, text, angle);
}

}  // namespace wg
