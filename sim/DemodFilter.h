// The RTL2832U's decimation filter as a stick's output shows it: levels roll
// off over the outer part of the band, what lies just beyond an edge folds
// back in from the other edge (the sampled band wraps at the sample rate),
// and the converter's DC offset leaves a spike at the centre.
#pragma once

#include <array>
#include <cstddef>

namespace wg::sim {

// The response is flat out to this fraction of half the sample rate...
constexpr double kFlatFraction = 0.7;
// ...and falls by this much, quadratically in dB, from there to the edge:
// about 2 dB at 80 %, 9 dB at 90 %.
constexpr double kEdgeDb = 20;
// Beyond the edge it goes on falling; past this it lets nothing through
// (about 26 % beyond the edge).
constexpr double kStopDb = 70;

// The DC offset the converter adds, in LSB of the I and Q bytes: about
// -54 dB of full scale, a spike some 20 dB over the noise of a 4096-point
// spectrum.
constexpr double kDcOffsetI = 0.2;
constexpr double kDcOffsetQ = -0.15;

// Amplitude gain for something `offsetHz` from the tuned centre at sample
// rate `rateHz`; 0 where the filter stops it.
double FilterGain(double offsetHz, double rateHz);

// How far from the centre anything still comes through, in Hz.
double FilterReachHz(double rateHz);

// Shapes the receiver noise like everything else that passes the filter: a
// short symmetric FIR whose response follows FilterGain inside the band, at
// unit power in the flat part so the noise floor there stays where it is.
class NoiseShaper {
 public:
  static constexpr size_t kTaps = 21;

  // Filters n samples of white noise in place, carrying the last kTaps - 1
  // inputs over to the next call so the noise runs on across blocks.
  void Apply(float* re, float* im, size_t n);

  static const std::array<float, kTaps>& Taps();

 private:
  std::array<float, kTaps - 1> histRe_{};
  std::array<float, kTaps - 1> histIm_{};
};

}  // namespace wg::sim
