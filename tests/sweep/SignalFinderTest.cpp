#include "sweep/SignalFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "sweep/CroppedPlan.h"
#include "sweep/SignalTable.h"
#include "tests/sweep/SignalScene.h"

namespace {

using wg::TDetection;
using wg::TSignalFinder;
using wg::TSignalSettings;
using wg::TSignalTable;
using wgtest::SceneEmitter;
using wgtest::SignalScene;

constexpr double kBin = SignalScene::kBin;

// The emitter a detection or a listed signal belongs to: the nearest one
// within its half width and a few bins.
int Owner(const std::vector<SceneEmitter>& ems, double f) {
  int best = -1;
  for (size_t e = 0; e < ems.size(); ++e) {
    const double d = std::abs(ems[e].frequency - f);
    const double half = std::max(ems[e].width / 2, ems[e].deviation);
    if (d <= half + 3 * kBin && (best < 0 || d < std::abs(ems[static_cast<size_t>(best)].frequency - f)))
      best = static_cast<int>(e);
  }
  return best;
}

TEST(SignalFinder, NoiseGuardFollowsTheAveraging) {
  // One transform: exponential power, whose median is ln 2 of its mean.
  EXPECT_NEAR(wg::NoiseGuardDb(1), 10 * std::log10(std::log(1e10) / std::log(2.0)), 0.01);
  EXPECT_LT(wg::NoiseGuardDb(8), 10);  // the averaged trace: the user's 10 dB rules
  EXPECT_LT(wg::NoiseGuardDb(1000), wg::NoiseGuardDb(8));
  EXPECT_GT(wg::NoiseGuardDb(1000), 0);
  EXPECT_EQ(wg::NoiseGuardDb(0), wg::NoiseGuardDb(1));
}

TEST(SignalFinder, FloorIsTheNoiseMedianBesideAndUnderSignals) {
  SignalScene scene(138000000, 153000000, 3);
  scene.rippleDb = 2;
  scene.transforms = 8;
  scene.emitters = {{140000000, -40, 150000}, {145000000, -30}};
  TSignalFinder finder;
  const wg::TSignalInput in = scene.Sweep(0);
  finder.Find(in, {});
  // Median of the mean of 8 exponentials: 0.959 of the mean.
  const double medianDb = 10 * std::log10(0.959);
  // Away from the ends of the sweep, where the window has one side only.
  const size_t margin = TSignalSettings{}.floorWindow / 2;
  for (size_t i = margin; i + margin < in.count; i += 97) {
    const double k = static_cast<double>(i % SignalScene::kPps);
    const double expect = scene.noiseDb + medianDb + 2 * std::sin(2 * M_PI * k / SignalScene::kPps);
    // A median lags a little where the ripple bends, and rises a little where
    // a wide signal fills a fifth of its window.
    EXPECT_NEAR(finder.FloorAt(i), expect, 1.0) << in.Frequency(i);
  }
}

TEST(SignalFinder, OneSweepCarriersWideSignalsGapsAndEdges) {
  SignalScene scene(138000000, 153000000, 5);
  scene.transforms = 64;  // smooth: shapes and widths can be read off one sweep
  scene.untunedSteps = {2};
  const double gapLow = 138000000 + 2 * 3200000;
  scene.emitters = {
      {139012345, -50},                // between two bins
      {gapLow - 20 * kBin, -50},       // just below the untuned step
      {gapLow + 100 * kBin, -40},      // inside it: never measured
      {148000000, -60, 150000},        // wide
      {148500000, -68},                // 12 dB over the floor's mean
      {153000000 + 40 * kBin, -40},    // measured, but above the scan range
  };
  TSignalFinder finder;
  const wg::TSignalInput in = scene.Sweep(0);
  const std::vector<TDetection> found = finder.Find(in, {});
  std::vector<int> seen(scene.emitters.size(), 0);
  for (const TDetection& d : found) {
    const int e = Owner(scene.emitters, d.frequency);
    ASSERT_GE(e, 0) << "nothing there: " << d.frequency;
    ++seen[static_cast<size_t>(e)];
    EXPECT_NEAR(d.frequency, scene.emitters[static_cast<size_t>(e)].frequency, kBin) << e;
    EXPECT_NEAR(d.peakDb - d.floorDb, scene.emitters[static_cast<size_t>(e)].levelDb + 80, 2.0) << e;
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 1, 0, 1, 1, 0}));
  ASSERT_EQ(found.size(), 4u);
  // The receiver's window spreads a carrier over about 2.4 bins at -6 dB.
  EXPECT_GT(found[0].bandwidth, 1.8 * kBin);
  EXPECT_LT(found[0].bandwidth, 3.0 * kBin);
  EXPECT_NEAR(found[2].bandwidth, 150000, 3 * kBin);

  // The threshold is the user's: 12 dB over the mean noise clears 10 dB over
  // the floor, not 14.
  TSignalSettings strict;
  strict.thresholdDb = 14;
  const std::vector<TDetection> fewer = finder.Find(in, strict);
  EXPECT_EQ(fewer.size(), 3u);
  for (const TDetection& d : fewer) EXPECT_NE(Owner(scene.emitters, d.frequency), 4);
}

