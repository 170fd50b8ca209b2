#include "record/SweepIntegrator.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace wg {
namespace {

// dB to linear power and back, the way every level is summed here.
constexpr double kDbToLn = 0.23025850929940456840;  // ln(10) / 10
double Power(double db) { return std::exp(db * kDbToLn); }
double Db(double power) { return 10.0 * std::log10(power); }

int64_t WholeSeconds(std::chrono::system_clock::time_point t) {
  return std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
}

}  // namespace

int CombinedBins(double binHz, double binWidth, int binsPerStep) {
  if (!(binHz > 0) || !(binWidth > 0) || binsPerStep <= 1) return 1;
  // A hair over, so that a bin size of exactly k bins is not taken for less.
  const double k = std::floor(binHz / binWidth * (1 + 1e-12));
  return static_cast<int>(std::clamp(k, 1.0, static_cast<double>(binsPerStep)));
}

TSweepIntegrator::TSweepIntegrator(IntegrationChoice choice, std::chrono::system_clock::time_point start)
    : choice_(choice) {
  if (choice_.intervalSeconds > 0) nextTick_ = WholeSeconds(start) + choice_.intervalSeconds;
}

TSweepIntegrator::Grid TSweepIntegrator::GridOf(const RtlPowerSweep& sweep) const {
  Grid g;
  const int per = sweep.binsPerStep;
  const size_t steps = std::min(sweep.lows.size(), sweep.levels.size() / static_cast<size_t>(per));
  g.fine = sweep.binWidth;
  g.binsPerStep = per;
  if (!(choice_.binHz > 0) || !(g.fine > 0) || steps == 0) {
    g.band = sweep.sampleRate;
    g.lows.assign(sweep.lows.begin(), sweep.lows.begin() + static_cast<std::ptrdiff_t>(steps));
    return g;
  }
  const bool ranged = sweep.stop > sweep.start;
  int k = CombinedBins(choice_.binHz, g.fine, per);
  // A range too narrow for one bin of that size gets the widest that fits.
  if (ranged) {
    const double fits = (static_cast<double>(sweep.stop - sweep.start) + g.fine / 2) / (1.5 * g.fine);
    k = std::max(1, std::min(k, static_cast<int>(std::floor(fits))));
  }
  g.join = k;
  g.perLine = std::max(1, per / k);
  g.anchor = static_cast<double>(ranged ? sweep.start : sweep.lows[0]);
  // Bins wholly within the steps, and, with a range, written within it: the
  // first bin lies at or above its start, and the band of the last ends at
  // or below its stop.
  int64_t end = 0;
  for (size_t s = 0; s < steps; ++s)
    end = std::max<int64_t>(end, std::llround((static_cast<double>(sweep.lows[s]) - g.anchor) / g.fine) + per);
  g.bins = static_cast<size_t>(end / k);
  if (ranged) {
    const double width = k * g.fine;
    const double room = (static_cast<double>(sweep.stop) - g.anchor - (k - 1) * g.fine / 2 - width) / width;
    g.bins = room < 0 ? 0 : std::min(g.bins, static_cast<size_t>(std::floor(room + 1e-9)) + 1);
  }
  return g;
}

