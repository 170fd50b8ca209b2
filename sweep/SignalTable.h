// The signals found so far, sweep after sweep: a detection is the same
// signal as one already listed when its frequency lies within a few bins of
// it, or within half its bandwidth for a wide one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sweep/SignalFinder.h"

namespace wg {

struct TSignal {
  double frequency = 0;  // Hz, the sightings' centres averaged
  double peakDb = 0;     // the strongest level it reached
  double meanDb = 0;     // its peak level in the sweeps it was found in, averaged in power
  double snrDb = 0;      // the strongest level above the noise floor under it then
  double bandwidth = 0;  // Hz, at 6 dB below the peak, averaged over the sightings
  uint64_t present = 0;  // sweeps it was found in
  uint64_t covered = 0;  // sweeps that measured its frequency since the table began
  std::chrono::system_clock::time_point firstSeen, lastSeen;  // finish of those sweeps

  // The share of the covering sweeps it was found in, 0..100.
  double OccupancyPercent() const {
    return covered ? 100.0 * static_cast<double>(present) / static_cast<double>(covered) : 0;
  }
};

class TSignalTable {
 public:
  // A table this long stops taking new signals; its signals are still followed.
  static constexpr size_t kMostSignals = 10000;
  // A detection this many bins from a listed signal is that signal.
  static constexpr double kMatchBins = 3;

  // Takes in one sweep and what the finder found in it.
  void Add(const TSignalInput& in, const std::vector<TDetection>& found);
  void Clear();

  const std::vector<TSignal>& Signals() const { return signals_; }  // in frequency order
  uint64_t Sweeps() const { return sweeps_; }
  // Detections that were not listed because the table was full.
  uint64_t Dropped() const { return dropped_; }

 private:
  struct Sums {
    double frequency = 0, power = 0, bandwidth = 0;
  };
  struct Span {
    int64_t start, stop;
    uint64_t sweeps;
  };
  void Update(size_t k, const TDetection& d, std::chrono::system_clock::time_point when);
  uint64_t SweepsOver(double f) const;

  std::vector<TSignal> signals_;
  std::vector<Sums> sums_;   // beside signals_
  std::vector<Span> spans_;  // the scan ranges swept, in order
  uint64_t sweeps_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace wg
