// The image canvas: the frame protocol, the drawing state, clipping, and the
// QPainter side (text, fills, rectangles, wide pens).
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "chart/ChartCanvasMetrics.h"
#include "chart/ImageCanvasImpl.h"

namespace wg {

using image_canvas::CompositionFor;
using image_canvas::QtBrushStyle;
using image_canvas::SurfaceRgb;

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
