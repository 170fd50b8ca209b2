#include "ui/CalibrateOnMarker.h"

#include "app/Settings.h"
#include "sweep/Calibration.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "ui/ReadTheAir.h"

#include <QInputDialog>
#include <QWidget>

#include <cmath>

namespace wg {

TCalibrateOnMarker::TCalibrateOnMarker(QWidget& window, TReadTheAir& air, TSweepEngine& engine,
                                       TReceiverSetup& receiver, TSettings& settings,
                                       std::function<void(const std::string&)> log)
    : QObject(&window), window_(window), engine_(engine), receiver_(receiver), settings_(settings), log_(std::move(log)) {
  listenerId_ = engine.AddSweepListener([this](const SweepPtr& s) { last_ = s; });
  air.OnCalibrate = [this](double hz) {
    bool ok = false;
    const double mhz = QInputDialog::getDouble(&window_, QStringLiteral("Calibrate"),
                                               QStringLiteral("This signal is at, MHz:"), std::round(hz / 1e2) / 1e4,
                                               0.1, 4000, 4, &ok);
    if (ok) Calibrate(hz, mhz * 1e6);
  };
}

TCalibrateOnMarker::~TCalibrateOnMarker() {
  if (listenerId_ >= 0) engine_.RemoveSweepListener(listenerId_);
}

std::string TCalibrateOnMarker::Key() const {
  const std::vector<std::string> keys = receiver_.KeysInUse();
  return keys.empty() ? std::string() : keys.front();
}

std::optional<int> TCalibrateOnMarker::Calibrate(double markerHz, double trueHz) {
  const auto seen = last_ ? FindPeak(*last_, markerHz) : std::nullopt;
  if (!seen || !(trueHz > 0)) return std::nullopt;
  const int ppm = CorrectionFor(*seen, trueHz, receiver_.FreqCorrection());
  if (!receiver_.SetFreqCorrection(ppm)) return std::nullopt;
  // The correction in force is remembered as ever; the stick's own as well,
  // for when it is opened again.
  settings_.SetPpm(ppm);
  settings_.SetReceiverOwn(Key(), ReceiverOwn{.ppm = ppm});
  log_(tr("Поправка частоты %1 ppm: сигнал с %2 МГц на %3 МГц")
           .arg(ppm)
           .arg(seen->hz / 1e6, 0, 'f', 4)
           .arg(trueHz / 1e6, 0, 'f', 4)
           .toStdString());
  return ppm;
}

}  // namespace wg
