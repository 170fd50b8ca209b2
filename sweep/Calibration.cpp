#include "sweep/Calibration.h"

#include "sweep/ScanLimits.h"

#include <algorithm>
#include <cmath>

namespace wg {

std::optional<SeenPeak> FindPeak(const Sweep& sweep, double hz) {
  const auto per = static_cast<std::size_t>(sweep.pointsPerStep);
  if (sweep.binWidth <= 0 || per == 0) return std::nullopt;
  // The step that holds hz: the last one starting at or below it.
  std::size_t step = sweep.StepCount();
  for (std::size_t s = 0; s < sweep.StepCount(); ++s) {
    const double start = static_cast<double>(sweep.stepStarts[s]);
    if (start <= hz && hz < start + static_cast<double>(per) * sweep.binWidth) step = s;
  }
  if (step == sweep.StepCount()) return std::nullopt;
  const double start = static_cast<double>(sweep.stepStarts[step]);
  const auto near = static_cast<std::ptrdiff_t>(std::lround((hz - start) / sweep.binWidth));
  // The strongest bin within two of it, inside the step.
  std::ptrdiff_t best = -1;
  for (std::ptrdiff_t k = std::max<std::ptrdiff_t>(0, near - 2);
       k <= std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(per) - 1, near + 2); ++k) {
    const std::size_t i = step * per + static_cast<std::size_t>(k);
    if (i < sweep.PointCount() && sweep.Measured(i) && (best < 0 || sweep.Y(i) > sweep.Y(step * per + static_cast<std::size_t>(best))))
      best = k;
  }
  if (best < 0) return std::nullopt;
  const std::size_t i = step * per + static_cast<std::size_t>(best);
  double offset = 0;
  if (best > 0 && best + 1 < static_cast<std::ptrdiff_t>(per) && sweep.Measured(i - 1) && sweep.Measured(i + 1)) {
    const double a = sweep.Y(i - 1), b = sweep.Y(i), c = sweep.Y(i + 1);
    const double curve = a - 2 * b + c;
    if (curve < 0) offset = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
  }
  return SeenPeak{start + (static_cast<double>(best) + offset) * sweep.binWidth, sweep.TunedCentre(step)};
}

int CorrectionFor(const SeenPeak& seen, double trueHz, int ppm) {
  const double error = (1 + ppm / 1e6) * (1 + (trueHz - seen.hz) / seen.centreHz) - 1;
  return static_cast<int>(std::clamp<long>(std::lround(error * 1e6), kMinPpm, kMaxPpm));
}

}  // namespace wg
