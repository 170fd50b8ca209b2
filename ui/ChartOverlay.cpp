#include "ui/ChartOverlay.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

namespace wg {

TChartOverlay::TChartOverlay(QWidget* chart, PaintFn paint)
    : QWidget(chart), chart_(chart) {
  if (paint) paint_.push_back(std::move(paint));
  setObjectName(QStringLiteral("ChartOverlay"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  setGeometry(chart->rect());
  // Under the editors and the label that sit on the chart.
  lower();
  show();
  // Plain moves (no button held) must reach the chart for the readout.
  chart->setMouseTracking(true);
  chart->installEventFilter(this);
}

// The event filter goes with this object; the chart may be gone first.
TChartOverlay::~TChartOverlay() = default;

bool TChartOverlay::eventFilter(QObject* watched, QEvent* event) {
  if (watched != chart_) return false;
  switch (event->type()) {
    case QEvent::Resize:
      setGeometry(chart_->rect());
      break;
    case QEvent::MouseMove:
      pointer_ = static_cast<QMouseEvent*>(event)->position().toPoint();
      hasPointer_ = true;
      update();
      break;
    case QEvent::Leave:
      hasPointer_ = false;
      update();
      break;
    default:
      break;
  }
  return false;
}

void TChartOverlay::AddPainter(PaintFn paint) {
  if (paint) paint_.push_back(std::move(paint));
  update();
}

void TChartOverlay::paintEvent(QPaintEvent* /*event*/) {
  if (paint_.empty()) return;
  QPainter p(this);
  for (const PaintFn& paint : paint_) {
    p.save();
    paint(p, Pointer());
    p.restore();
  }
}

}  // namespace wg
