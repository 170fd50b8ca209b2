#include "ChartValueList.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "ChartSeries.h"

namespace wg {

// ---------------------------------------------------------------------------
// TChartValueList

TChartValueList::TChartValueList(TChartSeries* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {}

void TChartValueList::SetMultiplier(double m) {
  if (m == multiplier_) return;
  multiplier_ = m;
  statsStale_ = true;
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
  statsStale_ = true;
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
  statsStale_ = true;
  return place;
}

void TChartValueList::RemoveAt(int index) {
  CheckIndex(index);
  values_.erase(values_.begin() + index);
  statsStale_ = true;
}

void TChartValueList::RemoveAll() {
  std::vector<double>().swap(values_);
  statsStale_ = true;
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
