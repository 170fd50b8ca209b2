// Steps with cropped edges: where they are tuned, what of each is drawn, and
// the mend of the centre.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "sweep/CroppedPlan.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepEngine.h"

namespace {

TEST(CroppedPlan, WithoutCropItIsTheWrittenPlan) {
  for (int32_t rate : {3200000, 2048000, 1024001}) {
    const wg::CroppedPlan p = wg::CroppedCentres(24000000, 1766000000, rate, 0);
    EXPECT_EQ(p.centres, wg::SweepCentres(24000000, 1766000000, rate)) << rate;
    EXPECT_EQ(p.firstBin, 0);
    EXPECT_EQ(p.bins, 4096);
  }
  EXPECT_TRUE(wg::CroppedCentres(100, 100, 3200000, 0.25).centres.empty());
  EXPECT_TRUE(wg::CroppedCentres(100, 200, 3200000, 0.95).centres.empty());
  EXPECT_TRUE(wg::CroppedCentres(100, 200, 3200000, -0.1).centres.empty());
  EXPECT_TRUE(wg::CroppedCentres(100, 200, 0, 0.25).centres.empty());
}

// The drawn parts of neighbouring steps meet bin for bin, the first starts at
// the start and the last reaches the stop, at odd shares, rates and ranges;
// the kept bins stay centred on the tuned frequency's bin.
TEST(CroppedPlan, DrawnPartsJoinWithoutGapOrOverlap) {
  struct Case {
    int64_t start, stop;
    int32_t rate;
  };
  for (const Case c : {Case{138000000, 153000000, 3200000}, Case{88000001, 108000000, 2400000},
                       Case{24000000, 25000000, 1800000}, Case{100000, 3999999999, 1024000}}) {
    for (double crop : {0.25, 0.5, 0.2, 0.333, 0.137, 0.61, 0.9, 0.001}) {
      const wg::CroppedPlan p = wg::CroppedCentres(c.start, c.stop, c.rate, crop);
      const double bin = c.rate / 4096.0;
      EXPECT_EQ(p.bins % wg::kKeptBinMultiple, 0);
      EXPECT_NEAR(p.bins, 4096 * (1 - crop), wg::kKeptBinMultiple / 2);
      EXPECT_EQ(p.firstBin * 2 + p.bins, 4096);
      ASSERT_FALSE(p.centres.empty());
      const auto first = [&](size_t j) { return p.centres[j] - c.rate / 2 + p.firstBin * bin; };
      EXPECT_NEAR(first(0), c.start, 0.5);
      for (size_t j = 1; j < p.centres.size(); ++j)
        ASSERT_NEAR(first(j) - first(j - 1), p.bins * bin, 1.0) << crop << " " << c.rate << " step " << j;
      const double last = first(p.centres.size() - 1);
      EXPECT_LT(last, c.stop) << crop;
      EXPECT_GE(last + p.bins * bin, c.stop - 0.5) << crop;
    }
  }
}

// Cropping asks for more steps over the same range, not for more points:
// the bound on the series' points leaves the range as wide as without.
TEST(CroppedPlan, TheEngineKeepsTheRangeAndItsPointBound) {
  wg::TSweepEngine engine(nullptr, [](std::function<void()>) {}, [](const std::string&) {});
  for (int32_t rate : {3200000, 1024000}) {
    engine.SetSampleRate(rate);
    engine.SetCrop(0);
    engine.SetScanRange(wg::TSweepEngine::kLowestFrequency, wg::TSweepEngine::kHighestFrequency);
    const int64_t stop = engine.StopFrequency();
    const int points = engine.SeriesPointCount();
    EXPECT_LE(points, wg::TSweepEngine::kMostSeriesPoints);
    for (double crop : {0.25, 0.9}) {
      engine.SetCrop(crop);
      engine.SetScanRange(wg::TSweepEngine::kLowestFrequency, wg::TSweepEngine::kHighestFrequency);
      EXPECT_EQ(engine.StopFrequency(), stop) << rate << " " << crop;
      EXPECT_EQ(engine.SeriesPointCount(), points) << rate << " " << crop;
      // The steps' drawn points exceed the series' by less than a step, as without crop.
      const wg::CroppedPlan p = wg::CroppedCentres(engine.StartFrequency(), stop, rate, crop);
      EXPECT_LT(p.centres.size() * static_cast<size_t>(p.bins), static_cast<size_t>(points + p.bins));
    }
  }
  engine.SetCrop(2);
  EXPECT_EQ(engine.Crop(), wg::kMostCrop);
  engine.SetCrop(-1);
  EXPECT_EQ(engine.Crop(), 0);
}

TEST(CroppedPlan, CentreMendCoversTheSpreadOfADcOffset) {
  // Noise of a few steps of the byte scale about an offset of four: a
  // stick's DC spike, and its spread through the window.
  std::vector<uint8_t> block(wg::kSpectrumBytes);
  std::mt19937 random(7);
  std::normal_distribution<double> noise(127.5 + 4, 4);
  for (auto& b : block) b = static_cast<uint8_t>(std::lround(noise(random)));
  std::vector<double> levels(wg::kFftSize);
  wg::SpectrumOfBlock(block.data(), block.size(), static_cast<long>(block.size()), levels.data());
  std::vector<double> around(levels.begin() + 1900, levels.begin() + 2000);
  std::nth_element(around.begin(), around.begin() + 50, around.end());
  const double floor = around[50];
  ASSERT_GT(levels[2048] - floor, 30.0);
  ASSERT_GT(levels[2046] - floor, 10.0);
  wg::MendCentre(levels.data());
  for (int g = 2044; g <= 2052; ++g) EXPECT_LT(levels[g] - floor, 10.0) << g;
  EXPECT_EQ(levels[2048], std::min(levels[2045], levels[2051]));
}

}  // namespace
