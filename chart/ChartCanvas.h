// The chart canvas: colours, pens, brushes and fonts of the chart, and the
// drawing surface through which the whole chart is drawn.
//
// The chart draws into an off-screen QImage that is kept between paints and
// copied to the window in one piece; a paint without a change in between is a
// plain copy. One-pixel lines are rasterised here, straight into the image's
// pixels, because the chart's look depends on the classic line convention
// (end pixel excluded, exact dotting, not-XOR outlines that erase themselves)
// that QPainter does not follow. QPainter draws the text, the fills and the
// pens wider than one pixel.
//
// Colours stay in the 32-bit $00BBGGRR form everywhere in the chart and are
// turned into RGB only when they reach the surface (ColorToRGB).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QFont;
class QImage;
class QPainter;

namespace wg {

// ---------------------------------------------------------------------------
// Geometry

struct TPoint {
  int X = 0;
  int Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and bottom are exclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

// ---------------------------------------------------------------------------
// Colours

// $00BBGGRR. Negative values are system colours (flag byte $FF, low byte the
// system colour index); they are resolved at the surface.
using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
// The owner's colour applies.
constexpr TColor clDefault = 0x20000000;
// Marks a null point; never drawn as a colour.
constexpr TColor clNone = 0x1FFFFFFF;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;

// The RGB value ($00BBGGRR) a colour has on the surface now: system colours
// come from the application palette (fixed classic values when there is no
// GUI application); any other value keeps its low 24 bits.
TColor ColorToRGB(TColor c);
// The same as a Qt 0xAARRGGBB value with full alpha.
std::uint32_t ColorToQRgb(TColor c);
// $00BBGGRR of a Qt 0xAARRGGBB value (alpha ignored).
TColor QRgbToColor(std::uint32_t rgb);

// ---------------------------------------------------------------------------
// Pens, brushes, fonts

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

// How a pen's pixel P combines with the pixel D below it (the classic binary
// raster operations): pmCopy P, pmNotXor ~(P xor D), pmXor P xor D, ...
enum TPenMode {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};

enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

// Font styles as a bit set.
using TFontStyles = unsigned;
constexpr TFontStyles fsBold = 1;
constexpr TFontStyles fsItalic = 2;
constexpr TFontStyles fsUnderline = 4;
constexpr TFontStyles fsStrikeOut = 8;

// Notification that an object's settings changed (the owner repaints).
using TNotifyEvent = std::function<void()>;

// A platform pen: defaults black, 1, psSolid, pmCopy. Setters act only on a
// change and then call OnChange.
class TPen {
 public:
  explicit TPen(TNotifyEvent onChange = {}) : OnChange(std::move(onChange)) {}
  TPen(const TPen&) = delete;
  TPen& operator=(const TPen&) = delete;
  virtual ~TPen() = default;

  TColor Color() const { return color_; }
  int Width() const { return width_; }
  TPenStyle Style() const { return style_; }
  TPenMode Mode() const { return mode_; }
  void SetColor(TColor v);
  void SetWidth(int v);
  void SetStyle(TPenStyle v);
  void SetMode(TPenMode v);
  // Copies colour, width, style and mode (and, for chart pens, Visible and
  // SmallDots), then notifies once when anything changed.
  virtual void Assign(const TPen& source);

  // Set by the canvas for the one-pixel pen that sets every other pixel;
  // any setter clears it.
  bool Alternate() const { return alternate_; }

  TNotifyEvent OnChange;

 protected:
  void Changed() {
    if (OnChange) OnChange();
  }
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = psSolid;
  TPenMode mode_ = pmCopy;
  bool alternate_ = false;

  friend class TChartCanvas3D;
};

// A pen with visibility and fine dotting. The owner passes its change
// notification at creation (a series passes its RequestRedraw).
class TChartPen : public TPen {
 public:
  explicit TChartPen(TNotifyEvent onChange = {}) : TPen(std::move(onChange)) {}
  bool Visible() const { return visible_; }
  bool SmallDots() const { return smallDots_; }
  void SetVisible(bool v);
  void SetSmallDots(bool v);
  void Assign(const TPen& source) override;
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }

