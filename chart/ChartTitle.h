// Chart elements with a font of their own, and the title above (or the foot
// below) the plot.
#pragma once

#include <string>
#include <vector>

#include "chart/ChartBrush.h"
#include "chart/ChartFont.h"
#include "chart/ChartGeometry.h"
#include "chart/ChartPanel.h"
#include "chart/ChartPen.h"

namespace wg {

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// A chart element with a font of its own; a change of the font invalidates
// the chart.
class TChartFontObject {
 public:
  explicit TChartFontObject(TCustomChartPanel* chart);
  TChartFontObject(const TChartFontObject&) = delete;
  TChartFontObject& operator=(const TChartFontObject&) = delete;
  virtual ~TChartFontObject() = default;

  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  TCustomChartPanel* ParentChart() const { return chart_; }

 protected:
  TCustomChartPanel* chart_;
  TFont font_;
};

// The title above the plot (or, as the foot, below it): lines of text in a
// band that the plotting rectangle gives up.
class TChartTitle : public TChartFontObject {
 public:
  explicit TChartTitle(TCustomChartPanel* chart);

  // One entry per line; an empty entry is an empty line that still takes
  // its height.
  const std::vector<std::string>& Text() const { return text_; }
  void SetText(std::vector<std::string> lines);
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { chart_->SetBooleanProperty(visible_, v); }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  TColor Color() const { return color_; }
  void SetColor(TColor v) { chart_->SetColorProperty(color_, v); }
  TChartBrush& Brush() { return brush_; }
  const TChartBrush& Brush() const { return brush_; }
  TChartHiddenPen& Frame() { return frame_; }
  const TChartHiddenPen& Frame() const { return frame_; }
  bool AdjustFrame() const { return adjustFrame_; }
  void SetAdjustFrame(bool v) { chart_->SetBooleanProperty(adjustFrame_, v); }
  // Where the title was drawn last, frame included.
  const TRect& TitleRect() const { return titleRect_; }

 private:
  friend class TCustomChart;
  std::vector<std::string> text_;
  bool visible_ = true;
  TAlignment alignment_ = taCenter;
  TColor color_ = clDefault;
  TChartBrush brush_;
  TChartHiddenPen frame_;
  bool adjustFrame_ = true;
  TRect titleRect_;
};

}  // namespace wg
