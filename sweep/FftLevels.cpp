#include "sweep/FftLevels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace wg {
namespace {

struct WindowTerms {
  double a0, a1, a2, a3;
};

bool Terms(int windowType, WindowTerms& t) {
  switch (windowType) {
    case 1: t = {0.42323, 0.49755, 0.07922, 0.0}; return true;
    case 2: t = {0.44959, 0.49364, 0.05677, 0.0}; return true;
    case 3: t = {0.35875, 0.48829, 0.14128, 0.01168}; return true;
    case 4: t = {0.40217, 0.49703, 0.09392, 0.00183}; return true;
    case 5: t = {1.0, 0.0, 0.0, 0.0}; return true;
    default: return false;
  }
}

// The one butterfly both routines use, so that they compute the same doubles.
inline void Butterfly(double* re, double* im, int k, int m, double wr, double wi) {
  const double tr = re[k] - re[m];
  const double ti = im[k] - im[m];
  re[k] = re[k] + re[m];
  im[k] = im[k] + im[m];
  re[m] = tr * wr - ti * wi;
  im[m] = tr * wi + ti * wr;
}

inline void TwiddleAdvance(double& wr, double& wi, double sr, double si) {
  const double t = wr * sr - wi * si;
  wi = wr * si + wi * sr;
  wr = t;
}

// Level of a magnitude before the reference is taken off.
inline double RawLevel(double mag) {
  if (mag == 0.0) mag = kMagnitudeFloor;
  return 20.0 * std::log10(mag / kLevelReference);
}

long ReadEnd(size_t blockSize, long countRead) {
  return countRead > static_cast<long>(blockSize) ? static_cast<long>(blockSize) : countRead;
}

const uint8_t* SampleWindow(const uint8_t* block, size_t blockSize, long countRead) {
  const long end = ReadEnd(blockSize, countRead);
  if (end < kSpectrumBytes) return block;
  return block + (end - kSpectrumBytes);
}

// Tables for the 4096-point forward transform, holding exactly the doubles
// the plain routine computes: the window values and the twiddle factors in the
// order the recurrence produces them, stage after stage.
struct Tables {
  std::array<double, kFftSize> window;
  std::vector<double> twr, twi;  // stage L = N, N/2, ..., 2: h entries each
  std::array<uint16_t, kFftSize> reversed;

  Tables() {
    for (int i = 0; i < kFftSize; ++i) window[i] = WindowCoefficient(kWindowType, i, kFftSize);
    for (int L = kFftSize; L >= 2; L /= 2) {
      const int h = L / 2;
      const double theta = M_PI / h;
      const double sr = std::cos(theta), si = -1.0 * std::sin(theta);
      double wr = 1.0, wi = 0.0;
      for (int j = 0; j < h; ++j) {
        twr.push_back(wr);
        twi.push_back(wi);
        TwiddleAdvance(wr, wi, sr, si);
      }
    }
    for (int i = 0; i < kFftSize; ++i) reversed[i] = static_cast<uint16_t>(i);
    // Replay the reference's swaps on the identity to learn where each element ends up.
    int j = 0;
    for (int i = 0; i < kFftSize - 1; ++i) {
      if (i < j) std::swap(reversed[i], reversed[j]);
      int m = kFftSize / 2;
      while (m >= 1 && m <= j) {
        j -= m;
        m /= 2;
      }
      j += m;
    }
  }
};

const Tables& GetTables() {
  // Never destroyed: a worker left to finish its block may still be
  // transforming while the program's statics are torn down.
  static const Tables* t = new Tables;
  return *t;
}

}  // namespace

double WindowCoefficient(int windowType, int i, int N) {
  WindowTerms t;
  if (!Terms(windowType, t)) return 1.0;
  const double step = 2.0 * M_PI / N;
  return t.a0 - t.a1 * std::cos(step * i) + t.a2 * std::cos(2.0 * step * i) -
         t.a3 * std::cos(3.0 * step * i);
}

void FFT(double* re, double* im, int& N, int windowType, int direction) {
  // N := 2 * (smallest power of two >= N div 2).
  int half = N / 2, p = 1;
  while (p < half) p *= 2;
  N = 2 * p;

  WindowTerms terms;
  if (Terms(windowType, terms)) {
    for (int i = 0; i < N; ++i) {
      const double w = WindowCoefficient(windowType, i, N);
      re[i] *= w;
      im[i] *= w;
    }
  }

  const double d = direction;
  for (int L = N; L >= 2; L /= 2) {
    const int h = L / 2;
    const double theta = M_PI / h;
    const double sr = std::cos(theta), si = -d * std::sin(theta);
    double wr = 1.0, wi = 0.0;
    for (int j = 0; j < h; ++j) {
      for (int k = j; k < N; k += L) Butterfly(re, im, k, k + h, wr, wi);
      TwiddleAdvance(wr, wi, sr, si);
    }
  }

  int j = 0;
  for (int i = 0; i < N - 1; ++i) {
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
    int m = N / 2;
    while (m >= 1 && m <= j) {
      j -= m;
      m /= 2;
    }
    j += m;
  }
}

