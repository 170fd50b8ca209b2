#include "ui/ReceiverAwayNotice.h"

#include "chart/Chart.h"
#include "sweep/SweepEngine.h"
#include "ui/ChartOverlay.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPointer>

namespace wg {

namespace {

QFont NoticeFont(const QFont& base) {
  QFont f = base;
  f.setPixelSize(13);
  f.setBold(true);
  return f;
}

}  // namespace

TReceiverAwayNotice::TReceiverAwayNotice(TChart& chart, TChartOverlay& overlay, TSweepEngine& sweep)
    : QObject(&overlay), chart_(chart), overlay_(overlay), sweep_(sweep) {
  setObjectName(QStringLiteral("ReceiverAwayNotice"));
  overlay.AddPainter([this](QPainter& p, const QPoint*) { Paint(p); });
  // The engine may outlive the notice or go first (the window's members go
  // before its children): the listener holds it weakly and is never removed.
  sweep.AddReceiverListener([self = QPointer<TReceiverAwayNotice>(this)](const PoolNote&) {
    if (self) self->Update();
  });
}

TReceiverAwayNotice::~TReceiverAwayNotice() = default;

void TReceiverAwayNotice::Update() {
  const bool away = sweep_.ReceiverAway();
  if (away == shown_) return;
  shown_ = away;
  overlay_.update();
}

QRect TReceiverAwayNotice::Rect() const {
  if (!shown_) return {};
  const TRect plot = chart_.GetPlotRect();
  const QFontMetrics fm(NoticeFont(overlay_.font()));
  const int width = std::min(fm.horizontalAdvance(QString::fromUtf8(kText)) + 16, plot.Right - plot.Left - 4);
  if (width < 20) return {};
  // In the middle of the plot, where the trace it stands for would be.
  const int height = fm.height() + 8;
  const int x = (plot.Left + plot.Right - width) / 2, y = (plot.Top + plot.Bottom - height) / 2;
  return QRect(x, y, width, height);
}

void TReceiverAwayNotice::Paint(QPainter& p) const {
  const QRect r = Rect();
  if (r.isEmpty()) return;
  p.setFont(NoticeFont(overlay_.font()));
  p.fillRect(r, QColor(255, 255, 255, 220));
  p.setPen(QColor(0xb0, 0x20, 0x20));
  p.drawRect(r.adjusted(0, 0, -1, -1));
  p.drawText(r, Qt::AlignCenter, QFontMetrics(p.font()).elidedText(QString::fromUtf8(kText), Qt::ElideRight, r.width() - 8));
}

}  // namespace wg
