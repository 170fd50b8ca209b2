// What the simulated stick is made of: an RTL2832U demodulator with a 28.8 MHz
// crystal and a tuner, a Rafael Micro R820T unless an Elonics E4000 is asked
// for. The arithmetic here repeats what the real library does with the same
// inputs, so that values read back from the simulator equal those a real
// stick reports.
#pragma once

#include <cstdint>

namespace wg::sim {

constexpr uint32_t kXtalHz = 28800000;
// The library refuses a crystal further than this from the nominal one.
constexpr uint32_t kXtalToleranceHz = 1000;

// The R820T's gain steps in tenths of a dB, lowest first.
constexpr int kGainCount = 29;
constexpr int kR820tGains[kGainCount] = {0,   9,   14,  27,  37,  77,  87,  125, 144, 157,
                                         166, 197, 207, 229, 254, 280, 297, 328, 338, 364,
                                         372, 386, 402, 421, 434, 439, 445, 480, 496};
// With automatic gain the tuner's own loop picks the gain; the simulator
// holds it at this middle step.
constexpr int kAutoGainTenths = 254;

// Range over which the R820T's synthesiser locks.
constexpr uint32_t kTunerMinHz = 24000000;
constexpr uint32_t kTunerMaxHz = 1766000000;

enum class TunerKind { R820t, E4000 };

struct TunerModel {
  TunerKind kind;
  int type;  // enum rtlsdr_tuner
  const int* gains;
  int gainCount;
  int autoGainTenths;
  uint32_t minHz, maxHz;
  // Frequencies in between where the synthesiser does not lock (the E4000's
  // L-band gap); both 0 for none.
  uint32_t gapLowHz, gapHighHz;
  // Zero-IF tuners can tune off the band and mix back, which moves the
  // converter's DC offset out of the band; the R820T works at a low IF and
  // the library refuses offset tuning for it.
  bool offsetTuning;
};

const TunerModel& TunerOf(TunerKind kind);

// Whether the tuner's synthesiser locks at `hz`.
bool TunerLocks(const TunerModel& tuner, uint32_t hz);

// The resampler accepts 225001..300000 Hz and 900001..3200000 Hz.
bool SampleRateAccepted(uint32_t rate);

// The rate the resampler really runs at when asked for `rate` with crystal
// `xtalHz` (its ratio register drops the low bits): 3200000 stays 3200000,
// 1000000 too, 2500000 becomes 2500000 (truncated from 2500000.1).
uint32_t ResampledRate(uint32_t xtalHz, uint32_t rate);

// A frequency corrected by `ppm` parts per million, truncated to whole Hz.
uint32_t ApplyPpm(uint32_t hz, int ppm);

// The gain step the tuner settles on for a requested gain: the smallest step
// at or above it, or the highest step.
int SettledGainTenths(const TunerModel& tuner, int requested);

// The library's offset for offset tuning: 1.7 times half the sample rate,
// which puts the tuner's DC offset well outside the band.
uint32_t OffsetTuningHz(uint32_t rate);

}  // namespace wg::sim
