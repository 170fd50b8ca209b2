#include "app/StartChoice.h"

#include "app/Options.h"
#include "app/Settings.h"
#include "receiver/ReceiverList.h"
#include "receiver/RtlTcpProtocol.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace wg {

void ApplyScanChoice(TSweepEngine& engine, const Options& options, const TSettings& settings) {
  ScanRange r = settings.Values().range;
  if (options.start && options.stop) r = {*options.start, *options.stop};
  engine.SetScanRange(r.start, r.stop);
  engine.SetTraceMode(LevelComputation(options.mode.value_or(settings.Values().traceView)));
  if (options.fast) engine.SetFast(true);
  engine.SetCrop(options.crop.value_or(settings.Values().crop));
  engine.SetKeepDcSpike(options.dcSpike || settings.Values().dcSpike);
}

namespace {

// The receivers that shared the range when the program last ran, those of
// them that are there now; false when none is.
bool ChooseShared(TReceiverSetup& setup, TSettings& settings, const std::optional<std::vector<std::string>>& serials) {
  std::vector<ReceiverChoice> chosen;
  for (const std::string& key : settings.Values().shared) {
    RtlTcpAddress address;
    if (IsRemoteName(key)) {
      if (ParseRemoteName(key, address)) chosen.push_back(ReceiverChoice{0, address});
      continue;
    }
    if (!serials) continue;  // no library: its report says so
    if (const auto it = std::find(serials->begin(), serials->end(), key); it != serials->end())
      chosen.push_back(ReceiverChoice{static_cast<uint32_t>(it - serials->begin()), std::nullopt});
    else
      settings.Note(QT_TRANSLATE_NOOP("Settings", "приёмник с серийником \"%1\" не найден, развёртка без него"),
                    {QString::fromStdString(key)});
  }
  if (chosen.empty()) return false;
  setup.ChooseReceivers(std::move(chosen));
  return true;
}

}  // namespace

void ApplyReceiverChoice(TReceiverSetup& setup, const Options& options, TSettings& settings) {
  const SettingsValues& v = settings.Values();
  const int ppm = options.ppm.value_or(v.ppm);
  if (ppm != kDefaultPpm) setup.SetFreqCorrection(ppm);
  const uint32_t rate = options.sampleRate.value_or(v.sampleRate);
  if (rate != kDefaultSampleRate) setup.SetSampleRate(rate);
  if (const auto gain = options.gain ? options.gain : v.gain)
    setup.SetGain(gain->automatic ? std::nullopt : std::optional<int>(gain->tenthsDb));
  if (options.biasTee) setup.SetBiasTee(true);
  if (options.directSampling) setup.SetDirectSampling(*options.directSampling);
  if (options.offsetTuning) setup.SetOffsetTuning(true);
  // Each receiver opens with what it keeps of its own, but for what the
  // command line chose for this run.
  setup.SetSettingsByKey([&settings, options](const std::string& key, ReceiverSettings s) {
    const ReceiverOwn own = settings.OwnOf(key);
    if (own.gain && !options.gain) {
      s.gainMode = own.gain->automatic ? GainMode::Auto : GainMode::Manual;
      s.gainTenths = own.gain->tenthsDb;
    }
    if (own.ppm && !options.ppm) s.freqCorrection = *own.ppm;
    // An option powers or rewires the stick: one never chosen for it stays
    // off, whatever another stick has.
    if (!options.biasTee) s.biasTee = own.biasTee.value_or(false);
    if (!options.directSampling) s.directSampling = own.directSampling.value_or(0);
    if (!options.offsetTuning) s.offsetTuning = own.offsetTuning.value_or(false);
    return s;
  });
  // Listing the sticks is left to the starts that name one.
  if (!options.device && v.shared.size() > 1 && ChooseShared(setup, settings, ReceiverSerials())) return;
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

std::vector<std::string> OptionsNotInForce(const TReceiverSetup& setup, const Options& options) {
  std::vector<std::string> lines;
  if (!setup.IsOpen()) return lines;
  const ReceiverAbilities can = setup.Abilities();
  const auto check = [&](bool asked, bool inForce, bool able, const char* option, const char* what,
                         const char* entryPoint) {
    if (!asked || inForce) return;
    lines.push_back(std::string(option) + ": " +
                    (able ? std::string("the receiver refused ") + what
                          : std::string("the receiver library lacks ") + entryPoint) +
                    "; going on without it");
  };
  check(options.biasTee, setup.BiasTee(), can.biasTee, "-T", "bias-T", "rtlsdr_set_bias_tee");
  check(options.directSampling.value_or(0) != 0, setup.DirectSampling() == options.directSampling.value_or(0),
        can.directSampling, "-D", "direct sampling", "rtlsdr_set_direct_sampling");
  check(options.offsetTuning, setup.OffsetTuning(), can.offsetTuning, "-O", "offset tuning", "rtlsdr_set_offset_tuning");
  return lines;
}

}  // namespace wg
