// Fonts of the chart: face, size in points, colour and style, and the
// chart's default text font.
#pragma once

#include <cstdint>
#include <string>

#include "chart/ChartColors.h"
#include "chart/ChartPen.h"

class QFont;

namespace wg {

// Font styles as a bit set.
using TFontStyles = unsigned;
constexpr TFontStyles fsBold = 1;
constexpr TFontStyles fsItalic = 2;
constexpr TFontStyles fsUnderline = 4;
constexpr TFontStyles fsStrikeOut = 8;

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

}  // namespace wg
