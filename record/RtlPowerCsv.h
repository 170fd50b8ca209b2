// Sweeps as lines of rtl_power's CSV files, so that the tools written for
// rtl_power surveys (heat maps, plots) read what Wideglass records.
//
// One line per step:
//   date, time, Hz low, Hz high, Hz step, samples, dB, dB, ..., dB
// "2026-12-07, 11:29:26, 138000000, 141200000, 781.25, 1, -43.12, ..., -44.91"
// Fields are separated by ", "; the date and time are local; Hz low and high
// are integers (the step's band: the first bin's frequency and that plus the
// sample rate, or plus the kept bins' span when the step's edges were cut
// off; for joined bins the first one's centre and that plus what the line's
// bins span); Hz step is the bin width and every level in dB has two decimals,
// always with a '.'; "samples" is the number of transforms averaged into
// each level. The level of bin i lies at Hz low + i * Hz step. As
// rtl_power does, a line holds one level more than the step has bins: the
// last bin's level is written twice.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sweep/ScanLimits.h"
#include "sweep/Sweep.h"

namespace wg {

// A sweep as a recording holds it: read back from a file, or integrated from
// several. The engine's own sweeps are written as they are (Sweep.h).
struct RtlPowerSweep {
  int binsPerStep = kPointsPerStep;
  std::vector<int64_t> lows;    // per step: the frequency of its first bin, Hz
  std::vector<double> levels;   // binsPerStep per step, in frequency order
  int32_t sampleRate = 0;       // Hz, the width of a step
  double binWidth = 0;          // Hz
  int samples = 1;              // transforms averaged into each level
  std::chrono::system_clock::time_point when;
  int64_t start = 0, stop = 0;  // the scan range the steps were tuned for, Hz (0, 0: not known)
  // How many bins' width of noise a bin's level holds: more than one where
  // the transform's window spreads it (FftLevels.h), 1 for a bin that holds
  // the power within its own width.
  double noiseBins = 1;
  // Lines other than the steps (bins joined within the scan range): per line
  // its bins, whose levels follow those of the lines before it, and the top
  // of its band, Hz; its first bin lies at lows[line]. Empty: every line a
  // step of binsPerStep bins, its band sampleRate wide.
  struct Line {
    int bins = 0;
    int64_t high = 0;
    bool operator==(const Line&) const = default;
  };
  std::vector<Line> lines;
};

// Appends the sweep's lines to `out` and returns how many were written. A
// step with a level that is not a number (never measured) is left out whole.
size_t AppendRtlPowerLines(std::string& out, const RtlPowerSweep& sweep);
// The same for a sweep of the engine, dated when it finished, with the
// transforms it averaged per level as "samples".
size_t AppendRtlPowerLines(std::string& out, const Sweep& sweep);

// The width of the sweep's lines, Hz low to Hz high: the sample rate, or
// for steps with their edges cut off what their bins span, in whole Hz to
// an even number below as rtl_power's -c gives it.
int32_t RtlPowerBand(const Sweep& sweep);

// "YYYY-MM-DD, HH:MM:SS" in local time, as rtl_power writes it.
std::string RtlPowerTime(std::chrono::system_clock::time_point when);

}  // namespace wg