// The stick's DC offset: a spike at every step's centre, which is not a
// signal, while a weaker carrier just beside it still is.
TEST(SignalFinder, CentreSpikeOfEachStepIsPassedOver) {
  SignalScene scene(138000000, 153000000, 7);
  scene.transforms = 8;
  const int64_t firstCentre = 138000000 + SignalScene::kRate / 2;
  const double beside = (wg::kDcSpread + 2) * kBin;
  for (int64_t c = firstCentre; c < 153000000; c += SignalScene::kRate)
    scene.emitters.push_back({static_cast<double>(c), -60});
  const size_t spikes = scene.emitters.size();
  scene.emitters.push_back({firstCentre + SignalScene::kRate + beside, -66});
  scene.emitters.push_back({firstCentre + 3 * SignalScene::kRate - beside, -66});
  TSignalFinder finder;
  wg::TSignalInput in = scene.Sweep(0);
  const std::vector<TDetection> found = finder.Find(in, {});
  ASSERT_EQ(found.size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(Owner(scene.emitters, found[k].frequency), static_cast<int>(spikes + k));
    EXPECT_NEAR(found[k].frequency, scene.emitters[spikes + k].frequency, kBin);
    EXPECT_LT(found[k].bandwidth, 3.0 * kBin);
  }
  // Levels whose centres were already mended are taken as they are.
  in.centreMended = true;
  size_t atCentres = 0;
  for (const TDetection& d : finder.Find(in, {}))
    atCentres += Owner(scene.emitters, d.frequency) < static_cast<int>(spikes);
  EXPECT_EQ(atCentres, spikes);
}

