// The receiver's part of a sweep, one step at a time: tune to the step's
// centre, read one block, turn it into levels and write them into the sweep
// under construction. The worker around it decides which step comes next,
// when a sweep is finished and what a failure means; this is the only part
// of the sweep that calls the receiver.
#pragma once

#include <rtl-sdr.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "receiver/api_rtl_sdr.h"
#include "sweep/Sweep.h"

namespace wg {

// The clock of a receiver call's start, as the watchdog reads it: steady, ns.
inline int64_t SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct StepResult {
  bool tuned = false;       // false: the tuner cannot reach the step, its levels are NaN
  bool readFailed = false;  // the block came short or with an error; its levels are of what came
  int count = 0;            // bytes read
  int result = 0;           // what the read returned
};

class TSweepSteps {
 public:
  // Turns a block of I/Q bytes into kPointsPerStep levels (FftLevels.h).
  using SpectrumFn = void (*)(const uint8_t* block, size_t blockSize, long countRead, double* out);

  // Binds the receiver calls as loaded now and the open receiver.
  TSweepSteps(int32_t rate, int32_t blockSize, SpectrumFn spectrum);

  // Measures the step centred at `centre` and appends its first frequency
  // and levels to `into`; either both or nothing are appended. While a
  // receiver call is under way, `since` holds when it began (steady clock,
  // ns), 0 otherwise. Exceptions of the receiver or the transform leave
  // `into` as it was.
  StepResult Measure(int64_t centre, Sweep& into, std::atomic<int64_t>& since);

  rtlsdr_dev_t* Device() const { return dev_; }

 private:
  void Append(int64_t centre, Sweep& into, const double* levels) const;

  int32_t rate_;
  int32_t blockSize_;
  SpectrumFn spectrum_;
  rtlsdr_dev_t* dev_;
  api_rtl_sdr::rtlsdr_set_center_freq_fn setCentre_;
  api_rtl_sdr::rtlsdr_set_sample_rate_fn setRate_;
  api_rtl_sdr::rtlsdr_reset_buffer_fn resetBuffer_;
  api_rtl_sdr::rtlsdr_read_sync_fn readSync_;
  std::vector<uint8_t> block_;
  std::vector<double> levels_;
};

}  // namespace wg
