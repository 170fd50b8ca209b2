#include "sim/Tuner.h"

namespace wg::sim {

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

int SettledGainTenths(int requested) {
  for (int g : kR820tGains)
    if (g >= requested) return g;
  return kR820tGains[kGainCount - 1];
}

}  // namespace wg::sim
