#include "chart/ChartCanvas.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>

#include "chart/ChartCanvasMetrics.h"

namespace wg {

namespace {

bool HaveGuiApp() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

}  // namespace

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

void TCanvas3D::ApplyChartPen(const TChartPen& p) {
  if (!p.Visible()) {
    pen_.SetStyle(psClear);
    return;
  }
  pen_.SetColor(p.Color());
  pen_.SetWidth(p.Width());
  pen_.SetStyle(p.Style());
  pen_.SetMode(p.Mode());
}

}  // namespace wg
