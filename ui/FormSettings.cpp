// What the window takes from the remembered settings and the command line at
// start-up. The options win over the settings for this run and are never
// written back: only what the user changes in the window is remembered.
#include "Options.h"
#include "ReadTheAir.h"
#include "Settings.h"
#include "Unit1.h"
#include "WaterfallSplitter.h"
#include "sweep_engine.h"

void TForm1::RestoreGeometry() {
  const QByteArray& g = Settings().Values().geometry;
  if (g.isEmpty()) return;  // the written placement: centred on the screen
  if (!restoreGeometry(g)) Settings().Note("неверное значение window/geometry, взято положение по умолчанию");
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
  Settings().SetWindowGeometry(saveGeometry());
  if (air_) {
    Settings().SetPeakMarker(Air().PeakMarker());
    Settings().SetMarkers(Air().FixedMarkers());
  }
}
