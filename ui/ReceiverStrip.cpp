#include "ui/ReceiverStrip.h"

#include "chart/Chart.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "ui/ChartMenu.h"
#include "ui/ChartOverlay.h"

#include <QAction>
#include <QPainter>
#include <QRegularExpression>

#include <chrono>

namespace wg {

namespace {

QString Rate(double hz) {
  return QString::number(hz / 1e6, 'g', 6) + QStringLiteral(" MS/s");
}

QString ModeText(TraceMode m) {
  switch (m) {
    case TraceMode::Live: return QStringLiteral("live");
    case TraceMode::Average: return QStringLiteral("average");
    case TraceMode::PeakHold: return QStringLiteral("peak hold");
  }
  return {};
}

QFont StripFont(const QFont& base) {
  QFont f = base;
  f.setPixelSize(9);
  return f;
}

}  // namespace

TReceiverStrip::TReceiverStrip(TChart& chart, TChartOverlay& overlay, TReceiverSetup& receiver, TSweepEngine& sweep,
                               TChartMenu& menu, std::function<TraceMode()> mode)
    : QObject(&overlay), chart_(chart), overlay_(overlay), receiver_(receiver), sweep_(sweep), mode_(std::move(mode)) {
  action_ = menu.AddEntry(QStringLiteral("Receiver strip"), QKeySequence(QStringLiteral("Ctrl+Shift+G")),
                          [this] { SetShown(!shown_); });
  action_->setObjectName(QStringLiteral("receiver-strip"));
  action_->setCheckable(true);
  overlay.AddPainter([this](QPainter& p, const QPoint*) { Paint(p); });
  listenerId_ = sweep.AddSweepListener([this](const SweepPtr& s) { OnSweep(s); });
}

TReceiverStrip::~TReceiverStrip() {
  if (listenerId_ >= 0) sweep_.RemoveSweepListener(listenerId_);
}

void TReceiverStrip::SetShown(bool shown) {
  action_->setChecked(shown);
  if (shown == shown_) return;
  shown_ = shown;
  overlay_.update();
  if (OnShownChanged) OnShownChanged(shown);
}

void TReceiverStrip::OnSweep(const SweepPtr& sweep) {
  const double secs = std::chrono::duration<double>(sweep->finished - sweep->started).count();
  if (secs <= 0) return;
  sweepsPerSecond_ = 1 / secs;
  hzPerSecond_ = static_cast<double>(sweep->stop - sweep->start) / secs;
  if (shown_) overlay_.update();
}

QString TReceiverStrip::Text() const {
  const ReceiverReport& r = receiver_.Report();
  QStringList parts;
  if (r.outcome == ReceiverReport::Outcome::Opened && r.index < r.devices.size()) {
    const ReceiverReport::Device& d = r.devices[r.index];
    QString name = QString::fromStdString(d.name);
    if (!d.serial.empty()) name += QStringLiteral(" SN ") + QString::fromStdString(d.serial);
    parts << name;
  } else {
    parts << QStringLiteral("no receiver");
  }
  switch (receiver_.CurrentGainMode()) {
    case GainMode::Written: parts << QStringLiteral("no gain set"); break;
    case GainMode::Auto: parts << QStringLiteral("auto gain"); break;
    case GainMode::Manual: parts << QString::number(receiver_.ManualGain() / 10.0, 'f', 1) + QStringLiteral(" dB gain"); break;
  }
  parts << QString::number(receiver_.FreqCorrection()) + QStringLiteral(" ppm");
  parts << Rate(receiver_.SampleRate());
  if (mode_) parts << ModeText(mode_());
  if (sweepsPerSecond_ > 0)
    parts << QString::number(sweepsPerSecond_, 'f', sweepsPerSecond_ < 10 ? 2 : 1) + QStringLiteral(" sweeps/s, ") +
                 QString::number(hzPerSecond_ / 1e6, 'f', 1) + QStringLiteral(" MHz/s");
  return parts.join(QStringLiteral(" \u00b7 "));
}

QRect TReceiverStrip::Rect() const {
  if (!shown_) return {};
  const TRect plot = chart_.GetPlotRect();
  if (plot.Right - plot.Left < 20) return {};
  const QFontMetrics fm(StripFont(overlay_.font()));
  const int width = std::min(fm.horizontalAdvance(Text()) + 8, plot.Right - plot.Left - 4);
  // In the plot's upper right corner: the trace seldom reaches that high.
  return QRect(plot.Right - 2 - width, plot.Top + 2, width, fm.height() + 2);
}

void TReceiverStrip::Paint(QPainter& p) const {
  const QRect r = Rect();
  if (r.isEmpty()) return;
  p.setFont(StripFont(overlay_.font()));
  p.fillRect(r, QColor(255, 255, 255, 200));
  p.setPen(QColor(0x40, 0x40, 0x40));
  p.drawText(r.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
             QFontMetrics(p.font()).elidedText(Text(), Qt::ElideRight, r.width() - 8));
}

}  // namespace wg
