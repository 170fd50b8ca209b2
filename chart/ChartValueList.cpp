#include "chart/ChartValueList.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "chart/ChartSeries.h"

namespace wg {

// ---------------------------------------------------------------------------
// TChartValueList

TChartValueList::TChartValueList(TChartSeries* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {}

void TChartValueList::SetMultiplier(double m) {
  if (m == multiplier_) return;
  multiplier_ = m;
  Changed();
  if (owner_) owner_->RequestRedraw();
}

void TChartValueList::AssignSettings(const TChartValueList& other) {
  order_ = other.order_;
  dateTime_ = other.dateTime_;
  valueSource_ = other.valueSource_;
  SetMultiplier(other.multiplier_);
}

void TChartValueList::ReserveOne() { detail::GrowForOne(values_); }

void TChartValueList::InsertAt(int index, double value) {
  if (index < 0 || index > Count()) ThrowListIndexError(index);
  ReserveOne();
  values_.insert(values_.begin() + index, value);
  Changed();
}

int TChartValueList::OrderedPlace(double value) const {
  const int n = Count();
  if (order_ == loNone || n == 0) return n;
  int t = n - 1;
  if (order_ == loAscending) {
    if (values_[t] <= value) return n;
    while (t >= 0 && values_[t] > value) --t;
  } else {
    if (values_[t] >= value) return n;
    while (t >= 0 && values_[t] < value) --t;
  }
  return t + 1;
}

int TChartValueList::AddOrdered(double value) {
  const int place = OrderedPlace(value);
  if (Count() == std::numeric_limits<int>::max()) throw std::length_error("TChartValueList");
  ReserveOne();
  values_.insert(values_.begin() + place, value);
  Changed();
  return place;
}

void TChartValueList::RemoveAt(int index) {
  CheckIndex(index);
  values_.erase(values_.begin() + index);
  Changed();
}

void TChartValueList::RemoveAll() {
  std::vector<double>().swap(values_);
  Changed();
}

void TChartValueList::Recompute() const {
  lowest_ = highest_ = sum_ = absSum_ = 0;
  counted_ = 0;
  const std::size_t n = values_.size();
  std::size_t i = 0;
  // A NaN is a point that was not measured: it has no place in the extremes
  // or sums, and the first measured value starts them.
  while (i < n && std::isnan(Read(i))) ++i;
  if (i < n) {
    const double first = Read(i);
    lowest_ = highest_ = sum_ = first;
    absSum_ = std::fabs(first);
    int counted = 1;
    for (++i; i < n; ++i) {
      const double v = Read(i);
      if (v != v) continue;
      if (v < lowest_)
        lowest_ = v;
      else if (v > highest_)
        highest_ = v;
      sum_ += v;
      absSum_ += std::fabs(v);
      ++counted;
    }
    counted_ = counted;
  }
  statsStale_ = false;
}

void TChartValueList::ChangedToOneValue() {
  Changed();
  const bool number = values_.empty() || !std::isnan(Read(0));
  ascending_ = number;
  uniform_ = number;
  shapeFor_ = version_;
}

void TChartValueList::WorkOutShape() const {
  const std::size_t n = values_.size();
  bool ascending = n == 0 || !std::isnan(Read(0));
  bool uniform = ascending;
  if (n > 1 && ascending) {
    // A NaN is neither above nor equal to anything, so it ends both. Blocks
    // without an early exit inside keep the walk free of branches; a
    // prepared or swept series of millions of points is read once per change.
    const double first = Read(0);
    constexpr std::size_t kBlock = 4096;
    for (std::size_t b = 1; b < n && (ascending || uniform); b += kBlock) {
      const std::size_t e = std::min(n, b + kBlock);
      bool a = true, u = true;
      if (multiplier_ == 1.0) {
        const double* v = values_.data();
        for (std::size_t i = b; i < e; ++i) {
          a &= v[i - 1] <= v[i];
          u &= v[i] == first;
        }
      } else {
        for (std::size_t i = b; i < e; ++i) {
          const double x = Read(i);
          a &= Read(i - 1) <= x;
          u &= x == first;
        }
      }
      ascending = ascending && a;
      uniform = uniform && u;
    }
  }
  ascending_ = ascending;
  uniform_ = uniform;
  shapeFor_ = version_;
}

bool TChartValueList::Ascending() const {
  if (shapeFor_ != version_) WorkOutShape();
  return ascending_;
}

bool TChartValueList::Uniform() const {
  if (shapeFor_ != version_) WorkOutShape();
  return uniform_;
}

int TChartValueList::CountedValues() const {
  if (statsStale_) Recompute();
  return counted_;
}

double TChartValueList::LowestValue() const {
  if (statsStale_) Recompute();
  return lowest_;
}

double TChartValueList::HighestValue() const {
  if (statsStale_) Recompute();
  return highest_;
}

double TChartValueList::ValueSum() const {
  if (statsStale_) Recompute();
  return sum_;
}

double TChartValueList::AbsoluteValueSum() const {
  if (statsStale_) Recompute();
  return absSum_;
}


}  // namespace wg
