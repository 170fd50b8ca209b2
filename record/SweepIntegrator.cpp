#include "record/SweepIntegrator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace wg {
namespace {

// dB to linear power and back, the way every level is averaged here.
constexpr double kDbToLn = 0.23025850929940456840;  // ln(10) / 10
double Power(double db) { return std::exp(db * kDbToLn); }
double Db(double power) { return 10.0 * std::log10(power); }

int64_t WholeSeconds(std::chrono::system_clock::time_point t) {
  return std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
}

}  // namespace

int CombinedBins(double binHz, double binWidth, int binsPerStep) {
  if (!(binHz > 0) || !(binWidth > 0) || binsPerStep <= 1) return 1;
  for (int k = 1; k < binsPerStep; ++k)
    if (binsPerStep % k == 0 && binWidth * k >= binHz) return k;
  return binsPerStep;
}

TSweepIntegrator::TSweepIntegrator(IntegrationChoice choice, std::chrono::system_clock::time_point start)
    : choice_(choice) {
  if (choice_.intervalSeconds > 0) nextTick_ = WholeSeconds(start) + choice_.intervalSeconds;
}

void TSweepIntegrator::Add(const RtlPowerSweep& sweep, const EmitFn& emit) {
  const int bins = sweep.binsPerStep;
  if (bins <= 0) return;
  const size_t steps = std::min(sweep.lows.size(), sweep.levels.size() / static_cast<size_t>(bins));
  const int k = CombinedBins(choice_.binHz, sweep.binWidth, bins);
  const int out = bins / k;

  // The steps this sweep makes once combined: a combined bin lies at the
  // middle of the bins it takes in.
  const double shift = (k - 1) * sweep.binWidth / 2;
  const bool same = sweeps_ > 0 && shape_.binsPerStep == out && shape_.sampleRate == sweep.sampleRate &&
                    shape_.binWidth == sweep.binWidth * k && shape_.lows.size() == steps &&
                    std::equal(shape_.lows.begin(), shape_.lows.end(), sweep.lows.begin(),
                               [&](int64_t combined, int64_t low) {
                                 return combined == std::llround(static_cast<double>(low) + shift);
                               });
  if (sweeps_ > 0 && !same) Emit(emit);
  if (sweeps_ == 0) {
    shape_.binsPerStep = out;
    shape_.sampleRate = sweep.sampleRate;
    shape_.binWidth = sweep.binWidth * k;
    shape_.lows.resize(steps);
    for (size_t s = 0; s < steps; ++s) shape_.lows[s] = std::llround(static_cast<double>(sweep.lows[s]) + shift);
    power_.assign(steps * static_cast<size_t>(out), 0.0);
    measured_.assign(steps, 0);
    samples_ = 0;
  }

  for (size_t s = 0; s < steps; ++s) {
    const double* lv = sweep.levels.data() + s * static_cast<size_t>(bins);
    if (!std::all_of(lv, lv + bins, [](double v) { return std::isfinite(v); })) continue;
    double* acc = power_.data() + s * static_cast<size_t>(out);
    for (int j = 0; j < out; ++j) {
      double p = 0;
      for (int i = 0; i < k; ++i) p += Power(lv[j * k + i]);
      p /= k;
      acc[j] = choice_.peakHold ? std::max(acc[j], p) : acc[j] + p;
    }
    ++measured_[s];
  }
  ++sweeps_;
  samples_ += sweep.samples;
  lastEnd_ = sweep.when;

  if (choice_.intervalSeconds <= 0) {
    Emit(emit);
    return;
  }
  const int64_t now = WholeSeconds(sweep.when);
  if (now < nextTick_) return;
  Emit(emit);
  // Whole intervals that went by while this sweep ran have no lines.
  nextTick_ += ((now - nextTick_) / choice_.intervalSeconds + 1) * choice_.intervalSeconds;
}

void TSweepIntegrator::Emit(const EmitFn& emit) {
  const size_t steps = shape_.lows.size();
  const size_t out = static_cast<size_t>(shape_.binsPerStep);
  out_.binsPerStep = shape_.binsPerStep;
  out_.sampleRate = shape_.sampleRate;
  out_.binWidth = shape_.binWidth;
  out_.lows = shape_.lows;
  out_.samples = static_cast<int>(std::min<int64_t>(samples_, INT_MAX));
  out_.when = lastEnd_;
  out_.levels.resize(steps * out);
  for (size_t s = 0; s < steps; ++s) {
    const int n = measured_[s];
    for (size_t j = 0; j < out; ++j) {
      const double p = power_[s * out + j];
      out_.levels[s * out + j] = n == 0 ? std::numeric_limits<double>::quiet_NaN()
                                        : Db(choice_.peakHold ? p : p / n);
    }
  }
  sweeps_ = 0;
  emit(out_);
}

}  // namespace wg
