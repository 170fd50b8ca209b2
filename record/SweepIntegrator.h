// Sweeps made smaller before they are written, as rtl_power's -f
// START:STOP:BIN, -i and -P shape its files: adjacent bins are combined into
// wider ones (their mean power), and the sweeps of an interval are integrated
// into one set of lines (their mean power, or with peak hold the highest).
//
// Intervals run as rtl_power runs them: the first ends INTERVAL seconds
// after the start (both in whole seconds), a sweep belongs to the interval in
// which it ends, and the interval's lines go out once the first sweep ending
// at or after its end is in, dated as that sweep ends; the next interval ends
// at the first multiple of INTERVAL after the start that lies beyond that.
// A sweep whose steps differ from those of the sweeps before it in the
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

// How many adjacent bins go into one: the fewest that make bins at least
// binHz wide and divide a step into whole bins (a power of two for steps of
// 4096 bins), and no more than a step holds.
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
  void Emit(const EmitFn& emit);

  IntegrationChoice choice_;
  int64_t nextTick_ = 0;  // seconds since 1970 at which the interval under way ends
  // The interval under way: its steps, combined, and per combined bin the
  // sum (or highest) of the linear power; per step the sweeps that measured it.
  RtlPowerSweep shape_;
  std::vector<double> power_;
  std::vector<int> measured_;
  int sweeps_ = 0;
  int64_t samples_ = 0;
  std::chrono::system_clock::time_point lastEnd_;
  RtlPowerSweep out_;
};

}  // namespace wg
