#include "sweep/SignalFinder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sweep/CroppedPlan.h"

namespace wg {
namespace {

// The floor's median is counted in a histogram of levels in steps of 1/64 dB:
// far finer than any level is worth, and it lets the window slide by one
// point at constant cost however wide it is.
constexpr double kQuantaPerDb = 64;
constexpr double kLowestDb = -300, kHighestDb = 100;
constexpr int kHistBins = static_cast<int>((kHighestDb - kLowestDb) * kQuantaPerDb);
// The floor moves little over a few bins of a window of hundreds; taking it
// once per kFloorStride points saves most of the median's upkeep.
constexpr size_t kFloorShift = 3;
constexpr size_t kFloorStride = size_t{1} << kFloorShift;
// Bins below the detection level that may interrupt one signal: the bins of
// a modulated signal in a single transform scatter widely around their mean.
constexpr size_t kMergeGap = 2;
// How rarely pure noise may cross the threshold, per bin.
constexpr double kNoiseBinOdds = 1e-10;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

inline int Quantum(float v) {
  const double q = (static_cast<double>(v) - kLowestDb) * kQuantaPerDb;
  if (!(q > 0)) return 0;
  return q >= kHistBins - 1 ? kHistBins - 1 : static_cast<int>(q);
}

// log of the chance that noise power averaged over k transforms (mean 1)
// exceeds x: e^(-kx) * sum_{j<k} (kx)^j / j!, summed in logarithms.
double LogSurvival(int k, double x) {
  const double kx = k * x;
  double best = -kx, sum = 0;
  std::vector<double> terms(static_cast<size_t>(k));
  for (int j = 0; j < k; ++j) {
    terms[static_cast<size_t>(j)] = j * std::log(kx) - kx - std::lgamma(j + 1.0);
    best = std::max(best, terms[static_cast<size_t>(j)]);
  }
  for (double t : terms) sum += std::exp(t - best);
  return best + std::log(sum);
}

// The x at which LogSurvival(k, x) falls to logP; it falls with x.
double SurvivalPoint(int k, double logP) {
  double lo = 1e-9, hi = 1.0;
  while (LogSurvival(k, hi) > logP) hi *= 2;
  for (int i = 0; i < 100; ++i) {
    const double mid = std::sqrt(lo * hi);
    (LogSurvival(k, mid) > logP ? lo : hi) = mid;
  }
  return std::sqrt(lo * hi);
}

}  // namespace

double TSignalInput::Frequency(size_t i) const {
  const size_t pps = static_cast<size_t>(pointsPerStep);
  return static_cast<double>(stepStarts[i / pps]) + static_cast<double>(i % pps) * binWidth;
}

size_t TSignalInput::IndexOf(double f) const {
  if (stepStarts.empty() || !(binWidth > 0) || !std::isfinite(f)) return count;
  const auto after = std::upper_bound(stepStarts.begin(), stepStarts.end(), f + binWidth / 2,
                                      [](double v, int64_t s) { return v < static_cast<double>(s); });
  if (after == stepStarts.begin()) return count;
  const size_t step = static_cast<size_t>(after - stepStarts.begin()) - 1;
  const double g = std::floor((f - static_cast<double>(stepStarts[step])) / binWidth + 0.5);
  if (g < 0 || g >= pointsPerStep) return count;
  const size_t i = step * static_cast<size_t>(pointsPerStep) + static_cast<size_t>(g);
  return i < count ? i : count;
}

double NoiseGuardDb(int transforms) {
  const int k = std::clamp(transforms, 1, 100000);
  const double median = SurvivalPoint(k, std::log(0.5));
  const double rare = SurvivalPoint(k, std::log(kNoiseBinOdds));
  return 10 * std::log10(rare / median);
}

void TSignalFinder::ComputeFloor(const float* lv, size_t n, int window) {
  hist_.assign(kHistBins, 0);
  floor_.assign((n + kFloorStride - 1) >> kFloorShift, kNaN);
  const size_t half = static_cast<size_t>(std::max(window, 1)) / 2;
  const size_t fewest = std::clamp<size_t>(half, 1, 64);
  size_t lo = 0, hi = 0;  // points lo..hi-1 are in the histogram
  int32_t* hist = hist_.data();
  size_t m = 0, below = 0;  // points counted; points in bins under cur
  int cur = 0;
  for (size_t k = 0; k < floor_.size(); ++k) {
    const size_t c = std::min(n - 1, (k << kFloorShift) + kFloorStride / 2);
    const size_t newLo = c > half ? c - half : 0, newHi = std::min(n, c + half + 1);
    for (; hi < newHi; ++hi) {
      if (std::isnan(lv[hi])) continue;
      const int b = Quantum(lv[hi]);
      ++hist[b], ++m;
      if (b < cur) ++below;
    }
    for (; lo < newLo; ++lo) {
      if (std::isnan(lv[lo])) continue;
      const int b = Quantum(lv[lo]);
      --hist[b], --m;
      if (b < cur) --below;
    }
    if (m < fewest) continue;
    const size_t rank = (m - 1) / 2;
    while (below > rank) below -= static_cast<size_t>(hist[--cur]);
    while (below + static_cast<size_t>(hist[cur]) <= rank) below += static_cast<size_t>(hist[cur++]);
    floor_[k] = static_cast<float>(kLowestDb + (cur + 0.5) / kQuantaPerDb);
  }
}

float TSignalFinder::FloorAt(size_t i) const {
  const size_t k = i >> kFloorShift;
  return k < floor_.size() ? floor_[k] : kNaN;
}

std::vector<TDetection> TSignalFinder::Find(const TSignalInput& in, const TSignalSettings& settings) {
  std::vector<TDetection> out;
  const size_t n = in.count;
  if (n == 0 || !in.levels || in.pointsPerStep <= 0 || !(in.binWidth > 0) ||
      in.stepStarts.size() * static_cast<size_t>(in.pointsPerStep) < n)
    return out;
  const float* lv = in.levels;
  ComputeFloor(lv, n, settings.floorWindow);

  if (guardFor_ != in.transformsAveraged) {
    guardFor_ = in.transformsAveraged;
    guardDb_ = NoiseGuardDb(guardFor_);
  }
  const double thr = std::max(settings.thresholdDb, guardDb_);
  const double low = std::max(thr - 6, thr / 2);

  // Searched: the points of the scan range; the steps lie in order.
  size_t first = n, end = 0;
  const size_t pps = static_cast<size_t>(in.pointsPerStep);
  for (size_t base = 0, j = 0; base < n; base += pps, ++j) {
    const double s = static_cast<double>(in.stepStarts[j]);
    const double cnt = static_cast<double>(std::min(pps, n - base));
    const double gLo = std::clamp(std::ceil((static_cast<double>(in.start) - s) / in.binWidth), 0.0, cnt);
    const double gHi = std::clamp(std::ceil((static_cast<double>(in.stop) - s) / in.binWidth), 0.0, cnt);
    if (gLo >= gHi) continue;
    first = std::min(first, base + static_cast<size_t>(gLo));
    end = std::max(end, base + static_cast<size_t>(gHi));
  }

  // Every stick's DC offset lights the bins at each step's centre some 20 dB
  // over the noise. Unless mended, they neither start a signal nor become its
  // peak or part of its span, but do not split a signal that covers them: a
  // carrier beside the spike is still found, the spike alone never.
  const size_t dcMiddle = pps / 2;
  const bool skipDc = !in.centreMended && pps > 2 * static_cast<size_t>(kDcSpread) + 2;
  auto dc = [&](size_t i) {
    const size_t g = i % pps;
    const size_t spread = static_cast<size_t>(kDcSpread);
    return skipDc && g + spread >= dcMiddle && g <= dcMiddle + spread;
  };

  // The span of the signal's bins within 6 dB of its peak, widened to where
  // the level crosses peak - 6 dB: its middle is the peak's frequency for a
  // carrier and the centre of a wide signal, whose bins in one transform
  // scatter too much for the strongest of them to say where it is.
  auto measure = [&](size_t a, size_t b, size_t p) {
    const double peak = lv[p];
    const float cut = static_cast<float>(peak - 6);
    size_t l = p, r = p;
    for (size_t i = a; i <= b; ++i)
      if (lv[i] >= cut && !dc(i)) l = std::min(l, i), r = std::max(r, i);
    while (l > 0 && lv[l - 1] >= cut && !dc(l - 1)) --l;
    while (r + 1 < n && lv[r + 1] >= cut && !dc(r + 1)) ++r;
    auto beyond = [&](size_t inside, size_t outside) {  // in bins, 0..1
      const double d = static_cast<double>(lv[inside]) - lv[outside];
      return d > 0 ? std::min(1.0, (lv[inside] - cut) / d) : 0.5;
    };
    const double left = in.Frequency(l) - in.binWidth * (l > 0 ? beyond(l, l - 1) : 0.5);
    const double right = in.Frequency(r) + in.binWidth * (r + 1 < n ? beyond(r, r + 1) : 0.5);
    out.push_back({(left + right) / 2, peak, static_cast<double>(FloorAt(p)), right - left});
  };

  bool open = false, strong = false;
  size_t a = 0, last = 0, p = 0;  // region start, its last bin above `low`, its peak
  for (size_t i = first; i < end; ++i) {
    const float v = lv[i], fl = floor_[i >> kFloorShift];
    const bool nan = std::isnan(v) || std::isnan(fl);
    const bool above = !nan && v - fl >= low;
    if (!open && !above) continue;  // most bins: the division below is spared them
    if (dc(i)) {
      if (open) last = i;  // bridged, not counted as a gap
      continue;
    }
    if (open && (nan || (!above && i - last > kMergeGap))) {
      if (strong) measure(a, last, p);
      open = false;
    }
    if (!above) continue;
    if (!open) open = true, strong = false, a = i, p = i;
    last = i;
    if (v > lv[p]) p = i;
    if (v - fl >= thr) strong = true;
  }
  if (open && strong) measure(a, last, p);
  return out;
}

}  // namespace wg
