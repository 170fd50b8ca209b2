#include "sweep/Sweep.h"

#include <algorithm>
#include <limits>

#include "runtime/ReleaseAside.h"

namespace wg {

std::shared_ptr<Sweep> NewSweep() {
  return std::shared_ptr<Sweep>(new Sweep, [](Sweep* s) {
    if (s->levels.capacity() * sizeof(float) + s->stepStarts.capacity() * sizeof(int64_t) < rt::kLargeBlockBytes)
      delete s;
    else
      rt::ReleaseAside(std::unique_ptr<Sweep>(s));
  });
}

std::vector<float> SummariseBlocks(const std::vector<float>& levels, int pointsPerStep) {
  std::vector<float> out;
  if (pointsPerStep <= 0) return out;
  const std::size_t per = static_cast<std::size_t>(pointsPerStep);
  const std::size_t blocksPerStep = (per + kSummaryPoints - 1) / kSummaryPoints;
  const std::size_t steps = levels.size() / per;
  out.resize(2 * steps * blocksPerStep);
  float* o = out.data();
  for (std::size_t s = 0; s < steps; ++s) {
    const float* step = levels.data() + s * per;
    for (std::size_t b = 0; b < per; b += kSummaryPoints) {
      const std::size_t end = std::min(per, b + kSummaryPoints);
      float low = step[b], high = step[b];
      bool gap = false;
      for (std::size_t i = b; i < end; ++i) {
        const float y = step[i];
        gap |= y != y;
        low = y < low ? y : low;
        high = y > high ? y : high;
      }
      if (gap) low = high = std::numeric_limits<float>::quiet_NaN();
      *o++ = low;
      *o++ = high;
    }
  }
  return out;
}

}  // namespace wg
