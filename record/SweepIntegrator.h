// Sweeps made smaller before they are written, as rtl_power's -f
// START:STOP:BIN, -i and -P shape its files: adjacent bins are joined into
// wider ones, and the sweeps of an interval are integrated into one set of
// lines (their mean power, or with peak hold the highest).
//
// A joined bin holds the total power of the bins it joins, as a bin of
// rtl_power's measures the power within its width: a carrier reads the same
// level whatever the bin size, and the noise floor rises with it. The
// transform's window spreads every bin's noise over more than its width, so
// the sum is taken less that spread (RtlPowerSweep::noiseBins). Joined bins
// tile the scan range from its start, across the steps' edges, and only
// those that lie within the range are written, in lines of about a step's
// width; a bin that a sweep did not measure whole leaves a gap in its line.
// Without a bin size every step is written whole, as it was measured.
//
// Intervals run as rtl_power runs them: the first ends INTERVAL seconds
// after the start (both in whole seconds), a sweep belongs to the interval in
// which it ends, and the interval's lines go out once the first sweep ending
// at or after its end is in, dated as that sweep ends; the next interval ends
// at the first multiple of INTERVAL after the start that lies beyond that.
// A sweep whose bins differ from those of the sweeps before it in the
// interval (another range or rate) sends those out first, dated as the last
// of them ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "record/RtlPowerCsv.h"

namespace wg {

struct IntegrationChoice {
  double binHz = 0;              // 0: the bins as measured
  int64_t intervalSeconds = 0;   // 0: every sweep on its own
  bool peakHold = false;         // the highest power in the interval instead of the mean
  bool operator==(const IntegrationChoice&) const = default;
  // False when nothing is chosen: sweeps are written as they are.
  bool Chosen() const { return binHz > 0 || intervalSeconds > 0; }
};

// How many adjacent bins of binWidth are joined into one: the most that make
// a bin no wider than binHz, at least 1 (a binHz below binWidth leaves the
// bins as measured) and no more than a step holds.
int CombinedBins(double binHz, double binWidth, int binsPerStep);

class TSweepIntegrator {
 public:
  // Gets each set of lines that is complete; may move from it.
  using EmitFn = std::function<void(RtlPowerSweep&)>;

  TSweepIntegrator(IntegrationChoice choice, std::chrono::system_clock::time_point start);

  // Adds a finished sweep (levels in dB, NaN where not measured) and emits
  // what it completes.
  void Add(const RtlPowerSweep& sweep, const EmitFn& emit);
  // Sweeps added to the interval under way (left out at the end, as
  // rtl_power leaves out an interval it did not finish).
  int Pending() const { return sweeps_; }
  const IntegrationChoice& Choice() const { return choice_; }

 private:
  // Where a sweep's bins go. With a bin size: bins of `join` measured bins,
  // bin m taking those from m * join on, counted from the one centred at
  // `anchor`; `bins` of them lie within the range. Without: the steps.
  struct Grid {
    int join = 0;  // 0: no bin size
    double fine = 0;
    double anchor = 0;
    size_t bins = 0;
    int perLine = 0;
    int binsPerStep = 0;
    int32_t band = 0;
    std::vector<int64_t> lows;
    bool operator==(const Grid&) const = default;
  };
  Grid GridOf(const RtlPowerSweep& sweep) const;
  void AddSteps(const RtlPowerSweep& sweep);
  void AddJoined(const RtlPowerSweep& sweep);
  void Emit(const EmitFn& emit);
  void LinesOfJoined();

  IntegrationChoice choice_;
  int64_t nextTick_ = 0;  // seconds since 1970 at which the interval under way ends
  // The interval under way: its grid, per bin written the sum (or highest)
  // of the linear power, and the sweeps that measured it per step (per bin
  // when joined).
  Grid grid_;
  std::vector<double> power_;
  std::vector<int> measured_;
  std::vector<double> sweepPower_;  // joined: the sweep being added, per bin
  std::vector<int> sweepFine_;      // joined: its measured bins in each
  int sweeps_ = 0;
  int64_t samples_ = 0;
  std::chrono::system_clock::time_point lastEnd_;
  RtlPowerSweep out_;
};

}  // namespace wg
