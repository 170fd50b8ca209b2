#include "chart/ChartColors.h"

#include <QColor>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPalette>

#include <iterator>

namespace wg {

namespace {

bool HaveGuiApp() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

// Classic system colours ($00BBGGRR) for indices without a palette role, and
// for a process without a GUI application.
constexpr TColor kFixedSystemColors[] = {
    0xC8C8C8,  // scroll bar
    0x000000,  // desktop
    0xD1B499,  // active caption
    0xDBCDBF,  // inactive caption
    0xF0F0F0,  // menu
    0xFFFFFF,  // window
    0x646464,  // window frame
    0x000000,  // menu text
    0x000000,  // window text
    0x000000,  // caption text
    0xB4B4B4,  // active border
    0xFCF7F4,  // inactive border
    0xABABAB,  // application work space
    0xD77800,  // highlight
    0xFFFFFF,  // highlight text
    0xF0F0F0,  // button face
    0xA0A0A0,  // button shadow
    0x6D6D6D,  // grey text
    0x000000,  // button text
    0x000000,  // inactive caption text
    0xFFFFFF,  // button highlight
    0x696969,  // 3-D dark shadow
    0xE3E3E3,  // 3-D light
    0x000000,  // info text
    0xE1FFFF,  // info background
};

TColor FromQColor(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

bool PaletteColor(int index, TColor& out) {
  if (!HaveGuiApp()) return false;
  const QPalette pal = QGuiApplication::palette();
  QPalette::ColorGroup group = QPalette::Active;
  QPalette::ColorRole role;
  switch (index) {
    case 4: role = QPalette::Window; break;
    case 5: role = QPalette::Base; break;
    case 7:
    case 8: role = QPalette::WindowText; break;
    case 13: role = QPalette::Highlight; break;
    case 14: role = QPalette::HighlightedText; break;
    case 15: role = QPalette::Button; break;
    case 16: role = QPalette::Dark; break;
    case 17:
      role = QPalette::WindowText;
      group = QPalette::Disabled;
      break;
    case 18: role = QPalette::ButtonText; break;
    case 20: role = QPalette::Light; break;
    case 21: role = QPalette::Shadow; break;
    case 22: role = QPalette::Midlight; break;
    case 23: role = QPalette::ToolTipText; break;
    case 24: role = QPalette::ToolTipBase; break;
    default: return false;
  }
  out = FromQColor(pal.color(group, role));
  return true;
}

}  // namespace

TColor ColorToRGB(TColor c) {
  if (c < 0) {
    const int index = c & 0xFF;
    TColor rgb;
    if (PaletteColor(index, rgb)) return rgb;
    if (index < static_cast<int>(std::size(kFixedSystemColors))) return kFixedSystemColors[index];
    return clBlack;
  }
  return c & 0xFFFFFF;
}

std::uint32_t ColorToQRgb(TColor c) {
  const auto v = static_cast<std::uint32_t>(ColorToRGB(c));
  return 0xFF000000u | ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

TColor QRgbToColor(std::uint32_t rgb) {
  return static_cast<TColor>(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
}

}  // namespace wg