void TSweepIntegrator::Add(const RtlPowerSweep& sweep, const EmitFn& emit) {
  if (sweep.binsPerStep <= 0) return;
  Grid grid = GridOf(sweep);
  if (sweeps_ > 0 && !(grid == grid_)) Emit(emit);
  if (sweeps_ == 0) {
    grid_ = std::move(grid);
    const size_t units = grid_.join ? grid_.bins : grid_.lows.size();
    power_.assign(grid_.join ? units : units * static_cast<size_t>(grid_.binsPerStep), 0.0);
    measured_.assign(units, 0);
    samples_ = 0;
  }
  if (grid_.join)
    AddJoined(sweep);
  else
    AddSteps(sweep);
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

void TSweepIntegrator::AddSteps(const RtlPowerSweep& sweep) {
  const int bins = grid_.binsPerStep;
  for (size_t s = 0; s < grid_.lows.size(); ++s) {
    const double* lv = sweep.levels.data() + s * static_cast<size_t>(bins);
    if (!std::all_of(lv, lv + bins, [](double v) { return std::isfinite(v); })) continue;
    double* acc = power_.data() + s * static_cast<size_t>(bins);
    for (int i = 0; i < bins; ++i) acc[i] = choice_.peakHold ? std::max(acc[i], Power(lv[i])) : acc[i] + Power(lv[i]);
    ++measured_[s];
  }
}

void TSweepIntegrator::AddJoined(const RtlPowerSweep& sweep) {
  const int k = grid_.join;
  const int per = sweep.binsPerStep;
  const size_t bins = grid_.bins;
  sweepPower_.assign(bins, 0.0);
  sweepFine_.assign(bins, 0);
  const size_t steps = std::min(sweep.lows.size(), sweep.levels.size() / static_cast<size_t>(per));
  for (size_t s = 0; s < steps; ++s) {
    const double* lv = sweep.levels.data() + s * static_cast<size_t>(per);
    const int64_t first = std::llround((static_cast<double>(sweep.lows[s]) - grid_.anchor) / grid_.fine);
    if (first + per <= 0) continue;
    // Bins below the range's start are none of its bins.
    int i = first < 0 ? static_cast<int>(-first) : 0;
    size_t m = static_cast<size_t>((first + i) / k);
    int r = static_cast<int>((first + i) % k);
    // A run of the step's bins into one joined bin at a time.
    while (i < per && m < bins) {
      const int n = std::min(k - r, per - i);
      double p = 0;
      int measured = 0;
      for (const double* v = lv + i; v < lv + i + n; ++v) {
        if (!std::isfinite(*v)) continue;
        p += Power(*v);
        ++measured;
      }
      sweepPower_[m] += p;
      sweepFine_[m] += measured;
      i += n;
      r += n;
      if (r == k) {
        r = 0;
        ++m;
      }
    }
  }
  // The sum of bins holds the window's spread of the noise: taken off, it is
  // the power within the joined width. One bin alone is as measured.
  const double spread = k > 1 && sweep.noiseBins > 0 ? 1 / sweep.noiseBins : 1;
  for (size_t m = 0; m < bins; ++m) {
    if (sweepFine_[m] != k) continue;  // not measured whole
    const double p = sweepPower_[m] * spread;
    power_[m] = choice_.peakHold ? std::max(power_[m], p) : power_[m] + p;
    ++measured_[m];
  }
}

void TSweepIntegrator::LinesOfJoined() {
  const int k = grid_.join;
  const double width = k * grid_.fine;
  const size_t bins = grid_.bins, per = static_cast<size_t>(grid_.perLine);
  out_.binsPerStep = grid_.perLine;
  out_.binWidth = width;
  out_.sampleRate = static_cast<int32_t>(std::min<double>(width * grid_.perLine, INT32_MAX));
  out_.lows.clear();
  out_.lines.clear();
  out_.levels.clear();
  // Lines of `per` bins from the range's start; a bin no sweep measured
  // whole splits its line.
  for (size_t m = 0; m < bins;) {
    const size_t end = std::min(bins, (m / per + 1) * per);
    if (measured_[m] == 0) {
      ++m;
      continue;
    }
    size_t e = m;
    for (; e < end && measured_[e] > 0; ++e) {
      const double p = power_[e];
      out_.levels.push_back(Db(choice_.peakHold ? p : p / measured_[e]));
    }
    const double low = grid_.anchor + (static_cast<double>(m) * k + (k - 1) / 2.0) * grid_.fine;
    out_.lows.push_back(std::llround(low));
    out_.lines.push_back({static_cast<int>(e - m), std::llround(low + static_cast<double>(e - m) * width)});
    m = e;
  }
}

void TSweepIntegrator::Emit(const EmitFn& emit) {
  out_.samples = static_cast<int>(std::min<int64_t>(samples_, INT_MAX));
  out_.when = lastEnd_;
  sweeps_ = 0;
  if (grid_.join) {
    LinesOfJoined();
    emit(out_);
    return;
  }
  const size_t steps = grid_.lows.size();
  const size_t bins = static_cast<size_t>(grid_.binsPerStep);
  out_.binsPerStep = grid_.binsPerStep;
  out_.sampleRate = grid_.band;
  out_.binWidth = grid_.fine;
  out_.lows = grid_.lows;
  out_.lines.clear();
  out_.levels.resize(steps * bins);
  for (size_t s = 0; s < steps; ++s) {
    const int n = measured_[s];
    for (size_t j = 0; j < bins; ++j) {
      const double p = power_[s * bins + j];
      out_.levels[s * bins + j] = n == 0 ? std::numeric_limits<double>::quiet_NaN()
                                         : Db(choice_.peakHold ? p : p / n);
    }
  }
  emit(out_);
}

}  // namespace wg
