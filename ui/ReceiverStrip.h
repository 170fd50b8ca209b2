// The receiver at a glance: one line at the top of the plot naming the
// receiver and what it runs with (gain, correction, rate), the trace mode
// and how fast the sweep goes. Off unless chosen; drawn on the chart's
// overlay, so a saved image shows it too.
#pragma once

#include <QObject>
#include <QRect>
#include <QString>

#include <functional>

#include "sweep/Sweep.h"
#include "sweep/TraceMode.h"

class QAction;
class QPainter;

namespace wg {

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

  QString Text() const;
  // Where it is drawn, chart pixels; empty while hidden.
  QRect Rect() const;

  std::function<void(bool shown)> OnShownChanged;

 private:
  void Paint(QPainter& p) const;
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
