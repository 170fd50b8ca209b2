// Synthetic sweeps for the signal finder: each bin is what the receiver's
// windowed transform makes of the emitters there plus Gaussian receiver noise,
// as powers in dB, averaged over the trace's transforms.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

#include "sweep/FftLevels.h"
#include "sweep/SignalFinder.h"
#include "sweep/SweepEngine.h"

namespace wgtest {

struct SceneEmitter {
  double frequency;    // Hz
  double levelDb;      // a carrier: its bin's power; a wide one: its power per bin
  double width = 0;    // Hz; 0 for a carrier, else noise-like across the width
  int onOf = 1, period = 1;  // keyed: on in sweeps s with s % period < onOf
  double onChance = 1;       // or on at random with this chance
  // Frequency modulated, Hz: in each transform its power lies at a few
  // points within this much of its frequency, where the modulation lingered.
  double deviation = 0;
};

class SignalScene {
 public:
  static constexpr int32_t kRate = 3200000;
  static constexpr int kPps = wg::TSweepEngine::kPointsPerStep;
  static constexpr double kBin = kRate / double{kPps};
  static constexpr int kLingers = 3;  // points an FM emitter lingers at per transform

  SignalScene(int64_t start, int64_t stop, uint64_t seed = 1) : start_(start), stop_(stop), rng_(seed) {
    for (int64_t c : wg::SweepCentres(start, stop, kRate)) starts_.push_back(c - kRate / 2);
  }
  std::vector<SceneEmitter> emitters;
  double noiseDb = -80;      // mean noise power per bin
  double rippleDb = 0;       // the floor rises and falls this much across each step
  int transforms = 1;        // averaged per level
  std::vector<size_t> untunedSteps;

  size_t Points() const { return starts_.size() * kPps; }

  // Sweep number s (0, 1, ...); which keyed emitters were on goes to `on`.
  wg::TSignalInput Sweep(uint64_t s, std::vector<bool>* on = nullptr) {
    const size_t n = Points();
    auto levels = std::make_shared<std::vector<float>>(n);
    std::vector<bool> keyed(emitters.size());
    for (size_t e = 0; e < emitters.size(); ++e) {
      const SceneEmitter& em = emitters[e];
      keyed[e] = static_cast<int>(s % static_cast<uint64_t>(em.period)) < em.onOf &&
                 (em.onChance >= 1 || std::uniform_real_distribution<double>(0, 1)(rng_) < em.onChance);
    }
    if (on) *on = keyed;
    std::normal_distribution<double> g(0, std::sqrt(0.5));
    std::gamma_distribution<double> mean(transforms, 1.0 / transforms);
    // Where each FM emitter lingered in each transform, to an eighth of a bin
    // (so that the window's shapes are reused), and the band they reach.
    std::vector<std::vector<std::pair<double, std::complex<double>>>> lingers(static_cast<size_t>(transforms));
    double lingerLo = INFINITY, lingerHi = -INFINITY;
    for (size_t e = 0; e < emitters.size(); ++e) {
      const SceneEmitter& em = emitters[e];
      if (!keyed[e] || em.deviation <= 0) continue;
      lingerLo = std::min(lingerLo, em.frequency - em.deviation - 12 * kBin);
      lingerHi = std::max(lingerHi, em.frequency + em.deviation + 12 * kBin);
      std::uniform_real_distribution<double> swing(-em.deviation / kBin, em.deviation / kBin), turn(0, 2 * M_PI);
      for (auto& at : lingers)
        for (int k = 0; k < kLingers; ++k)
          at.emplace_back(em.frequency + std::round(8 * swing(rng_)) / 8 * kBin,
                          std::polar(std::sqrt(std::pow(10, em.levelDb / 10) / kLingers), turn(rng_)));
    }
    std::vector<double> noise(kPps);
    for (int k = 0; k < kPps; ++k)
      noise[static_cast<size_t>(k)] = std::pow(10, (noiseDb + rippleDb * std::sin(2 * M_PI * k / kPps)) / 10);
    for (size_t j = 0; j < starts_.size(); ++j) {
      const bool untuned = std::find(untunedSteps.begin(), untunedSteps.end(), j) != untunedSteps.end();
      for (int k = 0; k < kPps; ++k) {
        const size_t i = j * kPps + static_cast<size_t>(k);
        if (untuned) {
          (*levels)[i] = std::numeric_limits<float>::quiet_NaN();
          continue;
        }
        const double f = static_cast<double>(starts_[j]) + k * kBin;
        double carrier = 0, wide = 0;
        for (size_t e = 0; e < emitters.size(); ++e) {
          if (!keyed[e]) continue;
          const SceneEmitter& em = emitters[e];
          const double x = (f - em.frequency) / kBin;
          if (em.deviation > 0) continue;
          if (em.width == 0) {
            if (std::abs(x) < 12) carrier += std::sqrt(std::pow(10, em.levelDb / 10)) * Kernel(x);
          } else if (std::abs(f - em.frequency) <= em.width / 2) {
            wide += std::pow(10, em.levelDb / 10);
          }
        }
        const double gauss = noise[static_cast<size_t>(k)] + wide;
        double p = 0;
        if (carrier == 0 && !(f > lingerLo && f < lingerHi)) {
          // The mean of exponential powers: what the averaged transforms give.
          p = gauss * mean(rng_);
        } else {
          // A carrier keeps its amplitude, an FM emitter its amplitude in each
          // transform; the noise around them is Gaussian in I and Q alike.
          for (int t = 0; t < transforms; ++t) {
            std::complex<double> c = carrier;
            for (const auto& [at, a] : lingers[static_cast<size_t>(t)])
              if (std::abs(f - at) < 12 * kBin) c += a * Kernel((f - at) / kBin);
            p += std::norm(c + std::sqrt(gauss) * std::complex<double>(g(rng_), g(rng_)));
          }
          p /= transforms;
        }
        (*levels)[i] = static_cast<float>(10 * std::log10(p));
      }
    }
    wg::TSignalInput in;
    in.levels = levels->data();
    in.count = n;
    in.owner = std::move(levels);
    in.stepStarts = starts_;
    in.pointsPerStep = kPps;
    in.binWidth = kBin;
    in.start = start_;
    in.stop = stop_;
    in.transformsAveraged = transforms;
    in.sequence = s + 1;
    in.finished = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000 + 10 * s));
    return in;
  }

  // Amplitude of the receiver's window at x bins from a carrier, 1 at x = 0;
  // remembered, since a carrier keeps its offsets from sweep to sweep.
  static double Kernel(double x) {
    static std::unordered_map<long long, double> known;
    const long long key = std::llround(x * 1e6);
    const auto it = known.find(key);
    if (it != known.end()) return it->second;
    static const std::vector<double> w = [] {
      std::vector<double> v(kPps);
      for (int n = 0; n < kPps; ++n) v[static_cast<size_t>(n)] = wg::WindowCoefficient(wg::kWindowType, n, kPps);
      return v;
    }();
    double sum = 0;
    std::complex<double> acc = 0;
    for (int n = 0; n < kPps; ++n) {
      sum += w[static_cast<size_t>(n)];
      acc += w[static_cast<size_t>(n)] * std::polar(1.0, -2 * M_PI * x * n / kPps);
    }
    return known[key] = std::abs(acc) / sum;
  }

 private:
  int64_t start_, stop_;
  std::vector<int64_t> starts_;
  std::mt19937_64 rng_;
};

}  // namespace wgtest
