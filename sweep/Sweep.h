// One finished sweep: the levels measured over the scan range, step by step.
// The worker builds it; once handed over it never changes and is shared by
// pointer between the trace, the peak hold, the waterfall, the readout and
// the recorder, none of which copies it.
//
// The frequency of a level is not kept: it is its step's first frequency
// plus its offset in the step times the bin width. A level that was not
// measured (the tuner could not reach the step) is NaN.
#pragma once

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sweep/ScanLimits.h"

namespace wg {

struct Sweep {
  int64_t start = 0, stop = 0;  // the scan range, Hz
  int32_t sampleRate = 0;       // the rate the steps were tuned with, Hz
  double binWidth = 0;          // Hz from one level of a step to the next
  // A step spans pointsPerStep * binWidth: the sample rate, unless its edges
  // were cut off. Then it keeps the bins of its transform from firstBin on,
  // and its first frequency lies firstBin bins above its tuned frequency
  // less half the rate.
  int pointsPerStep = kPointsPerStep;
  int firstBin = 0;
  // The DC offset's spike at each step's centre was mended from its
  // neighbours (MendCentre).
  bool centreMended = false;
  // The first frequency of each step, in the order swept, Hz. A step whose
  // work failed is not there: the trace breaks where it would be.
  std::vector<int64_t> stepStarts;
  // pointsPerStep levels per step, in dB; NaN where nothing was measured.
  std::vector<float> levels;
  std::chrono::system_clock::time_point started, finished;  // wall clock
  int transformsAveraged = 1;  // transforms whose mean power is each level
  uint64_t sequence = 0;       // 1, 2, 3... as the engine hands sweeps over
  // While the engine holds peaks: each level's highest since the hold began
  // (NaN where none was measured yet), and which hold that was.
  std::vector<float> maxima;
  uint64_t holdGeneration = 0;
  // The lowest and highest level of each block of kSummaryPoints levels of a
  // step (the last block of a step may be shorter), in pairs; both NaN where
  // the block holds a NaN. Drawing a trace of millions of points takes a
  // whole block that falls in one pixel column from these. Empty: none made.
  std::vector<float> levelBlocks, maximaBlocks;

  std::size_t PointCount() const { return levels.size(); }
  std::size_t StepCount() const { return stepStarts.size(); }
  // Frequency of point i, Hz: the offset is multiplied and the start added
  // in double, in that order (the chart's stepped points read the same).
  double X(std::size_t i) const {
    const auto per = static_cast<std::size_t>(pointsPerStep);
    const std::size_t s = i / per;
    return static_cast<double>(i - s * per) * binWidth + static_cast<double>(stepStarts[s]);
  }
  // The frequency step s was tuned to, Hz.
  double TunedCentre(std::size_t s) const {
    return static_cast<double>(stepStarts[s]) - firstBin * binWidth + static_cast<double>(sampleRate) / 2;
  }
  double Y(std::size_t i) const { return levels[i]; }
  bool Measured(std::size_t i) const { return !std::isnan(levels[i]); }
};

using SweepPtr = std::shared_ptr<const Sweep>;

constexpr int kSummaryPoints = 64;

// The block pairs described above for `levels`, laid out pointsPerStep a step.
std::vector<float> SummariseBlocks(const std::vector<float>& levels, int pointsPerStep);

// A new, empty sweep to be filled. Whoever lets go of it last, on whatever
// thread, does not wait for a large one's memory to go back to the system:
// that happens on a thread of its own.
std::shared_ptr<Sweep> NewSweep();

}  // namespace wg
