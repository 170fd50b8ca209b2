#include "sweep/SignalWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>

#include "tests/sweep/SignalScene.h"

namespace {

using namespace std::chrono_literals;
using wgtest::SignalScene;

// Long enough for a loaded machine; the waits end as soon as the work is done.
constexpr auto kPatience = 60s;

SignalScene CarrierScene() {
  SignalScene scene(138000000, 141200000, 31);
  scene.emitters = {{139000000, -50}};
  return scene;
}

TEST(SignalWatch, KeepsTheTableOnItsOwnThread) {
  SignalScene scene = CarrierScene();
  std::atomic<int> changes{0};
  wg::TSignalWatch watch([&] { ++changes; });
  for (uint64_t s = 0; s < 5; ++s) {
    watch.Submit(scene.Sweep(s));
    ASSERT_TRUE(watch.WaitIdle(kPatience));
  }
  auto snap = watch.Snapshot();
  EXPECT_EQ(snap->sweeps, 5u);
  EXPECT_EQ(snap->skipped, 0u);
  ASSERT_EQ(snap->found.size(), 1u);
  EXPECT_NEAR(snap->found[0].frequency, 139000000, SignalScene::kBin);
  EXPECT_EQ(snap->found[0].OccupancyPercent(), 100);

  // Clear empties the table at once, and the next sweeps start it afresh.
  watch.Clear();
  EXPECT_TRUE(watch.Snapshot()->found.empty());
  watch.Submit(scene.Sweep(5));
  ASSERT_TRUE(watch.WaitIdle(kPatience));
  EXPECT_EQ(watch.Snapshot()->sweeps, 1u);
  EXPECT_EQ(watch.Snapshot()->found.size(), 1u);

  // The threshold set is the one the next sweep is searched with.
  wg::TSignalSettings deaf;
  deaf.thresholdDb = 60;
  watch.SetSettings(deaf);
  EXPECT_EQ(watch.Settings().thresholdDb, 60);
  watch.Clear();
  watch.Submit(scene.Sweep(6));
  ASSERT_TRUE(watch.WaitIdle(kPatience));
  EXPECT_TRUE(watch.Snapshot()->found.empty());
  EXPECT_EQ(watch.Snapshot()->sweeps, 1u);
}

// Sweeps that come faster than they are searched: the newest waits, the ones
// it replaced are counted as skipped, and what was searched stays sound.
TEST(SignalWatch, SweepsFasterThanTheSearch) {
  SignalScene scene = CarrierScene();
  std::vector<wg::TSignalInput> sweeps;
  for (uint64_t s = 0; s < 40; ++s) sweeps.push_back(scene.Sweep(s));
  wg::TSignalWatch watch;
  for (auto& in : sweeps) watch.Submit(std::move(in));
  ASSERT_TRUE(watch.WaitIdle(kPatience));
  auto snap = watch.Snapshot();
  EXPECT_EQ(snap->sweeps + snap->skipped, 40u);
  ASSERT_EQ(snap->found.size(), 1u);
  EXPECT_EQ(snap->found[0].present, snap->sweeps);
  EXPECT_EQ(snap->found[0].covered, snap->sweeps);
}

// Destroyed with work under way and queued: it returns, and tells no one
// afterwards.
TEST(SignalWatch, DestroyedWhileSearching) {
  SignalScene scene(24000000, 1766000000, 37);  // 2,228,224 points
  const wg::TSignalInput big = scene.Sweep(0);
  auto alive = std::make_shared<std::atomic<bool>>(true);
  std::atomic<int> late{0};
  {
    wg::TSignalWatch watch([alive, &late] { late += !*alive; });
    watch.Submit(big);
    watch.Submit(big);
  }
  *alive = false;
  EXPECT_EQ(late, 0);
}

TEST(SignalWatch, InputFromTheEngineView) {
  auto sweep = std::make_shared<wg::Sweep>();
  const double bin = 3200000.0 / 4096;
  sweep->stepStarts = {100000000, 103200000};
  for (int s = 0; s < 2; ++s)
    for (int g = 0; g < 4096; ++g)
      sweep->levels.push_back(s == 1 ? std::numeric_limits<float>::quiet_NaN() : -70.25f + g % 3);
  sweep->start = 100000000;
  sweep->stop = 106000000;
  sweep->sampleRate = 3200000;
  sweep->binWidth = bin;
  sweep->transformsAveraged = 8;
  sweep->sequence = 7;
  const wg::TSignalInput in = wg::SignalInputOf(sweep);
  EXPECT_EQ(in.stepStarts, (std::vector<int64_t>{100000000, 103200000}));
  ASSERT_EQ(in.count, sweep->PointCount());
  EXPECT_EQ(in.levels, sweep->levels.data()) << "the levels are not copied";
  for (size_t i = 0; i < in.count; ++i) EXPECT_EQ(in.Frequency(i), sweep->X(i));
  EXPECT_EQ(in.transformsAveraged, 8);
  EXPECT_EQ(in.sequence, 7u);
  EXPECT_EQ(in.IndexOf(100000000 + 5 * bin + 0.4 * bin), 5u);
  EXPECT_EQ(in.IndexOf(103200000 - 0.4 * bin), 4096u);
  EXPECT_EQ(in.IndexOf(99000000), in.count);
  EXPECT_EQ(in.IndexOf(106400000), in.count);
}

}  // namespace
