// A recording laid out as a heat map's cells: frequency across in columns of
// equal width, time down with one row per sweep (or per several, when there
// are more sweeps than rows can be had: their mean power). A cell holds the
// highest level of the bins whose band takes in the column's middle, or, for
// columns wider than the bins, of the bins centred in it; so a carrier stays
// in the column of its frequency and never fades by being spread.
// Rows are limited so that the cells take at most kMostHeatMapCells.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "record/RecordingReader.h"

namespace wg {

inline constexpr size_t kMostHeatMapCells = 16u << 20;  // 32 MB

class THeatMapGrid {
 public:
  // `sweeps` sweeps (numbered from 0) will come, in order, to be drawn over
  // lowHz..highHz in `columns` columns and at most `mostRows` rows (fewer
  // when the cells would be too many).
  THeatMapGrid(double lowHz, double highHz, int columns, uint64_t sweeps, int mostRows);

  void Add(const RecordedSweep& sweep);
  // After the last sweep.
  void Finish();

  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  // The rows a grid of that many columns and sweeps gets.
  static int RowsFor(int columns, uint64_t sweeps, int mostRows);
  // dB (to a hundredth, within ±327 dB); NaN where no sweep reached.
  float Cell(int row, int column) const {
    const int16_t v = cells_[static_cast<size_t>(row) * columns_ + column];
    return v == kNoCell ? std::numeric_limits<float>::quiet_NaN() : v / 100.0f;
  }
  // The time of the row's first sweep (RecordedSweep::time).
  int64_t RowTime(int row) const { return rowTimes_[static_cast<size_t>(row)]; }
  double LowHz() const { return lowHz_; }
  double HighHz() const { return highHz_; }
  // The level below which the given part of the cells lie (0..1), and the
  // highest level; NaN when no cell has a level.
  double Quantile(double q) const;
  double Highest() const;

 private:
  void FlushRow();

  double lowHz_, highHz_;
  int columns_, rows_;
  uint64_t sweeps_;
  static constexpr int16_t kNoCell = INT16_MIN;
  std::vector<int16_t> cells_;  // hundredths of a dB: a level file holds no finer ones
  std::vector<int64_t> rowTimes_;
  // The row under way: per column the sum of the sweeps' power and how many reached it.
  int row_ = -1;
  std::vector<double> power_;
  std::vector<int> count_;
  std::vector<float> sweepCells_;
};

}  // namespace wg
