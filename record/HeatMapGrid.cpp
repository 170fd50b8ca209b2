#include "record/HeatMapGrid.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace wg {
namespace {

constexpr float kNoLevel = std::numeric_limits<float>::quiet_NaN();

}  // namespace

int THeatMapGrid::RowsFor(int columns, uint64_t sweeps, int mostRows) {
  const uint64_t most = std::min<uint64_t>(static_cast<uint64_t>(std::max(1, mostRows)),
                                           kMostHeatMapCells / static_cast<uint64_t>(std::max(1, columns)));
  return static_cast<int>(std::clamp<uint64_t>(sweeps, 1, std::max<uint64_t>(most, 1)));
}

THeatMapGrid::THeatMapGrid(double lowHz, double highHz, int columns, uint64_t sweeps, int mostRows)
    : lowHz_(lowHz), highHz_(highHz > lowHz ? highHz : lowHz + 1), columns_(std::clamp(columns, 1, 1 << 20)),
      rows_(RowsFor(columns_, sweeps, mostRows)),
      sweeps_(std::max<uint64_t>(sweeps, 1)),
      cells_(static_cast<size_t>(rows_) * columns_, kNoCell),
      rowTimes_(static_cast<size_t>(rows_), 0),
      power_(static_cast<size_t>(columns_)),
      count_(static_cast<size_t>(columns_)),
      sweepCells_(static_cast<size_t>(columns_)) {}

void THeatMapGrid::Add(const RecordedSweep& sweep) {
  if (sweep.number >= sweeps_) return;
  const int row = static_cast<int>(sweep.number * static_cast<uint64_t>(rows_) / sweeps_);
  if (row != row_) {
    FlushRow();
    row_ = row;
    rowTimes_[static_cast<size_t>(row)] = sweep.time;
  }
  // This sweep's highest level in each column.
  std::fill(sweepCells_.begin(), sweepCells_.end(), kNoLevel);
  const double perColumn = (highHz_ - lowHz_) / columns_;
  for (const RecordedStep& st : sweep.steps) {
    const double w = st.binWidth;
    const float* lv = sweep.levels.data() + st.first;
    if (st.first + static_cast<size_t>(st.bins) > sweep.levels.size()) continue;
    for (uint32_t i = 0; i < st.bins; ++i) {
      // Not measured, or no measurement (one infinity would take the scale).
      if (!UsableLevel(lv[i])) continue;
      const double f = st.BinHz(i) - lowHz_;
      // The columns whose middle lies within the bin's band, else the one
      // that holds its centre.
      double c0 = std::ceil((f - w / 2) / perColumn - 0.5);
      double c1 = std::ceil((f + w / 2) / perColumn - 0.5) - 1;
      if (c0 > c1) c0 = c1 = std::floor(f / perColumn);
      c0 = std::max(c0, 0.0);
      c1 = std::min(c1, static_cast<double>(columns_ - 1));
      if (!(c0 <= c1)) continue;
      for (int c = static_cast<int>(c0); c <= static_cast<int>(c1); ++c) {
        float& cell = sweepCells_[static_cast<size_t>(c)];
        if (std::isnan(cell) || lv[i] > cell) cell = lv[i];
      }
    }
  }
  for (int c = 0; c < columns_; ++c) {
    const float v = sweepCells_[static_cast<size_t>(c)];
    if (std::isnan(v)) continue;
    power_[static_cast<size_t>(c)] += std::pow(10.0, v / 10.0);
    ++count_[static_cast<size_t>(c)];
  }
}

void THeatMapGrid::Finish() { FlushRow(); }

void THeatMapGrid::FlushRow() {
  if (row_ < 0) return;
  int16_t* out = cells_.data() + static_cast<size_t>(row_) * columns_;
  for (int c = 0; c < columns_; ++c) {
    const size_t i = static_cast<size_t>(c);
    if (count_[i] > 0) {
      const double db = 10.0 * std::log10(power_[i] / count_[i]);
      out[c] = static_cast<int16_t>(std::isnan(db) ? kNoCell : std::clamp(std::round(db * 100), -32767.0, 32767.0));
    }
    power_[i] = 0;
    count_[i] = 0;
  }
  row_ = -1;
}

double THeatMapGrid::Quantile(double q) const {
  // Counted by value: no copy of the cells.
  std::vector<uint64_t> counts(65536);
  uint64_t total = 0;
  for (int16_t v : cells_) {
    if (v == kNoCell) continue;
    ++counts[static_cast<size_t>(v + 32768)];
    ++total;
  }
  if (total == 0) return std::numeric_limits<double>::quiet_NaN();
  const uint64_t want = static_cast<uint64_t>(std::clamp(q, 0.0, 1.0) * static_cast<double>(total - 1));
  uint64_t seen = 0;
  for (size_t i = 0; i < counts.size(); ++i) {
    seen += counts[i];
    if (seen > want) return (static_cast<double>(i) - 32768) / 100.0;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

double THeatMapGrid::Highest() const {
  int16_t best = kNoCell;
  for (int16_t v : cells_) best = std::max(best, v);
  return best == kNoCell ? std::numeric_limits<double>::quiet_NaN() : best / 100.0;
}

}  // namespace wg
