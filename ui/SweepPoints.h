// A sweep as points a chart series shows without a copy: X from its steps,
// Y from its levels (or another list of levels of the same layout, such as
// its maxima), the sweep kept alive while they are shown.
#pragma once

#include <vector>

#include "chart/SteppedPoints.h"
#include "sweep/Sweep.h"

namespace wg {

inline TSteppedPoints SweepPoints(const SweepPtr& sweep, const std::vector<float>& levels) {
  TSteppedPoints p{sweep, sweep->stepStarts.data(), sweep->StepCount(), sweep->pointsPerStep, sweep->binWidth,
                   levels.data()};
  const std::vector<float>& blocks = &levels == &sweep->maxima ? sweep->maximaBlocks : sweep->levelBlocks;
  if (!blocks.empty() && (&levels == &sweep->maxima || &levels == &sweep->levels)) {
    p.blocks = blocks.data();
    p.blockPoints = kSummaryPoints;
  }
  return p;
}

inline TSteppedPoints SweepPoints(const SweepPtr& sweep) { return SweepPoints(sweep, sweep->levels); }

}  // namespace wg
