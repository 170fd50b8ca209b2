// A heat map's cells: a carrier stays in the column of its frequency whether
// columns are narrower or wider than the bins, and sweeps that share a row
// are averaged by power.
#include <gtest/gtest.h>

#include <cmath>

#include "record/HeatMapGrid.h"

namespace {

// One step of `bins` bins of `width` Hz from 1 MHz, -60 dB but one bin at -20.
wg::RecordedSweep Sweep(uint64_t n, uint32_t bins, double width, uint32_t loud, float level = -20) {
  wg::RecordedSweep s;
  s.number = n;
  s.time = 1000 + static_cast<int64_t>(n);
  wg::RecordedStep st;
  st.low = 1000000;
  st.binWidth = width;
  st.bins = bins;
  st.high = st.low + static_cast<int64_t>(bins * width);
  s.steps.push_back(st);
  s.levels.assign(bins, -60.0f);
  s.levels[loud] = level;
  return s;
}

int Loudest(const wg::THeatMapGrid& g, int row) {
  int best = -1;
  for (int c = 0; c < g.Columns(); ++c)
    if (!std::isnan(g.Cell(row, c)) && (best < 0 || g.Cell(row, c) > g.Cell(row, best))) best = c;
  return best;
}

TEST(HeatMapGrid, ACarrierStaysInTheColumnOfItsFrequency) {
  // 1000 bins of 100 Hz centred at 1 MHz + i * 100 Hz; the band's edges.
  const double low = 1000000 - 50, high = 1000000 + 99950;
  for (int columns : {37, 250, 1000, 2900}) {
    for (uint32_t bin : {0u, 1u, 333u, 998u, 999u}) {
      wg::THeatMapGrid g(low, high, columns, 1, 100);
      g.Add(Sweep(0, 1000, 100, bin));
      g.Finish();
      // The column of the carrier's frequency is loud, and only those the bin reaches into.
      const double perColumn = (high - low) / columns;
      const double x = (1000000 + bin * 100.0 - low) / perColumn;
      EXPECT_FLOAT_EQ(g.Cell(0, static_cast<int>(x)), -20) << columns << " columns, bin " << bin << " at " << x;
      int loud = 0;
      for (int c = 0; c < columns; ++c) loud += g.Cell(0, c) == -20;
      EXPECT_LE(loud, std::ceil(100 / perColumn) + 1) << columns << " columns, bin " << bin;
      EXPECT_FLOAT_EQ(g.Highest(), -20);
    }
  }
}

TEST(HeatMapGrid, SweepsSharingARowAreAveragedByPowerAndTheRestHasNoLevel) {
  wg::THeatMapGrid g(0, 4e6, 100, 6, 3);  // the band covers only part of it
  ASSERT_EQ(g.Rows(), 3);
  for (uint64_t n = 0; n < 6; ++n) g.Add(Sweep(n, 100, 1000, 50, n % 2 ? -30.0f : -20.0f));
  g.Finish();
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(g.RowTime(r), 1000 + 2 * r);
    const int c = Loudest(g, r);
    EXPECT_NEAR(g.Cell(r, c), 10 * std::log10((0.01 + 0.001) / 2), 0.006);
    EXPECT_TRUE(std::isnan(g.Cell(r, 99))) << "beyond the band";
  }
  EXPECT_NEAR(g.Quantile(0), -60, 0.01);
  // Rows give way so that the cells stay within their limit.
  EXPECT_EQ(wg::THeatMapGrid::RowsFor(16384, 1000000, 16384), static_cast<int>(wg::kMostHeatMapCells / 16384));
  EXPECT_EQ(wg::THeatMapGrid::RowsFor(1000, 5, 16384), 5);
}

}  // namespace
