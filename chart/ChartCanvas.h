// The chart canvas: the drawing state and text measurement every canvas
// shares, and the drawing operations the axes and series draw with. The
// colours, pens, brushes and fonts it works with come along.
#pragma once

#include <memory>
#include <string_view>

#include "chart/ChartBrush.h"
#include "chart/ChartColors.h"
#include "chart/ChartFont.h"
#include "chart/ChartGeometry.h"
#include "chart/ChartPen.h"

class QPainter;

namespace wg {

// SetTextAlign flags: one horizontal plus one vertical.
constexpr unsigned TA_LEFT = 0;
constexpr unsigned TA_RIGHT = 2;
constexpr unsigned TA_CENTER = 6;
constexpr unsigned TA_TOP = 0;
constexpr unsigned TA_BOTTOM = 8;
constexpr unsigned TA_BASELINE = 24;

// Text background: 1 transparent, 2 opaque.
enum TCanvasBackMode { cbmNone, cbmTransparent, cbmOpaque };

// The chart's 3-D view settings, read by the canvas when a frame begins in
// 3-D. This chart draws in 2-D; the values are kept for completeness.
struct TView3DOptions {
  bool Orthogonal = true;
  int Zoom = 100;  // percent
  bool ZoomText = true;
  int Elevation = 345;
  int Rotation = 345;
  int Tilt = 0;
  int Perspective = 15;
  int HorizOffset = 0;
  int VertOffset = 0;
};

// Surface binding, drawing state and text measurement.
class TChartCanvas {
 public:
  TChartCanvas();
  virtual ~TChartCanvas();
  TChartCanvas(const TChartCanvas&) = delete;
  TChartCanvas& operator=(const TChartCanvas&) = delete;

  // The surface's current pen, brush and font: setting them changes what the
  // next drawing operations use.
  TPen& Pen() { return pen_; }
  TBrush& Brush() { return brush_; }
  TFont& Font() { return font_; }
  void AssignFont(const TFont& f) { font_.Assign(f); }

  // Extent of a single-line text in the current font; 0 when there is no
  // GUI application to measure with.
  virtual int TextWidth(std::string_view text);
  virtual int TextHeight(std::string_view text);
  // TextHeight("W").
  int FontHeight();

 protected:
  // Font metrics of the current font, rebuilt when the font's shape changes.
  struct Metrics;
  const Metrics* CurrentMetrics();

  TPen pen_;
  TBrush brush_;
  TFont font_;

 private:
  std::unique_ptr<Metrics> metrics_;
};

// What the axes and the series draw with. Coordinates are pixels of the
// current surface; the Z variants take a depth that only a 3-D view uses.
// The chart itself draws on its image canvas directly.
class TCanvas3D : public TChartCanvas {
 public:
  // -- Text: alignment flags, background mode, text at a point
  virtual void SetTextAlign(unsigned flags) = 0;
  virtual void SetBackMode(TCanvasBackMode m) = 0;
  virtual void TextOutZ(int x, int y, int z, std::string_view text) = 0;
  // Degrees counter-clockwise; 90 reads upwards.
  virtual void RotatedTextZ(int x, int y, int z, std::string_view text, int angle) = 0;

  // -- Lines with the current pen, end pixel excluded
  virtual void MoveTo(int x, int y) = 0;
  virtual void LineTo(int x, int y) = 0;
  virtual void Line(int x0, int y0, int x1, int y1) = 0;
  virtual void HorizontalLine(int x0, int x1, int y) = 0;
  virtual void VerticalLine(int x, int y0, int y1) = 0;
  virtual void HorizontalLineZ(int x0, int x1, int y, int z) = 0;
  virtual void VerticalLineZ(int x, int y0, int y1, int z) = 0;

  // -- The plot's clip, and a pixel back to the flat plane
  virtual void ClipToPlotArea(const TRect& r, int z0 = 0, int z1 = 0) = 0;
  virtual void RemoveClip() = 0;
  virtual TPoint Unproject(int x, int y, int z) = 0;

  // Makes a chart pen the current pen: nothing drawn when it is invisible,
  // else its colour, width, style and mode. A canvas that can draw fine dots
  // does so for SmallDots.
  virtual void ApplyChartPen(const TChartPen& p);

  // The fast line's fast path: whether VerticalSpan costs less than the
  // MoveTo and LineTo it stands for. Only then does the series collapse the
  // points of a pixel column into one span.
  virtual bool HasCheapSpans() const { return false; }
  // The same pixels and end position as MoveTo(x, y0) then LineTo(x, y1).
  virtual void VerticalSpan(int x, int y0, int y1) {
    MoveTo(x, y0);
    LineTo(x, y1);
  }
};

}  // namespace wg
