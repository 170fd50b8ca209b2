// The frequency correction found from one signal of known frequency.
//
// A stick's crystal off by e ppm, corrected by p ppm, tunes a step meant for
// centre c to c (1 + e) / (1 + p) (ppm as fractions), so everything in the
// step shows displaced by the difference; the demodulator's own mixer runs
// from the same crystal and adds nothing. A signal at f shown at f' in the
// step tuned to c therefore gives 1 + e = (1 + p) (1 + (f - f') / c).
#pragma once

#include <cstddef>
#include <optional>

#include "sweep/Sweep.h"

namespace wg {

// Where a signal near `hz` peaks in the sweep, between bins (a parabola
// through the strongest bin within two of hz and its neighbours, in dB), and
// the centre the step holding it was tuned to. Nothing when no measured
// point lies there.
struct SeenPeak {
  double hz;
  double centreHz;
};
std::optional<SeenPeak> FindPeak(const Sweep& sweep, double hz);

// The correction, whole ppm within the receiver's limits, that shows a signal
// seen at seen.hz (with `ppm` in force) at trueHz.
int CorrectionFor(const SeenPeak& seen, double trueHz, int ppm);

}  // namespace wg
