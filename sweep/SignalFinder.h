// Finding the signals in one sweep: the points that stand clear of the local
// noise floor, gathered into one detection per signal.
//
// The noise floor at a point is the median of the levels around it (a window
// of some hundred bins across frequency), so that the receiver's gain curve
// and the edges of its steps do not read as signals. A signal is a run of
// adjacent bins above the floor whose strongest bin lies at least the
// threshold above it. In a single transform (the live trace) the noise alone
// reaches 10 dB above its median in one bin of a thousand; the threshold is
// therefore raised to where noise of the sweep's averaging would reach only
// once in ten billion bins, so that pure noise is never reported.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sweep/ScanLimits.h"

namespace wg {

// One sweep as the finder reads it: levels in dB in frequency order,
// pointsPerStep per step, NaN where nothing was measured. The frequency of
// point i is stepStarts[i / pointsPerStep] + (i % pointsPerStep) * binWidth.
struct TSignalInput {
  std::shared_ptr<const void> owner;  // keeps `levels` alive
  const float* levels = nullptr;
  size_t count = 0;
  std::vector<int64_t> stepStarts;  // Hz, the first bin of each step
  int pointsPerStep = kPointsPerStep;
  double binWidth = 0;       // Hz
  int64_t start = 0, stop = 0;  // scan range, Hz; points outside are not searched
  int transformsAveraged = 1;   // per level: 1 in the live trace
  // The DC offset's spike at each step's centre was mended before the finder
  // saw it; if not, the finder passes over those bins.
  bool centreMended = false;
  uint64_t sequence = 0;
  std::chrono::system_clock::time_point finished;

  double Frequency(size_t i) const;
  // The point whose bin holds frequency f; count when f lies outside the sweep.
  size_t IndexOf(double f) const;
};

struct TSignalSettings {
  double thresholdDb = 10;  // above the local noise floor
  int floorWindow = 1025;   // bins the median of the floor is taken over
};

// One signal as one sweep saw it.
struct TDetection {
  double frequency;  // Hz, the middle of its span 6 dB below the peak
  double peakDb;     // its strongest bin
  double floorDb;    // the local noise floor under that bin
  double bandwidth;  // Hz, that span: from the outermost crossings of peak - 6 dB
};

// The least height above the median floor that a bin of noise averaged over
// `transforms` transforms reaches only once in ten billion bins.
double NoiseGuardDb(int transforms);

// Keeps its working storage from one sweep to the next; use one per thread.
class TSignalFinder {
 public:
  // Detections of one sweep in frequency order.
  std::vector<TDetection> Find(const TSignalInput& in, const TSignalSettings& settings);
  // The floor Find computed for point i of the last sweep (NaN where too
  // little around it was measured); for tests.
  float FloorAt(size_t i) const;

 private:
  void ComputeFloor(const float* lv, size_t n, int window);

  std::vector<int32_t> hist_;
  std::vector<float> floor_;  // one value per kFloorStride points
  int guardFor_ = 0;  // transforms the guard below was computed for
  double guardDb_ = 0;
};

}  // namespace wg