// The scene of the issue: carriers, wide signals, frequency modulated ones
// whose power lingers at other points in each transform, and keyed emitters,
// swept as the live or the averaged trace sees them: one row each.
void EveryEmitterOnce(int transforms) {
  SCOPED_TRACE(transforms);
  SignalScene scene(138000000, 153000000, 11);
  scene.rippleDb = 3;
  scene.transforms = transforms;
  scene.emitters = {
      {139012345, -60},
      {140500000, -62},
      {142000000, -55},
      {142025000, -58},                 // 25 kHz from the one before
      {143300000, -45, 0, 1, 1, 1, 75000},  // broadcast FM
      {144800000, -50, 150000},         // wide
      {145650000, -50, 0, 1, 1, 1, 5000},   // narrow FM
      {146520000, -55, 12500},
      {148500000, -45, 0, 1, 2, 1, 75000},  // keyed FM: 50 %
      {147300000, -55, 0, 3, 10},       // keyed: 30 %
      {150200000, -52, 25000, 1, 1, 0.6},
      {152100000, -58, 0, 1, 1, 0.15},
  };
  std::vector<int> onCount(scene.emitters.size(), 0);
  constexpr int kSweeps = 300;
  TSignalFinder finder;
  TSignalTable table;
  for (int s = 0; s < kSweeps; ++s) {
    std::vector<bool> on;
    const wg::TSignalInput in = scene.Sweep(static_cast<uint64_t>(s), &on);
    for (size_t e = 0; e < on.size(); ++e) onCount[e] += on[e];
    table.Add(in, finder.Find(in, {}));
  }
  EXPECT_EQ(table.Sweeps(), static_cast<uint64_t>(kSweeps));
  std::vector<const wg::TSignal*> listed(scene.emitters.size(), nullptr);
  for (const wg::TSignal& s : table.Signals()) {
    const int e = Owner(scene.emitters, s.frequency);
    ASSERT_GE(e, 0) << "listed where nothing is: " << s.frequency;
    EXPECT_EQ(listed[static_cast<size_t>(e)], nullptr) << "listed twice: " << s.frequency;
    listed[static_cast<size_t>(e)] = &s;
  }
  for (size_t e = 0; e < scene.emitters.size(); ++e) {
    const SceneEmitter& em = scene.emitters[e];
    ASSERT_NE(listed[e], nullptr) << "missed " << em.frequency;
    const wg::TSignal& s = *listed[e];
    const double band = std::max(em.width, 2 * em.deviation);
    EXPECT_NEAR(s.frequency, em.frequency, std::max(kBin, 0.02 * band)) << em.frequency;
    const double duty = 100.0 * onCount[e] / kSweeps;
    EXPECT_NEAR(s.OccupancyPercent(), duty, 10) << em.frequency;
    EXPECT_EQ(s.covered, static_cast<uint64_t>(kSweeps));
    EXPECT_GE(s.peakDb, s.meanDb);
    EXPECT_LE(s.firstSeen, s.lastSeen);
    if (band > 0) {
      EXPECT_NEAR(s.bandwidth, band, 0.25 * band) << em.frequency;
    }
  }
}

TEST(SignalTable, EveryEmitterWithItsOccupancy) { EveryEmitterOnce(1); }
TEST(SignalTable, EveryEmitterWithItsOccupancyAveraged) { EveryEmitterOnce(8); }

// Gaussian receiver noise alone, with the floor rising and falling across each
// step as a tuner's does: not one signal in 1,000 sweeps, live or averaged.
TEST(SignalTable, NothingInNoise) {
  for (int transforms : {1, 8}) {
    SignalScene scene(138000000, 153000000, 17 + static_cast<uint64_t>(transforms));
    scene.rippleDb = 4;
    scene.transforms = transforms;
    TSignalFinder finder;
    TSignalTable table;
    for (uint64_t s = 0; s < 1000; ++s) {
      const wg::TSignalInput in = scene.Sweep(s);
      table.Add(in, finder.Find(in, {}));
    }
    EXPECT_EQ(table.Signals().size(), 0u) << transforms << " transforms; first at "
                                          << (table.Signals().empty() ? 0 : table.Signals()[0].frequency);
  }
}

