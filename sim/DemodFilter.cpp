#include "sim/DemodFilter.h"

#include <algorithm>
#include <cmath>

namespace wg::sim {
namespace {

constexpr double kPi = 3.141592653589793238462643383279502884;

double AttenuationDb(double x) {
  if (x <= kFlatFraction) return 0;
  const double s = (x - kFlatFraction) / (1 - kFlatFraction);
  return kEdgeDb * s * s;
}

// The reach as a fraction of half the rate: where the attenuation reaches
// kStopDb.
const double kReach = kFlatFraction + (1 - kFlatFraction) * std::sqrt(kStopDb / kEdgeDb);

// Designed by sampling the wanted response finely and keeping the middle
// kTaps coefficients; the shape is smooth enough that no window is needed.
std::array<float, NoiseShaper::kTaps> Design() {
  constexpr size_t kTaps = NoiseShaper::kTaps;
  constexpr int kGrid = 2048;
  const double centre = (kTaps - 1) / 2.0;
  std::array<double, kTaps> h{};
  for (size_t n = 0; n < kTaps; ++n) {
    double s = 0;
    for (int k = 0; k < kGrid; ++k) {
      const double nu = k <= kGrid / 2 ? double(k) / kGrid : double(k) / kGrid - 1;
      s += std::pow(10.0, -AttenuationDb(2 * std::abs(nu)) / 20) *
           std::cos(2 * kPi * nu * (double(n) - centre));
    }
    h[n] = s / kGrid;
  }
  // Unit power over the flat middle of the band.
  double power = 0;
  constexpr int kLooks = 200;
  for (int i = 0; i <= kLooks; ++i) {
    const double nu = 0.3 * (double(i) / kLooks - 0.5);
    double re = 0, im = 0;
    for (size_t n = 0; n < kTaps; ++n) {
      re += h[n] * std::cos(2 * kPi * nu * (double(n) - centre));
      im -= h[n] * std::sin(2 * kPi * nu * (double(n) - centre));
    }
    power += re * re + im * im;
  }
  const double scale = 1 / std::sqrt(power / (kLooks + 1));
  std::array<float, kTaps> taps;
  for (size_t n = 0; n < kTaps; ++n) taps[n] = static_cast<float>(h[n] * scale);
  return taps;
}

constexpr size_t kChunk = 1024;

// One part (I or Q) through the symmetric FIR: x holds kTaps - 1 samples of
// history, then kChunk new ones. Tap by tap over a chunk of fixed length, so
// that the compiler vectorises the inner loop.
void Convolve(const float* x, float* y, const std::array<float, NoiseShaper::kTaps>& h) {
  constexpr size_t kTaps = NoiseShaper::kTaps;
  constexpr size_t kMid = (kTaps - 1) / 2;
  for (size_t i = 0; i < kChunk; ++i) y[i] = h[kMid] * x[i + kMid];
  for (size_t k = 0; k < kMid; ++k) {
    const float c = h[k];
    const float* a = x + k;
    const float* b = x + (kTaps - 1 - k);
    for (size_t i = 0; i < kChunk; ++i) y[i] += c * (a[i] + b[i]);
  }
}

}  // namespace

double FilterGain(double offsetHz, double rateHz) {
  const double x = std::abs(offsetHz) / (rateHz / 2);
  if (x <= kFlatFraction) return 1;
  if (x >= kReach) return 0;
  return std::pow(10.0, -AttenuationDb(x) / 20);
}

double FilterReachHz(double rateHz) { return kReach * rateHz / 2; }

const std::array<float, NoiseShaper::kTaps>& NoiseShaper::Taps() {
  static const std::array<float, kTaps> taps = Design();
  return taps;
}

void NoiseShaper::Apply(float* re, float* im, size_t n) {
  constexpr size_t kHist = kTaps - 1;
  const std::array<float, kTaps>& h = Taps();
  alignas(64) float x[kHist + kChunk];
  alignas(64) float y[kChunk];
  for (auto [data, hist] : {std::pair{re, &histRe_}, std::pair{im, &histIm_}}) {
    for (size_t done = 0; done < n;) {
      const size_t m = std::min(kChunk, n - done);
      std::copy(hist->begin(), hist->end(), x);
      std::copy(data + done, data + done + m, x + kHist);
      std::fill(x + kHist + m, x + kHist + kChunk, 0.0f);
      Convolve(x, y, h);
      std::copy(y, y + m, data + done);
      std::copy(x + m, x + m + kHist, hist->begin());
      done += m;
    }
  }
}

}  // namespace wg::sim
