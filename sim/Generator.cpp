#include "sim/Generator.h"

#include <algorithm>
#include <cmath>

namespace wg::sim {
namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr double kFullScale = 127.5;  // amplitude of a full-scale emitter, LSB
constexpr size_t kBlockSamples = 1024;
// The FM emitters change their frequency this often, which is plenty for
// modulation tones of a few kHz and keeps sin/cos out of the per-sample path.
constexpr double kFmUpdateHz = 100000;
constexpr double kAdcNoiseLsb = 1.8;
constexpr double kFrontEndNoiseLsb = 0.02;  // at 0 dB gain
// The demodulator's AGC aims at this RMS per part, in LSB.
constexpr double kAgcTargetLsb = 30;
constexpr double kAgcMaxGain = 31.6;  // 30 dB

uint64_t SplitMix(uint64_t& x) {
  uint64_t z = (x += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

inline uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// Adds a * z * w^i to sample i for i = 0..n-1 and leaves z at w^n times its
// old value. Four interleaved rotators, each stepping by w^4, so that the
// multiplications do not wait on one another.
void AddRotating(double* re, double* im, size_t n, double a, double& zr, double& zi, double wr,
                 double wi) {
  double r0 = zr * a, i0 = zi * a;
  double r1 = r0 * wr - i0 * wi, i1 = r0 * wi + i0 * wr;
  double r2 = r1 * wr - i1 * wi, i2 = r1 * wi + i1 * wr;
  double r3 = r2 * wr - i2 * wi, i3 = r2 * wi + i2 * wr;
  const double w2r = wr * wr - wi * wi, w2i = 2 * wr * wi;
  const double w4r = w2r * w2r - w2i * w2i, w4i = 2 * w2r * w2i;
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    re[i] += r0; im[i] += i0;
    re[i + 1] += r1; im[i + 1] += i1;
    re[i + 2] += r2; im[i + 2] += i2;
    re[i + 3] += r3; im[i + 3] += i3;
    double t;
    t = r0 * w4r - i0 * w4i; i0 = r0 * w4i + i0 * w4r; r0 = t;
    t = r1 * w4r - i1 * w4i; i1 = r1 * w4i + i1 * w4r; r1 = t;
    t = r2 * w4r - i2 * w4i; i2 = r2 * w4i + i2 * w4r; r2 = t;
    t = r3 * w4r - i3 * w4i; i3 = r3 * w4i + i3 * w4r; r3 = t;
  }
  for (; i < n; ++i) {
    re[i] += r0; im[i] += i0;
    const double t = r0 * wr - i0 * wi;
    i0 = r0 * wi + i0 * wr;
    r0 = t;
  }
  zr = r0 / a;
  zi = i0 / a;
}

inline uint8_t Quantise(double v) {
  double t = v + 0.5;
  if (t < 0) t = 0;
  if (t > 255) t = 255;
  return static_cast<uint8_t>(static_cast<int>(t));
}

}  // namespace

double NoiseLsb(double gainDb) {
  const double fe = kFrontEndNoiseLsb * std::pow(10.0, gainDb / 20.0);
  return std::sqrt(kAdcNoiseLsb * kAdcNoiseLsb + fe * fe);
}

Generator::Generator(std::vector<Emitter> scene, uint64_t seed)
    : scene_(std::move(scene)), state_(scene_.size()) {
  uint64_t s = seed;
  for (uint64_t& r : noiseRng_) r = SplitMix(s);
  for (uint64_t& r : fmRng_) r = SplitMix(s);
  // Gaussian values for the noise, by Box-Muller from the seeded generator.
  for (size_t i = 0; i < noise_.size(); i += 2) {
    const double u1 = (static_cast<double>(Next(noiseRng_) >> 11) + 1.0) * 0x1.0p-53;
    const double u2 = static_cast<double>(Next(noiseRng_) >> 11) * 0x1.0p-53;
    const double r = std::sqrt(-2.0 * std::log(u1));
    noise_[i] = static_cast<float>(r * std::cos(kTwoPi * u2));
    noise_[i + 1] = static_cast<float>(r * std::sin(kTwoPi * u2));
  }
  for (State& st : state_) {
    const double p = kTwoPi * static_cast<double>(Next(fmRng_) >> 11) * 0x1.0p-53;
    st.re = std::cos(p);
    st.im = std::sin(p);
  }
}

uint64_t Generator::Next(uint64_t* s) {
  // xoshiro256**
  const uint64_t result = Rotl(s[1] * 5, 7) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = Rotl(s[3], 45);
  return result;
}

void Generator::Fill(uint8_t* out, size_t n, const Reception& rx) {
  if (n == 0) return;
  if (carry_ >= 0) {
    *out++ = static_cast<uint8_t>(carry_);
    --n;
    carry_ = -1;
  }
  const size_t whole = n / 2;
  Samples(out, whole, rx);
  if (n & 1) {
    uint8_t last[2];
    Samples(last, 1, rx);
    out[2 * whole] = last[0];
    carry_ = last[1];
  }
}

void Generator::FillCounter(uint8_t* out, size_t n) {
  carry_ = -1;
  for (size_t i = 0; i < n; ++i) out[i] = counter_++;
}

void Generator::Samples(uint8_t* out, size_t count, const Reception& rx) {
  const double sigma = NoiseLsb(rx.gainDb);
  double t = rx.timeSec;
  while (count > 0) {
    const size_t n = std::min(count, kBlockSamples);
    Block(out, n, rx, sigma, t);
    t += static_cast<double>(n) / rx.rateHz;
    out += 2 * n;
    count -= n;
  }
}

void Generator::AddEmitter(size_t k, double* re, double* im, size_t count, const Reception& rx) {
  const Emitter& e = scene_[k];
  const double offset = e.frequencyHz - rx.centreHz;
  const double rate = rx.rateHz;
  const double half = rate / 2;
  // The band a block holds is [centre - half, centre + half): the lower edge
  // belongs to it and the upper edge to the next step up, so an emitter on a
  // step boundary shows in exactly one step. A frequency modulated emitter
  // counts wherever its swing reaches into the band. With the filter, what
  // lies just beyond an edge comes through too, folded to the other edge.
  const double swing = e.kind == EmitterKind::Carrier ? 0.0 : std::fabs(e.deviationHz);
  if (rx.filter) {
    const double reach = FilterReachHz(rate);
    if (!(offset + swing > -reach && offset - swing < reach)) return;
  } else if (!(offset + swing >= -half && offset - swing < half)) {
    return;
  }
  State& st = state_[k];
  const double a = kFullScale * std::pow(10.0, (e.levelDb + rx.gainDb) / 20.0);
  if (!(a > 0) || !std::isfinite(a)) return;
  if (e.kind == EmitterKind::Carrier || e.deviationHz == 0) {
    const double g = rx.filter ? FilterGain(offset, rate) : 1.0;
    if (!(g > 0)) return;
    const double step = kTwoPi * offset / rate;
    AddRotating(re, im, count, a * g, st.re, st.im, std::cos(step), std::sin(step));
  } else {
    const size_t stretch = std::max<size_t>(1, static_cast<size_t>(rate / kFmUpdateHz));
    const double dt = stretch / rate;
    // Two modulation tones and a slow wander, as speech or music would
    // move the frequency about.
    const double f1 = e.kind == EmitterKind::Fm ? 1000 : 700;
    const double f2 = e.kind == EmitterKind::Fm ? 2700 : 1900;
    for (size_t off = 0; off < count;) {
      if (st.stretchLeft == 0) {
        const double m = 0.5 * std::sin(st.tone1) + 0.3 * std::sin(st.tone2) + 0.2 * st.wander;
        st.tone1 = std::fmod(st.tone1 + kTwoPi * f1 * dt, kTwoPi);
        st.tone2 = std::fmod(st.tone2 + kTwoPi * f2 * dt, kTwoPi);
        const double u = static_cast<double>(Next(fmRng_) >> 11) * 0x1.0p-52 - 1.0;  // -1..1
        st.wander = std::clamp(0.97 * st.wander + 0.25 * u, -1.0, 1.0);
        const double f = offset + e.deviationHz * m;
        const double step = kTwoPi * f / rate;
        st.wr = std::cos(step);
        st.wi = std::sin(step);
        // Swung out of the band, the stick's filter stops it; the phase
        // runs on so that it comes back continuous.
        st.gain = rx.filter ? FilterGain(f, rate) : (f >= -half && f < half ? 1.0 : 0.0);
        st.stretchLeft = stretch;
      }
      const size_t n = std::min(st.stretchLeft, count - off);
      if (st.gain > 0) {
        AddRotating(re + off, im + off, n, a * st.gain, st.re, st.im, st.wr, st.wi);
      } else {
        const double turn = std::atan2(st.wi, st.wr) * static_cast<double>(n);
        const double cr = std::cos(turn), ci = std::sin(turn);
        const double zr = st.re * cr - st.im * ci;
        st.im = st.re * ci + st.im * cr;
        st.re = zr;
      }
      st.stretchLeft -= n;
      off += n;
    }
  }
  const double len = std::hypot(st.re, st.im);
  if (len > 0) {
    st.re /= len;
    st.im /= len;
  }
}

void Generator::Block(uint8_t* out, size_t count, const Reception& rx, double sigma, double timeSec) {
  alignas(64) double re[kBlockSamples];
  alignas(64) double im[kBlockSamples];
  std::fill(re, re + count, 0.0);
  std::fill(im, im + count, 0.0);
  for (size_t k = 0; k < scene_.size(); ++k) {
    const Emitter& e = scene_[k];
    if (rx.inputBelowHz > 0 && e.frequencyHz >= rx.inputBelowHz) continue;
    if (!EmitterOn(e, timeSec)) continue;
    AddEmitter(k, re, im, count, rx);
  }

  alignas(64) float ni[kBlockSamples];
  alignas(64) float nq[kBlockSamples];
  constexpr uint64_t kMask = (1u << kNoiseBits) - 1;
  for (size_t i = 0; i < count; ++i) {
    if (noiseLeft_ < 2) {
      noiseBits_ = Next(noiseRng_);
      noiseLeft_ = 64 / kNoiseBits;
    }
    ni[i] = noise_[noiseBits_ & kMask];
    nq[i] = noise_[(noiseBits_ >> kNoiseBits) & kMask];
    noiseBits_ >>= 2 * kNoiseBits;
    noiseLeft_ -= 2;
  }
  if (rx.filter) shaper_.Apply(ni, nq, count);

  const double dcI = rx.dcOffset ? kDcOffsetI : 0.0;
  const double dcQ = rx.dcOffset ? kDcOffsetQ : 0.0;
  double g = 1.0;
  if (rx.agc) {
    // The demodulator's AGC scales the block toward a fixed level, never
    // down and never by more than kAgcMaxGain.
    double power = 0;
    for (size_t i = 0; i < count; ++i) power += re[i] * re[i] + im[i] * im[i];
    const double rms = std::sqrt(power / (2.0 * static_cast<double>(count)) + sigma * sigma);
    g = std::clamp(kAgcTargetLsb / rms, 1.0, kAgcMaxGain);
  }
  // With the gain at 1 and no offset this is exactly the sum it always was,
  // so a scene without the filter gives the same bytes as ever.
  const double gs = g * sigma;
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = Quantise(kFullScale + g * (re[i] + dcI) + gs * ni[i]);
    out[2 * i + 1] = Quantise(kFullScale + g * (im[i] + dcQ) + gs * nq[i]);
  }
}

}  // namespace wg::sim