double CentreReferenceLevel() {
  // Computed once through the plain routine, so it follows the window and
  // the level formula rather than a number typed in.
  static const double level = [] {
    std::vector<double> re(kFftSize, kByteMidScale), im(kFftSize, kByteMidScale);
    int N = kFftSize;
    FFT(re.data(), im.data(), N, kWindowType, +1);
    return RawLevel(std::sqrt(re[0] * re[0] + im[0] * im[0]));
  }();
  return level;
}

double NoiseBandwidthBins() {
  static const double bins = [] {
    double sum = 0, squares = 0;
    for (int i = 0; i < kFftSize; ++i) {
      const double w = WindowCoefficient(kWindowType, i, kFftSize);
      sum += w;
      squares += w * w;
    }
    return kFftSize * squares / (sum * sum);
  }();
  return bins;
}

void SpectrumOfBlockReference(const uint8_t* block, size_t blockSize, long countRead, double* out) {
  const uint8_t* s = SampleWindow(block, blockSize, countRead);
  std::vector<double> re(kFftSize), im(kFftSize);
  for (int n = 0; n < kFftSize; ++n) {
    re[n] = s[2 * n] - kByteMidScale;
    im[n] = s[2 * n + 1] - kByteMidScale;
  }
  int N = kFftSize;
  FFT(re.data(), im.data(), N, kWindowType, +1);
  const double ref = CentreReferenceLevel();
  for (int g = 0; g < kFftSize; ++g) {
    const int k = (g + kFftSize / 2) % kFftSize;
    out[g] = RawLevel(std::sqrt(re[k] * re[k] + im[k] * im[k])) - ref;
  }
}

namespace {

// The windowed transform of 8192 bytes with the cached tables. The result is
// left in bit-reversed order; Tables::reversed says where each bin is.
void FastTransform(const Tables& t, const uint8_t* s, double* re, double* im) {
  for (int n = 0; n < kFftSize; ++n) {
    re[n] = (s[2 * n] - kByteMidScale) * t.window[n];
    im[n] = (s[2 * n + 1] - kByteMidScale) * t.window[n];
  }
  // Same butterflies and twiddles as the reference; only the loop order
  // differs, which cannot change any result because each butterfly reads and
  // writes its own pair of elements.
  const double* twr = t.twr.data();
  const double* twi = t.twi.data();
  for (int L = kFftSize; L >= 2; L /= 2) {
    const int h = L / 2;
    for (int base = 0; base < kFftSize; base += L) {
      double* rk = re + base;
      double* ik = im + base;
      double* rm = rk + h;
      double* im2 = ik + h;
      for (int j = 0; j < h; ++j) {
        const double tr = rk[j] - rm[j];
        const double ti = ik[j] - im2[j];
        rk[j] = rk[j] + rm[j];
        ik[j] = ik[j] + im2[j];
        rm[j] = tr * twr[j] - ti * twi[j];
        im2[j] = tr * twi[j] + ti * twr[j];
      }
    }
    twr += h;
    twi += h;
  }
}

}  // namespace

void SpectrumOfBlock(const uint8_t* block, size_t blockSize, long countRead, double* out) {
  const Tables& t = GetTables();
  alignas(64) double re[kFftSize];
  alignas(64) double im[kFftSize];
  FastTransform(t, SampleWindow(block, blockSize, countRead), re, im);
  const double ref = CentreReferenceLevel();
  for (int g = 0; g < kFftSize; ++g) {
    const int k = t.reversed[(g + kFftSize / 2) % kFftSize];
    out[g] = RawLevel(std::sqrt(re[k] * re[k] + im[k] * im[k])) - ref;
  }
}

void AveragedSpectrumOfBlock(const uint8_t* block, size_t blockSize, long countRead, double* out) {
  const long end = ReadEnd(blockSize, countRead);
  const long pieces = std::min<long>(kAveragedTransforms, end / kSpectrumBytes);
  if (pieces < 1) {
    SpectrumOfBlock(block, blockSize, countRead, out);
    return;
  }
  const Tables& t = GetTables();
  alignas(64) double re[kFftSize];
  alignas(64) double im[kFftSize];
  alignas(64) double power[kFftSize] = {};
  const uint8_t* s = block + (end - pieces * kSpectrumBytes);
  for (long p = 0; p < pieces; ++p, s += kSpectrumBytes) {
    FastTransform(t, s, re, im);
    for (int k = 0; k < kFftSize; ++k) power[k] += re[k] * re[k] + im[k] * im[k];
  }
  const double ref = CentreReferenceLevel();
  const double scale = 1.0 / static_cast<double>(pieces);
  for (int g = 0; g < kFftSize; ++g) {
    const int k = t.reversed[(g + kFftSize / 2) % kFftSize];
    out[g] = RawLevel(std::sqrt(power[k] * scale)) - ref;
  }
}

}  // namespace wg
