// The Qt side of the image canvas, shared by its units only.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>

#include <cstdint>
#include <memory>
#include <vector>

#include "chart/ImageCanvas.h"

namespace wg {

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

namespace image_canvas {

// Surface colour of a chart colour: monochrome images know only black and
// white.
std::uint32_t SurfaceRgb(TColor c, bool monochrome);
// The QPainter composition that combines like the pen mode.
QPainter::CompositionMode CompositionFor(TPenMode m);
Qt::BrushStyle QtBrushStyle(TBrushStyle s);

}  // namespace image_canvas

}  // namespace wg
