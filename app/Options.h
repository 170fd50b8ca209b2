// The command line, with the rtl-sdr tools' conventions: -f START:STOP as
// rtl_power's, -g, -p, -s, -d, -T, -D, -O as rtl_sdr's, and the survey options. Parsing
// happens before any application object exists, so that a bad option ends
// the program before a display or the receiver is touched.
#pragma once

#include "sweep/ReceiverSetup.h"
#include "sweep/ScanLimits.h"
#include "sweep/TraceMode.h"

#include <QStringList>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wg {

// One of kSampleRates (sweep/ScanLimits.h, with the scan and correction limits).
bool IsOfferedSampleRate(int64_t rate);

// Tuner gain limits accepted from the user, dB (the tuners' tables lie within).
inline constexpr double kMinGainDb = -10.0;
inline constexpr double kMaxGainDb = 100.0;

// Picture widths --width accepts for --heatmap, pixels.
inline constexpr int kHeatMapLeast = 400;
inline constexpr int kHeatMapMost = 16384;

enum class Language { Russian, English };

struct GainChoice {
  bool automatic = false;  // the tuner's automatic gain
  int tenthsDb = 0;        // otherwise: the gain, tenths of a dB
  bool operator==(const GainChoice&) const = default;
};

// Everything the command line can choose; unset means "not given".
struct Options {
  std::optional<int64_t> start, stop;  // Hz, both set or neither
  std::optional<GainChoice> gain;
  std::optional<int> ppm;
  std::optional<uint32_t> sampleRate;  // one of kSampleRates
  std::optional<std::string> device;   // an index or a serial, as rtl_sdr's -d
  std::optional<Language> language;
  std::optional<std::string> record;   // file name; "-" is standard output
  std::optional<int64_t> sweeps;       // -n, at least 1
  std::optional<std::chrono::milliseconds> duration;  // -e, above zero
  std::optional<TraceMode> mode;       // Live or Average
  std::optional<std::string> signalsFile;  // --signals: the signal table's CSV file, with --record
  // What a survey writes, as rtl_power's -f START:STOP:BIN, -i and -P: bins
  // joined into bins no wider than binHz, sweeps integrated over intervalSeconds, the
  // highest power instead of the mean.
  std::optional<double> binHz;
  std::optional<int64_t> intervalSeconds;
  bool peakHold = false;
  bool fast = false;  // --fast: each step reads only what it uses
  bool dcSpike = false;  // --dc-spike: each step's centre bins as the stick delivers them
  std::optional<double> crop;  // -c: the share of each step's edges left out, 0 to kMostCrop
  // rtl_sdr's -T (bias-T on), -D 0|1|2 (direct sampling off, I or Q branch)
  // and -O (offset tuning on), for every receiver in use.
  bool biasTee = false;
  std::optional<int> directSampling;
  bool offsetTuning = false;
  // --heatmap IN OUT: the recording to draw and the PNG to write, and the
  // picture's width in pixels.
  std::optional<std::string> heatmap, heatmapOut;
  std::optional<int> heatmapWidth;
  // --open FILE: a recording shown in the window instead of the live sweep.
  std::optional<std::string> open;
  // Absolute path of the receiver library to load instead of the plugins
  // folder's (e.g. the simulated receiver shipped with the program).
  std::optional<std::string> receiverLibrary;
};

struct ParseResult {
  enum class Action { Run, Help, Version, Error };
  Action action = Action::Run;
  Options options;
  // Help: the help text; Version: the version line; Error: one line for
  // standard error, without its line feed.
  std::string text;
  // The process's exit status for the actions that end it (0, or 2 for Error).
  int ExitStatus() const { return action == Action::Error ? 2 : 0; }
};

// args[0] is the program's name. Never throws; any input gives a result.
ParseResult ParseOptions(const QStringList& args);
ParseResult ParseOptions(int argc, const char* const* argv);

// Single values, as the options read them (also used for remembered values).
// A number with an optional k/M/G suffix (either case), as rtl_power reads
// frequencies; rounded to whole Hz.
std::optional<int64_t> ParseHz(const QString& text);
// A number of seconds with an optional s/m/h suffix, as rtl_power's -e.
std::optional<std::chrono::milliseconds> ParseDuration(const QString& text);
// The share of a step's edges to leave out, as rtl_power's -c: a fraction
// ("0.25") or a percentage ("25%"), from 0 to kMostCrop.
std::optional<double> ParseCrop(const QString& text);
// "auto" or a gain in dB.
std::optional<GainChoice> ParseGain(const QString& text);

// The receiver that -d (or a remembered serial) names, rtl_sdr's way: a
// decimal index below the count, else the first exact serial, else the first
// serial that starts with it, else the first that ends with it.
std::optional<uint32_t> FindDevice(const std::string& wanted, const std::vector<std::string>& serials);
// Several receivers to share the range: "all" of them, or a comma list of
// what FindDevice reads, in that order without repeats. A name that is one
// receiver as a whole is that one. nullopt when any of them is not there.
std::optional<std::vector<uint32_t>> FindDevices(const std::string& wanted, const std::vector<std::string>& serials);
// The same, where an item may also be rtl_tcp=HOST[:PORT], a stick served
// over the network (gr-osmosdr's way of naming it); nullopt when a local one
// is not there or an address is malformed. Remote ones need no local list.
std::optional<std::vector<ReceiverChoice>> FindReceivers(const std::string& wanted,
                                                         const std::vector<std::string>& serials);

}  // namespace wg
