#include "sweep/SweepSteps.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <limits>

#include "sweep/FftLevels.h"

namespace wg {

static_assert(kPointsPerStep == kFftSize, "a step's levels are one transform's bins");

namespace {

// Marks a receiver call under way for the watchdog.
struct InCall {
  std::atomic<int64_t>& since;
  explicit InCall(std::atomic<int64_t>& s) : since(s) { since.store(SteadyNanos()); }
  ~InCall() { since.store(0); }
};

}  // namespace

TSweepSteps::TSweepSteps(int32_t rate, int32_t blockSize, SpectrumFn spectrum)
    : rate_(rate),
      blockSize_(blockSize),
      spectrum_(spectrum),
      dev_(api_rtl_sdr::dev),
      setCentre_(api_rtl_sdr::rtlsdr_set_center_freq),
      setRate_(api_rtl_sdr::rtlsdr_set_sample_rate),
      resetBuffer_(api_rtl_sdr::rtlsdr_reset_buffer),
      readSync_(api_rtl_sdr::rtlsdr_read_sync) {}

void TSweepSteps::Append(int64_t centre, Sweep& into, const double* levels) const {
  const std::size_t old = into.levels.size();
  into.levels.resize(old + static_cast<std::size_t>(into.pointsPerStep));
  try {
    into.stepStarts.push_back(centre - rate_ / 2);
  } catch (...) {
    into.levels.resize(old);
    throw;
  }
  float* out = into.levels.data() + old;
  for (int g = 0; g < into.pointsPerStep; ++g)
    out[g] = levels ? static_cast<float>(levels[g]) : std::numeric_limits<float>::quiet_NaN();
}

StepResult TSweepSteps::Measure(int64_t centre, Sweep& into, std::atomic<int64_t>& since) {
  StepResult r;
  if (centre < 0 || centre > static_cast<int64_t>(UINT32_MAX)) {
    Append(centre, into, nullptr);
    return r;
  }
  if (block_.empty()) {
    block_.resize(static_cast<std::size_t>(blockSize_));
    levels_.resize(kFftSize);
  }
  {
    InCall watched(since);
    // A frequency the tuner cannot reach is not measured: whatever the
    // receiver delivered would belong to its previous tuning.
    if (setCentre_(dev_, static_cast<uint32_t>(centre)) < 0) {
      Append(centre, into, nullptr);
      return r;
    }
    r.tuned = true;
    setRate_(dev_, static_cast<uint32_t>(rate_));
    resetBuffer_(dev_);
    r.result = readSync_(dev_, block_.data(), blockSize_, &r.count);
  }
  r.readFailed = r.count < blockSize_ || r.result < 0;
  const int count = std::clamp(r.count, 0, blockSize_);
  spectrum_(block_.data(), block_.size(), count, levels_.data());
  Append(centre, into, levels_.data());
  return r;
}

}  // namespace wg
