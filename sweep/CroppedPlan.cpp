#include "sweep/CroppedPlan.h"

#include <algorithm>
#include <cmath>

#include "runtime/NumText.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepEngine.h"

namespace wg {

CroppedPlan CroppedCentres(int64_t start, int64_t stop, int32_t rate, double crop) {
  CroppedPlan plan;
  if (rate <= 0 || stop <= start || !(crop >= 0 && crop <= kMostCrop)) return plan;
  if (crop == 0) {
    plan.centres = SweepCentres(start, stop, rate);
    return plan;
  }
  const int kept = kKeptBinMultiple * static_cast<int>(std::lround(kFftSize * (1 - crop) / kKeptBinMultiple));
  plan.bins = std::max(kept, kKeptBinMultiple);
  plan.firstBin = (kFftSize - plan.bins) / 2;
  const long double advance = static_cast<long double>(rate) * plan.bins / kFftSize;
  for (int64_t j = 0;; ++j) {
    const long double lower = start + advance * j;
    if (lower >= stop || !(std::fabs(lower) < 4e18L)) break;
    plan.centres.push_back(rt::RoundHalfEven(advance / 2 * (2 * j + 1) + start));
  }
  return plan;
}

void MendCentre(double* levels) {
  const int centre = kFftSize / 2;
  const double quieter = std::min(levels[centre - kDcSpread - 1], levels[centre + kDcSpread + 1]);
  for (int g = centre - kDcSpread; g <= centre + kDcSpread; ++g) levels[g] = quieter;
}

}  // namespace wg
