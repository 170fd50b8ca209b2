// The chart's canvas on Qt: an off-screen QImage that is kept between paints
// and copied to the window in one piece; a paint without a change in between
// is a plain copy. One-pixel lines are rasterised here, straight into the
// image's pixels, because the chart's look depends on the classic line
// convention (end pixel excluded, exact dotting, not-XOR outlines that erase
// themselves) that QPainter does not follow. QPainter draws the text, the
// fills and the pens wider than one pixel.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "chart/ChartCanvas.h"

class QImage;
class QPainter;

namespace wg {

// The canvas on Qt: an off-screen QImage (Format_RGB32) reused while the
// chart keeps its size.
//
// Painting protocol of the chart: on a paint, SetWindowSurface(&painter) and
// RepaintFromCache(); when that returns false, BeginFrame(&painter, ...),
// draw, ResetDrawingState(), PresentFrame(&painter, &painter, bounds).
class TChartCanvas3D final : public TCanvas3D {
 public:
  TChartCanvas3D();
  ~TChartCanvas3D() override;

  // -- Frame
  // Where the canvas draws between frames (the window's painter during its
  // paint event); null when there is none, and then drawing outside a frame
  // does nothing.
  void SetWindowSurface(QPainter* surface);
  TRect BeginFrame(QPainter* destination, const TView3DOptions* options, const TRect& bounds,
                   bool is3D);
  void PresentFrame(QPainter* destination, QPainter* windowSurface, const TRect& bounds);
  bool RepaintFromCache();
  void MarkDirty();
  // Pen black 1 solid, brush white solid, font black 10 points, text
  // background white and transparent.
  void ResetDrawingState();
  void ApplyChartPen(const TChartPen& p) override;

  bool Dirty() const { return dirty_; }
  bool Buffered() const { return buffered_; }
  void SetBuffered(bool v);
  bool Monochrome() const { return monochrome_; }
  void SetMonochrome(bool v);
  const TRect& Bounds() const { return bounds_; }
  bool HasImage() const;
  // The off-screen image (read it between frames).
  const QImage& Image() const;
  bool InFrame() const { return inFrame_; }

  // -- 3-D state (flat in this chart)
  bool Is3D() const { return is3D_; }
  double ZoomFactor() const { return zoomFactor_; }
  bool ZoomText() const { return zoomText_; }
  void SetZoomText(bool v) { zoomText_ = v; }
  // The chart's depth, drawing bounds and plotting rectangle, for the 3-D
  // projection.
  void Projection(int maxDepth, const TRect& bounds, const TRect& plot);
  TPoint Project(int x, int y, int z);
  TPoint Unproject(int x, int y, int z) override;
  void Suspend3D();
  void Resume3D();

  // -- State
  void SetBackColor(TColor c);
  TColor BackColor() const { return backColor_; }
  void SetBackMode(TCanvasBackMode m) override;
  TCanvasBackMode BackMode() const { return backMode_; }
  void SetTextAlign(unsigned flags) override;
  unsigned TextAlign() const { return textAlign_; }
  TPoint PenPos() const { return {cpX_, cpY_}; }

  // -- Lines (end pixel excluded)
  void MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void Line(int x0, int y0, int x1, int y1) override;
  void HorizontalLine(int x0, int x1, int y) override;
  void VerticalLine(int x, int y0, int y1) override;
  // The same pixels and end position as MoveTo(x, y0) then LineTo(x, y1),
  // with the least work per call: for a line series that collapses the runs
  // of points falling in one pixel column.
  void VerticalSpan(int x, int y0, int y1) override;
  bool HasCheapSpans() const override { return true; }
  void MoveToZ(int x, int y, int z);
  void LineToZ(int x, int y, int z);
  void LineZ(int x0, int y0, int x1, int y1, int z);
  void HorizontalLineZ(int x0, int x1, int y, int z) override;
  void VerticalLineZ(int x, int y0, int y1, int z) override;
  void DepthLine(int x, int y, int z0, int z1);

  // -- Areas
  // Outline with the pen (right and bottom exclusive), interior with the
  // brush. Nothing for right <= left or bottom <= top.
  void Rectangle(int left, int top, int right, int bottom);
  void Rectangle(const TRect& r);
  void FillRect(const TRect& r);
  void EraseBackground(const TRect& r);

  // -- Text
  void TextOut(int x, int y, std::string_view text);
  void TextOutZ(int x, int y, int z, std::string_view text) override;
  // Degrees counter-clockwise; 90 reads upwards. Sets the brush clear.
  void RotatedText(int x, int y, std::string_view text, int angle);
  void RotatedTextZ(int x, int y, int z, std::string_view text, int angle) override;

  // -- Clipping
  void ClipTo(const TRect& r);
  // In 2-D: ClipTo(left + 1, top + 1, right, bottom - 1).
  void ClipToPlotArea(const TRect& r, int z0 = 0, int z1 = 0) override;
  void RemoveClip() override;
  bool Clipped() const { return hasClip_; }
  const TRect& ClipRect() const { return clip_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;

  void DrawSegment(int x0, int y0, int x1, int y1);
  void DrawText(int x, int y, std::string_view text, int angle);
  void UpdateClipBox();

  // Frame state
  bool buffered_ = true;
  bool dirty_ = true;
  bool monochrome_ = false;
  bool inFrame_ = false;
  TRect bounds_;

  // 3-D state
  bool is3D_ = false;
  bool savedIs3D_ = false;
  bool orthogonal_ = false;
  bool zoomText_ = true;
  double zoomFactor_ = 1.0;
  int maxDepth_ = 0;
  TRect plot_;

  // Surface state
  TColor backColor_ = clWhite;
  TCanvasBackMode backMode_ = cbmTransparent;
  unsigned textAlign_ = TA_LEFT | TA_TOP;
  int cpX_ = 0;
  int cpY_ = 0;
  bool hasClip_ = false;
  TRect clip_;

  // Pixel target of the rasteriser: the image's pixels during a buffered
  // frame, else none (lines then go through QPainter point by point).
  std::uint32_t* bits_ = nullptr;
  int stride_ = 0;  // in pixels
  // Clip box in surface pixels, left/top inclusive, right/bottom exclusive.
  int cx0_ = 0, cy0_ = 0, cx1_ = 0, cy1_ = 0;
};

}  // namespace wg
