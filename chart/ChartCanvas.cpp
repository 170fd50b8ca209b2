#include "ChartCanvas.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <QPalette>
#include <QScreen>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "ChartCanvasMetrics.h"
#include "numtext.h"

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

std::atomic<std::uint64_t> gFontGeneration{1};

}  // namespace

// ---------------------------------------------------------------------------
// Colours

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

// ---------------------------------------------------------------------------
// Pens and brushes

void TPen::SetColor(TColor v) {
  alternate_ = false;
  if (v == color_) return;
  color_ = v;
  Changed();
}
void TPen::SetWidth(int v) {
  alternate_ = false;
  if (v == width_) return;
  width_ = v;
  Changed();
}
void TPen::SetStyle(TPenStyle v) {
  alternate_ = false;
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TPen::SetMode(TPenMode v) {
  alternate_ = false;
  if (v == mode_) return;
  mode_ = v;
  Changed();
}
void TPen::Assign(const TPen& s) {
  alternate_ = s.alternate_;
  if (color_ == s.color_ && width_ == s.width_ && style_ == s.style_ && mode_ == s.mode_) return;
  color_ = s.color_;
  width_ = s.width_;
  style_ = s.style_;
  mode_ = s.mode_;
  Changed();
}

void TChartPen::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Changed();
}
void TChartPen::SetSmallDots(bool v) {
  if (v == smallDots_) return;
  smallDots_ = v;
  Changed();
}
void TChartPen::Assign(const TPen& s) {
  bool changed = color_ != s.Color() || width_ != s.Width() || style_ != s.Style() || mode_ != s.Mode();
  color_ = s.Color();
  width_ = s.Width();
  style_ = s.Style();
  mode_ = s.Mode();
  alternate_ = s.Alternate();
  if (auto* cp = dynamic_cast<const TChartPen*>(&s)) {
    changed = changed || visible_ != cp->visible_ || smallDots_ != cp->smallDots_;
    visible_ = cp->visible_;
    smallDots_ = cp->smallDots_;
  }
  if (changed) Changed();
}

TChartHiddenPen::TChartHiddenPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { visible_ = false; }
TDottedGrayPen::TDottedGrayPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) {
  color_ = clGray;
  style_ = psDot;
}
TDarkGrayPen::TDarkGrayPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { color_ = clGray; }
TChartAxisPen::TChartAxisPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { width_ = 2; }
TChartArrowPen::TChartArrowPen(TNotifyEvent onChange) : TChartPen(std::move(onChange)) { color_ = clWhite; }

void TBrush::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed();
}
void TBrush::SetStyle(TBrushStyle v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TBrush::Assign(const TBrush& s) {
  if (color_ == s.color_ && style_ == s.style_) return;
  color_ = s.color_;
  style_ = s.style_;
  Changed();
}

TChartBrush::TChartBrush(TNotifyEvent onChange) : TBrush(std::move(onChange)) { color_ = clDefault; }

// ---------------------------------------------------------------------------
// Fonts

TFont::TFont(TNotifyEvent onChange)
    : OnChange(std::move(onChange)), name_("Arial"), size_(8), generation_(gFontGeneration++) {}

TFont::TFont(const TFont& o)
    : name_(o.name_), size_(o.size_), color_(o.color_), style_(o.style_), generation_(gFontGeneration++) {}

TFont& TFont::operator=(const TFont& o) {
  Assign(o);
  return *this;
}

void TFont::Changed(bool shape) {
  if (shape) generation_ = gFontGeneration++;
  if (OnChange) OnChange();
}
void TFont::SetName(const std::string& v) {
  if (v == name_) return;
  name_ = v;
  Changed(true);
}
void TFont::SetSize(int v) {
  if (v == size_) return;
  size_ = v;
  Changed(true);
}
void TFont::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed(false);
}
void TFont::SetStyle(TFontStyles v) {
  if (v == style_) return;
  style_ = v;
  Changed(true);
}
void TFont::Assign(const TFont& s) {
  if (&s == this) return;
  const bool shape = name_ != s.name_ || size_ != s.size_ || style_ != s.style_;
  if (!shape && color_ == s.color_) return;
  name_ = s.name_;
  size_ = s.size_;
  color_ = s.color_;
  style_ = s.style_;
  Changed(shape);
}

int TFont::PixelSize() const { return rt::MulDiv(size_, ScreenPixelsPerInch(), 72); }

int ScreenPixelsPerInch() {
  if (!HaveGuiApp()) return 96;
  const QScreen* s = QGuiApplication::primaryScreen();
  if (!s) return 96;
  const int dpi = static_cast<int>(std::lround(s->logicalDotsPerInchY()));
  return dpi > 0 ? dpi : 96;
}

TFont DefaultChartFont() {
  TFont f;
  f.SetName("Arial");
  f.SetSize(8);
  f.SetColor(clBlack);
  f.SetStyle(0);
  // A Japanese user interface has no use for a Latin face: take its own
  // default face and the default font's height in points.
  if (HaveGuiApp() && QLocale::system().language() == QLocale::Japanese) {
    const QFont ui = QGuiApplication::font();
    f.SetName(ui.family().toStdString());
    int pt = ui.pointSize();
    if (pt <= 0 && ui.pixelSize() > 0) pt = rt::MulDiv(ui.pixelSize(), 72, ScreenPixelsPerInch());
    if (pt > 0) f.SetSize(pt);
  }
  return f;
}

QFont MakeQFont(const TFont& font) {
  QFont q(QString::fromStdString(font.Name()));
  q.setPixelSize(std::max(1, std::abs(font.PixelSize())));
  q.setBold((font.Style() & fsBold) != 0);
  q.setItalic((font.Style() & fsItalic) != 0);
  q.setUnderline((font.Style() & fsUnderline) != 0);
  q.setStrikeOut((font.Style() & fsStrikeOut) != 0);
  return q;
}

// ---------------------------------------------------------------------------
// Measurement

TChartCanvas::TChartCanvas() = default;
TChartCanvas::~TChartCanvas() = default;

const TChartCanvas::Metrics* TChartCanvas::CurrentMetrics() {
  if (!HaveGuiApp()) return nullptr;
  const int px = font_.PixelSize();
  if (!metrics_ || metrics_->generation != font_.Generation() || metrics_->pixelSize != px)
    metrics_ = std::make_unique<Metrics>(MakeQFont(font_), font_.Generation(), px);
  return metrics_.get();
}

int TChartCanvas::TextWidth(std::string_view text) {
  const Metrics* m = CurrentMetrics();
  if (!m || text.empty()) return 0;
  return m->fm.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

int TChartCanvas::TextHeight(std::string_view) {
  const Metrics* m = CurrentMetrics();
  return m ? m->fm.height() : 0;
}

int TChartCanvas::FontHeight() { return TextHeight("W"); }

}  // namespace wg
