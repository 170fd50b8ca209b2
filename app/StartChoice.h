// What the sweep and the receiver start with: the options given for this run,
// else the remembered settings. The window and the survey both start this way
// (the survey with nothing remembered). The options are never written back.
#pragma once

namespace wg {

class TReceiverSetup;
class TSettings;
class TSweepEngine;
struct Options;

// The scan range, the levels computed (averaged or live) and what of each
// step is drawn.
void ApplyScanChoice(TSweepEngine& engine, const Options& options, const TSettings& settings);

// The receiver and its gain, correction and rate for the set-up's next open.
// Only what differs from the written set-up is handed on: with nothing chosen
// the set-up runs exactly as written. A remembered receiver that is not
// plugged in is noted in the settings' messages.
void ApplyReceiverChoice(TReceiverSetup& setup, const Options& options, TSettings& settings);

}  // namespace wg
