// The signals found so far, sweep after sweep, one row per emitter.
//
// A row covers the band its signal has been seen in (the spans 6 dB below
// the peaks of its sightings, all together). A detection that reaches within
// a bin of that band belongs to the row and widens it; one that reaches two
// rows joins them. So the peaks of a frequency modulated signal, which in a
// single transform lie wherever its frequency lingered and wander over its
// deviation from one sweep to the next, all count for one row, and so do the
// pieces a wide signal breaks into. The band a row reports leaves out the
// edges that fewer than one in kBandShare of its sightings reached: the odd
// sighting that noise beside a weak signal widened.
//
// Noise now and then crosses the threshold in one bin of one sweep, but not
// twice at one frequency a few sweeps apart: a row is listed once its signal
// has been seen in two sweeps at most kConfirmSweeps apart, or once in a
// single sweep so far above the floor that noise never gets there. A row
// seen once and not again is forgotten.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sweep/SignalFinder.h"

namespace wg {

struct TSignal {
  // Hz: the sightings' centres averaged; for a wandering peak (below), the
  // middle of its band.
  double frequency = 0;
  double peakDb = 0;     // the strongest level it reached
  double meanDb = 0;     // its peak level in the sweeps it was found in, averaged in power
  double snrDb = 0;      // the strongest level above the noise floor under it then
  // Hz: at 6 dB below the peak, averaged over the sightings; for a peak that
  // wanders over a band some bins wider, the width of that band.
  double bandwidth = 0;
  uint64_t present = 0;  // sweeps it was found in
  uint64_t covered = 0;  // sweeps that measured its frequency since the table began
  std::chrono::system_clock::time_point firstSeen, lastSeen;  // finish of those sweeps

  // The share of the covering sweeps it was found in, 0..100.
  double OccupancyPercent() const {
    return covered ? 100.0 * static_cast<double>(present) / static_cast<double>(covered) : 0;
  }
};

class TSignalTable {
 public:
  // A table this long stops taking new signals; its signals are still followed.
  static constexpr size_t kMostSignals = 10000;
  // A detection this many bins beyond a row's band still belongs to it.
  static constexpr double kMatchBins = 1;
  // A signal seen once is listed when seen again within this many sweeps.
  static constexpr uint64_t kConfirmSweeps = 8;
  // Or at once when its peak stood this much above the height that noise of
  // the sweep's averaging reaches once in ten billion bins.
  static constexpr double kSureDb = 10;
  // The band a row reports: where at least one in this many sightings were.
  static constexpr uint32_t kBandShare = 50;
  // A peak wanders when that band is this many bins wider than its sightings.
  static constexpr double kWanderBins = 4;

  // Takes in one sweep and what the finder found in it.
  void Add(const TSignalInput& in, const std::vector<TDetection>& found);
  void Clear();

  const std::vector<TSignal>& Signals() const { return listed_; }  // in frequency order
  uint64_t Sweeps() const { return sweeps_; }
  // Detections that were not listed because the table was full.
  uint64_t Dropped() const { return dropped_; }

 private:
  // One sweep's detections of one signal, taken together.
  struct Sighting {
    double lo, hi;  // Hz: the outer edges of their spans
    double peakDb, floorDb;
  };
  struct Row {
    TSignal s;
    double lo = 0, hi = 0;  // Hz: the band it has been seen in
    double frequencySum = 0, bandwidthSum = 0;
    double powerSum = 0;  // peak powers relative to s.peakDb
    uint64_t sightings = 0;  // in the sums; joined rows may count one sweep twice there
    uint64_t lastSweep = 0;  // the table's count of sweeps when last seen
    uint64_t recent = 0;     // bit k: seen in sweep lastSweep - k
    bool listed = false;
    // The sightings over the band in cells of cellHz, the first at
    // firstCell * cellHz.
    double cellHz = 0;
    int64_t firstCell = 0;
    std::vector<uint32_t> hits;
  };
  struct Span {
    int64_t start, stop;
    uint64_t sweeps;
  };
  void See(Row& r, const Sighting& g, std::chrono::system_clock::time_point when, bool sure) const;
  static void Join(Row& into, const Row& other);
  static void Mark(Row& r, double lo, double hi, uint32_t times);
  static void Describe(Row& r);
  uint64_t SweepsOver(double f) const;

  std::vector<Row> rows_;        // by band, the bands apart
  std::vector<TSignal> listed_;  // the listed rows' signals
  std::vector<Span> spans_;      // the scan ranges swept, in order
  uint64_t sweeps_ = 0;
  uint64_t dropped_ = 0;
  double cellHz_ = 0;  // the bins of the sweep being taken in
  int sureFor_ = 0;  // transforms the margin below was computed for
  double sureDb_ = 0;
};

}  // namespace wg
