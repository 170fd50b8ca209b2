// What the sweep and the receiver start with: the options given for this run,
// else the remembered settings. The window and the survey both start this way
// (the survey with nothing remembered). The options are never written back.
#pragma once

#include <string>
#include <vector>

namespace wg {

class TReceiverSetup;
class TSettings;
class TSweepEngine;
struct Options;

// The scan range, the levels computed (averaged or live) and what of each
// step is drawn.
void ApplyScanChoice(TSweepEngine& engine, const Options& options, const TSettings& settings);

// The receiver and its gain, correction, rate and options for the set-up's
// next open, and what each receiver keeps of its own. Only what differs from
// the written set-up is handed on: with nothing chosen the set-up runs
// exactly as written. A remembered receiver that is not plugged in is noted
// in the settings' messages. `settings` must outlive the set-up's opens.
void ApplyReceiverChoice(TReceiverSetup& setup, const Options& options, TSettings& settings);

// One line for each option of this run (-T, -D, -O) not in force on the
// receivers opened: the library lacks its entry point, or a receiver refused
// it. The run goes on without it.
std::vector<std::string> OptionsNotInForce(const TReceiverSetup& setup, const Options& options);

}  // namespace wg
