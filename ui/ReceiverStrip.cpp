#include "ui/ReceiverStrip.h"

#include "chart/Chart.h"
#include "receiver/RtlTcpProtocol.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "ui/ChartMenu.h"
#include "ui/ChartOverlay.h"

#include <QAction>
#include <QPainter>
#include <QFontMetrics>

#include <algorithm>
#include <chrono>
#include <utility>

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

const QString kPartGap = QStringLiteral(" \u00b7 ");

QString Named(const ReceiverReport& r, uint32_t index, const std::string& servedFrom) {
  if (!servedFrom.empty()) return QString::fromStdString(RemoteName(servedFrom));
  if (index >= r.devices.size()) return QStringLiteral("receiver %1").arg(index);
  const ReceiverReport::Device& d = r.devices[index];
  QString name = QString::fromStdString(d.name);
  if (!d.serial.empty()) name += QStringLiteral(" SN ") + QString::fromStdString(d.serial);
  return name;
}

}  // namespace

QString StripReceivers(const ReceiverReport& r) {
  if (r.outcome != ReceiverReport::Outcome::Opened) return QStringLiteral("no receiver");
  QStringList names{Named(r, r.index, r.servedFrom)};
  for (const ReceiverReport::Stick& s : r.others)
    if (s.openResult >= 0) names << Named(r, s.index, s.servedFrom);
  if (names.size() == 1) return names.front();
  return QStringLiteral("%1 receivers: %2").arg(names.size()).arg(names.join(QStringLiteral(", ")));
}

QStringList StripLines(const QStringList& parts, const QFontMetrics& fm, int width) {
  const auto fits = [&](const QString& s) { return fm.horizontalAdvance(s) <= width; };
  QStringList lines;
  QString line;
  for (const QString& part : parts) {
    if (!line.isEmpty() && fits(line + kPartGap + part)) {
      line += kPartGap + part;
      continue;
    }
    if (!line.isEmpty()) lines << std::exchange(line, {});
    if (fits(part)) {
      line = part;
      continue;
    }
    // Too wide alone: broken between its words (one wider than a line
    // stays whole).
    for (const QString& word : part.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      if (line.isEmpty() || fits(line + QLatin1Char(' ') + word))
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
      else
        lines << std::exchange(line, word);
    }
  }
  if (!line.isEmpty()) lines << line;
  return lines;
}

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

QStringList TReceiverStrip::Parts() const {
  QStringList parts{StripReceivers(receiver_.Report())};
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
  return parts;
}

QString TReceiverStrip::Text() const { return Parts().join(kPartGap); }

QStringList TReceiverStrip::Lines(QRect* where) const {
  *where = {};
  if (!shown_) return {};
  const TRect plot = chart_.GetPlotRect();
  const int room = plot.Right - plot.Left - 4;
  if (room < 16) return {};
  const QFontMetrics fm(StripFont(overlay_.font()));
  const QStringList lines = StripLines(Parts(), fm, room - 8);
  int widest = 0;
  for (const QString& line : lines) widest = std::max(widest, fm.horizontalAdvance(line));
  const int width = std::min(widest + 8, room);
  // In the plot's upper right corner: the trace seldom reaches that high.
  *where = QRect(plot.Right - 2 - width, plot.Top + 2, width, static_cast<int>(lines.size()) * fm.height() + 2);
  return lines;
}

QRect TReceiverStrip::Rect() const {
  QRect r;
  (void)Lines(&r);
  return r;
}

void TReceiverStrip::Paint(QPainter& p) const {
  QRect r;
  const QStringList lines = Lines(&r);
  if (r.isEmpty()) return;
  p.setFont(StripFont(overlay_.font()));
  p.fillRect(r, QColor(255, 255, 255, 200));
  p.setPen(QColor(0x40, 0x40, 0x40));
  const int h = QFontMetrics(p.font()).height();
  for (int i = 0; i < lines.size(); ++i)
    p.drawText(QRect(r.left() + 4, r.top() + 1 + i * h, r.width() - 8, h), Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
}

}  // namespace wg