 protected:
  bool visible_ = true;
  bool smallDots_ = false;
};

// Invisible by default (minor grid, title frame).
class TChartHiddenPen : public TChartPen {
 public:
  explicit TChartHiddenPen(TNotifyEvent onChange = {});
};
// Grey dotted (axis grid).
class TDottedGrayPen : public TChartPen {
 public:
  explicit TDottedGrayPen(TNotifyEvent onChange = {});
};
// Grey solid (axis ticks).
class TDarkGrayPen : public TChartPen {
 public:
  explicit TDarkGrayPen(TNotifyEvent onChange = {});
};
// Two pixels wide (axis line).
class TChartAxisPen : public TChartPen {
 public:
  explicit TChartAxisPen(TNotifyEvent onChange = {});
};
// White (mark arrows).
class TChartArrowPen : public TChartPen {
 public:
  explicit TChartArrowPen(TNotifyEvent onChange = {});
};

// A platform brush: defaults clWhite, bsSolid.
class TBrush {
 public:
  explicit TBrush(TNotifyEvent onChange = {}) : OnChange(std::move(onChange)) {}
  TBrush(const TBrush&) = delete;
  TBrush& operator=(const TBrush&) = delete;
  virtual ~TBrush() = default;

  TColor Color() const { return color_; }
  TBrushStyle Style() const { return style_; }
  void SetColor(TColor v);
  void SetStyle(TBrushStyle v);
  void Assign(const TBrush& source);

  TNotifyEvent OnChange;

 protected:
  void Changed() {
    if (OnChange) OnChange();
  }
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

// Brush of walls and titles: colour clDefault (no fill colour of its own),
// style solid.
class TChartBrush : public TBrush {
 public:
  explicit TChartBrush(TNotifyEvent onChange = {});
};

// A font: face, size in points, colour, style. Size n points is drawn
// MulDiv(n, ScreenPixelsPerInch(), 72) pixels high (the em height).
class TFont {
 public:
  explicit TFont(TNotifyEvent onChange = {});
  TFont(const TFont& other);             // copies the settings, not OnChange
  TFont& operator=(const TFont& other);  // Assign
  ~TFont() = default;

  const std::string& Name() const { return name_; }
  int Size() const { return size_; }
  TColor Color() const { return color_; }
  TFontStyles Style() const { return style_; }
  void SetName(const std::string& v);
  void SetSize(int v);
  void SetColor(TColor v);
  void SetStyle(TFontStyles v);
  void Assign(const TFont& source);
  // Character height in pixels for the current screen: MulDiv(Size, dpi, 72).
  int PixelSize() const;
  // Changes whenever name, size or style change (colour does not count):
  // lets a canvas keep its measured metrics until then.
  std::uint64_t Generation() const { return generation_; }

  TNotifyEvent OnChange;

