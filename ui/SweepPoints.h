// A sweep as points a chart series shows without a copy: X from its steps,
// Y from its levels (or another list of levels of the same layout, such as
// its maxima), the sweep kept alive while they are shown.
#pragma once

#include <vector>

#include "chart/SteppedPoints.h"
#include "sweep/Sweep.h"

namespace wg {

inline TSteppedPoints SweepPoints(const SweepPtr& sweep, const std::vector<float>& levels) {
  return {sweep, sweep->stepStarts.data(), sweep->StepCount(), sweep->pointsPerStep, sweep->binWidth, levels.data()};
}

inline TSteppedPoints SweepPoints(const SweepPtr& sweep) { return SweepPoints(sweep, sweep->levels); }

}  // namespace wg
