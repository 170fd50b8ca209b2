// Steps with their edges left out, as rtl_power's -c: on a real stick the
// demodulator's filter rolls the levels off toward both edges of each step,
// signals just beyond an edge alias in, and the DC offset leaves a spike at
// the centre. Each step keeps only its inner bins, and the steps advance by
// what they keep, so the kept parts join without overlap.
#pragma once

#include <cstdint>
#include <vector>

namespace wg {

// The largest share of a step that may be left out; beyond it a sweep would
// take ten times as many steps as the range has step widths.
constexpr double kMostCrop = 0.9;
// What rtl_power users are told to start with, and what the window's choice
// takes when no share was given.
constexpr double kUsualCrop = 0.25;
// The kept bins are a multiple of this, so that a recording can combine
// them into wider bins as it combines a whole step's.
constexpr int kKeptBinMultiple = 32;

struct CroppedPlan {
  std::vector<int64_t> centres;  // in order, as the steps are tuned
  int firstBin = 0;              // the first drawn bin of each step (of 4096)
  int bins = 4096;               // bins drawn per step
};

// Steps over start..stop at the given rate with a share `crop` (0 to
// kMostCrop) of each step left out, half at each edge. The kept width is the
// multiple of kKeptBinMultiple bins nearest (1 - crop) * 4096, so that the
// steps advance by whole bins and the centre stays a bin: step j is
// tuned to Round(advance / 2 * (2j + 1) + start), halves to even, and runs
// while its drawn part's lower edge lies below the stop. With no crop the
// plan is SweepCentres's, every bin drawn. Empty for an empty or inverted
// range, a rate of 0 or less, or a crop outside 0..kMostCrop.
CroppedPlan CroppedCentres(int64_t start, int64_t stop, int32_t rate, double crop);

// Bins on each side of the centre that a DC offset lights through the
// transform's window (further ones lie some 50 dB below it).
constexpr int kDcSpread = 2;

// Replaces the levels around a step's centre bin (levels[2048] of 4096) that
// the stick's DC offset lights by the lower of the two bins just beyond them:
// a carrier standing just beyond on one side is not spread over the centre.
void MendCentre(double* levels);

}  // namespace wg
