// Steps with cropped edges: where they are tuned, what of each is drawn, and
// the mend of the centre.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
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
  EXPECT_TRUE(wg::CroppedCentres(100, 200, 3200000, 1.0).centres.empty());
  EXPECT_TRUE(wg::CroppedCentres(100, 200, 3200000, -0.1).centres.empty());
  EXPECT_TRUE(wg::CroppedCentres(100, 200, 0, 0.25).centres.empty());
}

// The drawn parts of neighbouring steps meet bin for bin, the first starts at
// the start and the last reaches the stop.
TEST(CroppedPlan, DrawnPartsJoinWithoutGapOrOverlap) {
  for (double crop : {0.25, 0.5, 0.2, 0.333}) {
    const int64_t start = 138000000, stop = 153000000;
    const int32_t rate = 3200000;
    const wg::CroppedPlan p = wg::CroppedCentres(start, stop, rate, crop);
    const double bin = rate / 4096.0;
    EXPECT_EQ(p.bins % 2, 0);
    EXPECT_NEAR(p.bins, 4096 * (1 - crop), 2);
    EXPECT_EQ(p.firstBin * 2 + p.bins, 4096);
    ASSERT_FALSE(p.centres.empty());
    const auto first = [&](size_t j) { return p.centres[j] - rate / 2 + p.firstBin * bin; };
    EXPECT_NEAR(first(0), start, 1.0);
    for (size_t j = 1; j < p.centres.size(); ++j) EXPECT_NEAR(first(j) - first(j - 1), p.bins * bin, 1.0) << crop;
    EXPECT_LT(first(p.centres.size() - 1), stop);
    EXPECT_GE(first(p.centres.size() - 1) + p.bins * bin, stop - 1.0);
  }
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
  EXPECT_EQ(levels[2048], (levels[2045] + levels[2051]) / 2);
}

}  // namespace
