#include "chart/ChartFont.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>

#include "runtime/NumText.h"

namespace wg {

namespace {

bool HaveGuiApp() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

std::atomic<std::uint64_t> gFontGeneration{1};

}  // namespace

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

}  // namespace wg
