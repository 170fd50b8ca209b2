// Pens of the chart: the platform pen, and the chart pen with visibility and
// fine dotting, with the variants whose defaults the axes and titles use.
#pragma once

#include <functional>

#include "chart/ChartColors.h"

namespace wg {

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };

// How a pen's pixel P combines with the pixel D below it (the classic binary
// raster operations): pmCopy P, pmNotXor ~(P xor D), pmXor P xor D, ...
enum TPenMode {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};

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
}  // namespace wg
