// The sample stream of the simulated stick: the scene's emitters as they
// appear around the tuned centre, plus receiver noise, quantised to the
// RTL2832U's interleaved unsigned 8-bit I/Q bytes around 127.5.
#pragma once

#include "sim/DemodFilter.h"
#include "sim/Scene.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace wg::sim {

// What the receiver is set to while a stretch of samples is taken.
struct Reception {
  double centreHz = 0;
  double rateHz = 0;
  double gainDb = 0;
  // Seconds since the simulator was loaded at the stretch's first sample;
  // keyed emitters follow it.
  double timeSec = 0;
  bool filter = false;    // the demodulator's roll-off and folding at the edges
  bool dcOffset = false;  // the converter's DC offset shows at the centre
  bool agc = false;       // the demodulator's digital AGC
  // Only emitters below this reach the input (direct sampling's HF input);
  // 0: all of them.
  double inputBelowHz = 0;
};

// Standard deviation of the noise in LSB for a tuner gain: the converter's
// own noise, plus the front end's, which grows with the gain.
double NoiseLsb(double gainDb);

class Generator {
 public:
  Generator(std::vector<Emitter> scene, uint64_t seed);

  // Delivers the next n bytes of the stream. A stretch may end between the I
  // and the Q byte of a sample; the next one goes on with that Q byte.
  // Every emitter keeps its phase from one stretch to the next.
  void Fill(uint8_t* out, size_t n, const Reception& rx);

  // The demodulator's test mode: an 8-bit counter, one step per byte, that
  // runs on across calls.
  void FillCounter(uint8_t* out, size_t n);

  const std::vector<Emitter>& Scene() const { return scene_; }

 private:
  struct State {
    double re = 1, im = 0;        // phase of the emitter, unit length
    double tone1 = 0, tone2 = 0;  // phases of the FM modulation tones, radians
    double wander = 0;            // slow random part of the FM modulation
    // The FM emitters hold each frequency for a short stretch of samples;
    // the stretches run on across calls, so where a read ends changes nothing.
    size_t stretchLeft = 0;
    double wr = 1, wi = 0;  // phase step during the current stretch
    double gain = 1;        // the filter's, at the current stretch's frequency
  };

  void Samples(uint8_t* out, size_t count, const Reception& rx);
  void Block(uint8_t* out, size_t count, const Reception& rx, double sigma, double timeSec);
  void AddEmitter(size_t k, double* re, double* im, size_t count, const Reception& rx);
  static uint64_t Next(uint64_t* rng);

  std::vector<Emitter> scene_;
  std::vector<State> state_;
  uint64_t noiseRng_[4];
  uint64_t fmRng_[4];  // its own stream, so the noise does not depend on the FM
  static constexpr int kNoiseBits = 12;
  std::array<float, 1u << kNoiseBits> noise_;
  uint64_t noiseBits_ = 0;
  int noiseLeft_ = 0;
  int carry_ = -1;  // Q byte of a sample whose I byte ended the last stretch
  uint8_t counter_ = 0;
  NoiseShaper shaper_;
};

}  // namespace wg::sim