// A signal counts only the sweeps that measured its frequency: those of a
// narrower range, or an untuned step over it, leave its occupancy alone.
TEST(SignalTable, OccupancyCountsOnlySweepsOverTheSignal) {
  SignalScene wide(138000000, 153000000, 23), narrow(138000000, 141000000, 29);
  wide.emitters = narrow.emitters = {{139000000, -50}, {150000000, -50}};
  TSignalFinder finder;
  TSignalTable table;
  auto add = [&](SignalScene& sc, uint64_t s) {
    const wg::TSignalInput in = sc.Sweep(s);
    table.Add(in, finder.Find(in, {}));
  };
  for (uint64_t s = 0; s < 10; ++s) add(narrow, s);
  for (uint64_t s = 0; s < 10; ++s) add(wide, s);
  wide.untunedSteps = {3};  // 147.6-150.8 MHz
  for (uint64_t s = 0; s < 10; ++s) add(wide, s);
  ASSERT_EQ(table.Signals().size(), 2u);
  EXPECT_EQ(table.Signals()[0].present, 30u);
  EXPECT_EQ(table.Signals()[0].covered, 30u);
  EXPECT_EQ(table.Signals()[1].present, 10u);
  EXPECT_EQ(table.Signals()[1].covered, 10u);
  EXPECT_EQ(table.Signals()[1].firstSeen, std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)));
  table.Clear();
  EXPECT_TRUE(table.Signals().empty());
  EXPECT_EQ(table.Sweeps(), 0u);
}

// Detections made by hand over a flat floor at -80 dB. A single transform's
// noise reaches 15.2 dB above it once in ten billion bins, eight's 7.2 dB.
TEST(SignalTable, ListedWhenSeenTwiceOrFarAboveTheNoise) {
  constexpr double f = 101000000;
  std::vector<float> flat(SignalScene::kPps, -80);
  wg::TSignalInput in;
  in.stepStarts = {100000000};
  in.binWidth = kBin;
  in.start = 100000000, in.stop = 103200000;
  in.levels = flat.data();
  in.count = flat.size();
  const struct {
    int transforms;
    std::vector<uint64_t> seen;  // in these sweeps of 20
    double snrDb;
    uint64_t present;  // 0: not listed
  } cases[] = {{1, {1}, 20, 0}, {1, {1, 9}, 20, 2}, {1, {1, 10}, 20, 0},
               {1, {1}, 26, 1}, {8, {1}, 18, 1},    {1, {1}, 18, 0}};
  for (const auto& c : cases) {
    in.transformsAveraged = c.transforms;
    TSignalTable table;
    for (uint64_t s = 1; s <= 20; ++s)
      table.Add(in, std::count(c.seen.begin(), c.seen.end(), s) ? std::vector<TDetection>{{f, -80 + c.snrDb, -80, 2000}}
                                                                   : std::vector<TDetection>{});
    ASSERT_EQ(table.Signals().size(), c.present ? 1u : 0u) << c.transforms << " " << c.seen.back() << " " << c.snrDb;
    if (c.present) {
      EXPECT_EQ(table.Signals()[0].present, c.present);
    }
  }
}

// Peak, mean and SNR of a signal whose level changes from sweep to sweep.
TEST(SignalTable, LevelsOverTheSightings) {
  wg::TSignalInput in;
  in.stepStarts = {100000000};
  in.binWidth = kBin;
  in.start = 100000000, in.stop = 103200000;
  std::vector<float> flat(SignalScene::kPps, -80);
  in.levels = flat.data();
  in.count = flat.size();
  TSignalTable table;
  const double f = 101000000;
  table.Add(in, {{f, -70, -80, 2000}});
  table.Add(in, {{f + 500, -60, -81, 4000}});
  table.Add(in, {});
  table.Add(in, {{f + 1000, -70, -80, 3000}});
  ASSERT_EQ(table.Signals().size(), 1u);
  const wg::TSignal& s = table.Signals()[0];
  EXPECT_DOUBLE_EQ(s.peakDb, -60);
  EXPECT_DOUBLE_EQ(s.snrDb, 21);
  EXPECT_NEAR(s.meanDb, 10 * std::log10((2e-7 + 1e-6) / 3), 1e-9);
  EXPECT_DOUBLE_EQ(s.frequency, f + 500);
  EXPECT_DOUBLE_EQ(s.bandwidth, 3000);
  EXPECT_DOUBLE_EQ(s.OccupancyPercent(), 75);
}

}  // namespace
