#include "sim/Tuner.h"

#include <rtl-sdr.h>

#include <iterator>

namespace wg::sim {
namespace {

constexpr int kE4000Gains[] = {-10, 15, 40, 65, 90, 115, 140, 165, 190, 215, 240, 290, 340, 420};

}  // namespace

const TunerModel& TunerOf(TunerKind kind) {
  static const TunerModel r820t{TunerKind::R820t, RTLSDR_TUNER_R820T, kR820tGains, kGainCount,
                                kAutoGainTenths, kTunerMinHz, kTunerMaxHz, 0, 0, false};
  static const TunerModel e4000{TunerKind::E4000, RTLSDR_TUNER_E4000, kE4000Gains,
                                static_cast<int>(std::size(kE4000Gains)), 240,
                                52000000, 2200000000u, 1100000000u, 1250000000u, true};
  return kind == TunerKind::E4000 ? e4000 : r820t;
}

bool TunerLocks(const TunerModel& tuner, uint32_t hz) {
  if (hz < tuner.minHz || hz > tuner.maxHz) return false;
  return !(hz > tuner.gapLowHz && hz < tuner.gapHighHz);
}

bool SampleRateAccepted(uint32_t rate) {
  if (rate <= 225000 || rate > 3200000) return false;
  return !(rate > 300000 && rate <= 900000);
}

uint32_t ResampledRate(uint32_t xtalHz, uint32_t rate) {
  if (rate == 0) return 0;
  constexpr double kTwoPow22 = 4194304.0;
  const double scaled = static_cast<double>(xtalHz) * kTwoPow22;
  const double ratioExact = scaled / rate;
  if (ratioExact >= 4294967296.0) return 0;
  uint32_t ratio = static_cast<uint32_t>(ratioExact);
  ratio &= 0x0ffffffcu;
  // Bit 27 of the register doubles as bit 28: slow rates need a ratio
  // above 2^28.
  const uint32_t realRatio = ratio | ((ratio & 0x08000000u) << 1);
  if (realRatio == 0) return 0;
  return static_cast<uint32_t>(scaled / realRatio);
}

uint32_t ApplyPpm(uint32_t hz, int ppm) {
  const double v = hz * (1.0 + ppm / 1e6);
  if (v <= 0) return 0;
  if (v >= 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(v);
}

int SettledGainTenths(const TunerModel& tuner, int requested) {
  for (int i = 0; i < tuner.gainCount; ++i)
    if (tuner.gains[i] >= requested) return tuner.gains[i];
  return tuner.gains[tuner.gainCount - 1];
}

uint32_t OffsetTuningHz(uint32_t rate) { return (rate / 2) * 170 / 100; }

}  // namespace wg::sim
