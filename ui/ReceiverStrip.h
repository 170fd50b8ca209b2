// The receiver at a glance: a line at the top of the plot naming the
// receivers in use and what they run with (gain, correction, rate), the
// trace mode and how fast the sweep goes; a line too long for the plot goes
// on below, broken between its parts, never cut. Off unless chosen; drawn on
// the chart's overlay, so a saved image shows it too.
#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

#include "sweep/Sweep.h"
#include "sweep/TraceMode.h"

class QAction;
class QFontMetrics;
class QPainter;

namespace wg {

struct ReceiverReport;

// The receivers in use as the strip names them: a stick by its name and
// serial, a remote one as rtl_tcp=HOST:PORT; several as "N receivers: …".
QString StripReceivers(const ReceiverReport& report);
// The strip's parts laid out in lines at most `width` pixels wide: as many
// whole parts to a line as fit, a part wider than a line broken between
// its words.
QStringList StripLines(const QStringList& parts, const QFontMetrics& fm, int width);

class TChart;
class TChartMenu;
class TChartOverlay;
class TReceiverSetup;
class TSweepEngine;

class TReceiverStrip : public QObject {
  Q_OBJECT

 public:
  // All must outlive the strip; `mode` tells the trace mode shown.
  TReceiverStrip(TChart& chart, TChartOverlay& overlay, TReceiverSetup& receiver, TSweepEngine& sweep,
                 TChartMenu& menu, std::function<TraceMode()> mode);
  ~TReceiverStrip() override;

  bool Shown() const { return shown_; }
  void SetShown(bool shown);
  // "Receiver strip", checkable, Ctrl+Shift+G.
  QAction* Action() const { return action_; }

  QStringList Parts() const;
  QString Text() const;
  // Where it is drawn, chart pixels; empty while hidden.
  QRect Rect() const;

  std::function<void(bool shown)> OnShownChanged;

 private:
  void Paint(QPainter& p) const;
  // The lines shown and where, chart pixels; none while hidden.
  QStringList Lines(QRect* where) const;
  void OnSweep(const SweepPtr& sweep);

  TChart& chart_;
  TChartOverlay& overlay_;
  TReceiverSetup& receiver_;
  TSweepEngine& sweep_;
  std::function<TraceMode()> mode_;
  QAction* action_ = nullptr;
  int listenerId_ = -1;
  bool shown_ = false;
  double sweepsPerSecond_ = 0, hzPerSecond_ = 0;
};

}  // namespace wg
