// The chart says on its face when a receiver of the sweep has gone away (a
// stick pulled out, a remote one reconnecting) and is being waited for; the
// log alone is easily missed. The notice goes when the receiver is back.
#pragma once

#include <QObject>
#include <QRect>

class QPainter;

namespace wg {

class TChart;
class TChartOverlay;
class TSweepEngine;

class TReceiverAwayNotice : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kText = "Receiver lost \u2014 waiting for it";

  // The engine and the chart must outlive the notice, which goes with the
  // overlay.
  TReceiverAwayNotice(TChart& chart, TChartOverlay& overlay, TSweepEngine& sweep);
  ~TReceiverAwayNotice() override;

  bool Shown() const { return shown_; }
  // Where it is drawn, chart pixels; empty while not shown.
  QRect Rect() const;

 private:
  void Update();
  void Paint(QPainter& p) const;

  TChart& chart_;
  TChartOverlay& overlay_;
  TSweepEngine& sweep_;
  bool shown_ = false;
};

}  // namespace wg
