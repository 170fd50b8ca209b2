// "Calibrate: this signal is at … MHz" on a marker: the correction that puts
// the marked signal at the frequency typed in is set on the receiver and
// remembered for that stick, by its key, with what else it keeps of its own;
// it gets it back when it is opened (unless -p chose one for the run).
#pragma once

#include <QObject>

#include <functional>
#include <optional>
#include <string>

#include "sweep/Sweep.h"

class QWidget;

namespace wg {

class TReadTheAir;
class TReceiverSetup;
class TSettings;
class TSweepEngine;

class TCalibrateOnMarker : public QObject {
  Q_OBJECT

 public:
  // All must outlive this object.
  TCalibrateOnMarker(QWidget& window, TReadTheAir& air, TSweepEngine& engine, TReceiverSetup& receiver,
                     TSettings& settings, std::function<void(const std::string&)> log);
  ~TCalibrateOnMarker() override;

  // The correction that shows the signal marked at markerHz at trueHz, set
  // and remembered; nothing when the last sweep has no signal there or the
  // receiver refused it.
  std::optional<int> Calibrate(double markerHz, double trueHz);

 private:
  // The first receiver in use, by the key it keeps its own values under.
  std::string Key() const;

  QWidget& window_;
  TSweepEngine& engine_;
  TReceiverSetup& receiver_;
  TSettings& settings_;
  std::function<void(const std::string&)> log_;
  int listenerId_ = -1;
  SweepPtr last_;
};

}  // namespace wg