 private:
  void Changed(bool shape);
  std::string name_;
  int size_;
  TColor color_ = clBlack;
  TFontStyles style_ = 0;
  std::uint64_t generation_;
};

// Logical pixels per inch of the primary screen, vertically; 96 when there is
// no screen (no GUI application).
int ScreenPixelsPerInch();
// The chart's default text font: "Arial", 8 points, clBlack, no style (a
// Japanese user interface gets its own default face and size instead).
TFont DefaultChartFont();
// The Qt font a TFont draws with.
QFont MakeQFont(const TFont& font);

// ---------------------------------------------------------------------------
// Canvas

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

// The operations the chart draws with. Coordinates are pixels of the current
// surface; the Z variants take a depth that only a 3-D view uses.
class TCanvas3D : public TChartCanvas {
 public:
  virtual void SetBackColor(TColor c) = 0;
  virtual void SetBackMode(TCanvasBackMode m) = 0;
  virtual void SetTextAlign(unsigned flags) = 0;
  virtual void FillRect(const TRect& r) = 0;
  virtual void LineTo(int x, int y) = 0;
  virtual void MoveTo(int x, int y) = 0;
  virtual void Rectangle(int left, int top, int right, int bottom) = 0;
  virtual void TextOut(int x, int y, std::string_view text) = 0;
  virtual void ClipTo(const TRect& r) = 0;
  virtual void HorizontalLine(int x0, int x1, int y) = 0;
  virtual void Rectangle(const TRect& r) = 0;
  virtual void VerticalLine(int x, int y0, int y1) = 0;
  virtual void EraseBackground(const TRect& r) = 0;
  virtual void MarkDirty() = 0;
  virtual void Line(int x0, int y0, int x1, int y1) = 0;
  virtual void RotatedText(int x, int y, std::string_view text, int angle) = 0;
  virtual void RemoveClip() = 0;
  virtual TPoint Unproject(int x, int y, int z) = 0;
  virtual TPoint Project(int x, int y, int z) = 0;
  virtual TRect BeginFrame(QPainter* destination, const TView3DOptions* options, const TRect& bounds,
                           bool is3D) = 0;
  virtual void PresentFrame(QPainter* destination, QPainter* windowSurface, const TRect& bounds) = 0;
  virtual bool RepaintFromCache() = 0;
  virtual void ClipToPlotArea(const TRect& r, int z0 = 0, int z1 = 0) = 0;
  virtual void HorizontalLineZ(int x0, int x1, int y, int z) = 0;
  virtual void VerticalLineZ(int x, int y0, int y1, int z) = 0;
  virtual void DepthLine(int x, int y, int z0, int z1) = 0;
  virtual void Suspend3D() = 0;
  virtual void Resume3D() = 0;
  virtual void LineZ(int x0, int y0, int x1, int y1, int z) = 0;
  virtual void MoveToZ(int x, int y, int z) = 0;
  virtual void LineToZ(int x, int y, int z) = 0;
  virtual void RotatedTextZ(int x, int y, int z, std::string_view text, int angle) = 0;
  virtual void TextOutZ(int x, int y, int z, std::string_view text) = 0;
};

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
                   bool is3D) override;
  void PresentFrame(QPainter* destination, QPainter* windowSurface, const TRect& bounds) override;
  bool RepaintFromCache() override;
  void MarkDirty() override;
  // Pen black 1 solid, brush white solid, font black 10 points, text
  // background white and transparent.
  void ResetDrawingState();
  void ApplyChartPen(const TChartPen& p);

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
  TPoint Project(int x, int y, int z) override;
  TPoint Unproject(int x, int y, int z) override;
  void Suspend3D() override;
  void Resume3D() override;

  // -- State
  void SetBackColor(TColor c) override;
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
  void VerticalSpan(int x, int y0, int y1);
  void MoveToZ(int x, int y, int z) override;
  void LineToZ(int x, int y, int z) override;
  void LineZ(int x0, int y0, int x1, int y1, int z) override;
  void HorizontalLineZ(int x0, int x1, int y, int z) override;
  void VerticalLineZ(int x, int y0, int y1, int z) override;
  void DepthLine(int x, int y, int z0, int z1) override;

  // -- Areas
  // Outline with the pen (right and bottom exclusive), interior with the
  // brush. Nothing for right <= left or bottom <= top.
  void Rectangle(int left, int top, int right, int bottom) override;
  void Rectangle(const TRect& r) override;
  void FillRect(const TRect& r) override;
  void EraseBackground(const TRect& r) override;

  // -- Text
  void TextOut(int x, int y, std::string_view text) override;
  void TextOutZ(int x, int y, int z, std::string_view text) override;
  // Degrees counter-clockwise; 90 reads upwards. Sets the brush clear.
  void RotatedText(int x, int y, std::string_view text, int angle) override;
  void RotatedTextZ(int x, int y, int z, std::string_view text, int angle) override;

  // -- Clipping
  void ClipTo(const TRect& r) override;
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
