// What the window takes from the remembered settings and the command line at
// start-up. The options win over the settings for this run and are never
// written back: only what the user changes in the window is remembered.
#include "app/Options.h"
#include "app/Settings.h"
#include "receiver/ReceiverList.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "ui/ReadTheAir.h"
#include "ui/ReceiverMenu.h"
#include "ui/Unit1.h"
#include "ui/waterfall/WaterfallSplitter.h"

#include <algorithm>

void TForm1::RestoreGeometry() {
  const QByteArray& g = Settings().Values().geometry;
  if (g.isEmpty()) return;  // the written placement: centred on the screen
  if (!restoreGeometry(g))
    Settings().Note(QT_TRANSLATE_NOOP("Settings", "неверное значение window/geometry, взято положение по умолчанию"));
}

void TForm1::ApplyStartRange() {
  const wg::Options& o = RunOptions();
  wg::ScanRange r = Settings().Values().range;
  if (o.start && o.stop) r = {*o.start, *o.stop};
  Sweep().SetScanRange(r.start, r.stop);
  // The engine computes live or averaged levels; peak hold is drawn by the
  // window over the live trace.
  const bool average = o.mode ? *o.mode == wg::TraceModeChoice::Average
                              : Settings().Values().traceView == wg::TraceView::Average;
  Sweep().SetTraceMode(average ? wg::TraceMode::Average : wg::TraceMode::Live);
}

// The trace mode (peak hold included) and the markers come back, and every
// later change of them is remembered as it is made; markers are also written
// as the window closes.
void TForm1::RestoreFeatures() {
  Air().Remember(Settings(), RunOptions());
  // The waterfall and its share of the right panel, remembered as they change.
  const wg::SettingsValues& v = Settings().Values();
  Splitter1->SetShare(v.waterfallShare);
  if (v.waterfallShown) Splitter1->ShowWaterfall(true);
  Splitter1->OnShownChanged = [this](bool shown) { Settings().SetWaterfallShown(shown); };
  Splitter1->OnShareChanged = [this](double share) { Settings().SetWaterfallShare(share); };
}

void TForm1::RememberOnClose() {
  // The log goes with the window.
  Settings().SetMessageSink(nullptr);
  Settings().SetWindowGeometry(saveGeometry());
  if (air_) {
    Settings().SetPeakMarker(Air().PeakMarker());
    Settings().SetMarkers(Air().FixedMarkers());
  }
}

// The receiver and its settings for the set-up to open with. Only what the
// user chose (or an option) is handed on: with nothing chosen the set-up runs
// exactly as written.
void TForm1::ApplyReceiverChoice() {
  const wg::Options& o = RunOptions();
  const wg::SettingsValues& v = Settings().Values();
  wg::TReceiverSetup& r = Receiver();
  const int ppm = o.ppm.value_or(v.ppm);
  if (ppm != wg::TReceiverSetup::kDefaultFreqCorrection) r.SetFreqCorrection(ppm);
  const uint32_t rate = o.sampleRate.value_or(v.sampleRate);
  if (rate != wg::TReceiverSetup::kSampleRates[0]) r.SetSampleRate(rate);
  if (const auto gain = o.gain ? o.gain : v.gain) r.SetGain(gain->automatic ? std::nullopt : std::optional<int>(gain->tenthsDb));
  const std::string device = o.device.value_or(v.serial);
  if (device.empty()) return;
  const auto serials = wg::ReceiverSerials();
  if (!serials) return;
  // An option reads as rtl_sdr's -d (main has checked it); a remembered
  // serial must match exactly.
  std::optional<uint32_t> index;
  if (o.device) {
    index = wg::FindDevice(device, *serials);
  } else if (const auto it = std::find(serials->begin(), serials->end(), device); it != serials->end()) {
    index = static_cast<uint32_t>(it - serials->begin());
  }
  if (index) r.ChooseReceiver(*index);
  else if (!o.device)
    Settings().Note(QT_TRANSLATE_NOOP("Settings", "приёмник с серийником \"%1\" не найден, взят приёмник 0"),
                    {QString::fromStdString(device)});
}

void TForm1::CreateReceiverMenu() {
  receiverMenu_ = new wg::TReceiverMenu(this, ChartMenu, Receiver(), Settings(),
                                        [this](const std::string& line) { LogAppend(line); });
}
