#include "app/StartChoice.h"

#include "app/Options.h"
#include "app/Settings.h"
#include "receiver/ReceiverList.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"

#include <algorithm>

namespace wg {

void ApplyScanChoice(TSweepEngine& engine, const Options& options, const TSettings& settings) {
  ScanRange r = settings.Values().range;
  if (options.start && options.stop) r = {*options.start, *options.stop};
  engine.SetScanRange(r.start, r.stop);
  engine.SetTraceMode(LevelComputation(options.mode.value_or(settings.Values().traceView)));
  if (options.fast) engine.SetFast(true);
  engine.SetCrop(options.crop.value_or(settings.Values().crop));
}

void ApplyReceiverChoice(TReceiverSetup& setup, const Options& options, TSettings& settings) {
  const SettingsValues& v = settings.Values();
  const int ppm = options.ppm.value_or(v.ppm);
  if (ppm != kDefaultPpm) setup.SetFreqCorrection(ppm);
  const uint32_t rate = options.sampleRate.value_or(v.sampleRate);
  if (rate != kDefaultSampleRate) setup.SetSampleRate(rate);
  if (const auto gain = options.gain ? options.gain : v.gain)
    setup.SetGain(gain->automatic ? std::nullopt : std::optional<int>(gain->tenthsDb));
  const std::string device = options.device.value_or(v.serial);
  if (device.empty()) return;
  const auto serials = ReceiverSerials();
  // An option reads as rtl_sdr's -d (main has checked it), and may name a
  // remote stick, which needs no library to list the local ones; a
  // remembered serial must match exactly.
  if (options.device) {
    if (const auto chosen = FindReceivers(device, serials.value_or(std::vector<std::string>{})))
      setup.ChooseReceivers(*chosen);
    return;
  }
  if (!serials) return;
  if (const auto it = std::find(serials->begin(), serials->end(), device); it != serials->end())
    setup.ChooseReceiver(static_cast<uint32_t>(it - serials->begin()));
  else
    settings.Note(QT_TRANSLATE_NOOP("Settings", "приёмник с серийником \"%1\" не найден, взят приёмник 0"),
                  {QString::fromStdString(device)});
}

}  // namespace wg
