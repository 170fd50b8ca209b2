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

void TChartValueList::MakeOwn() const {
  // The lists are the series' members and the series is never a constant
  // object itself: the copy changes how the values are held, not what they are.
  if (kind_ != Kind::Own && owner_) const_cast<TChartSeries*>(owner_)->OwnPoints();
}

void TChartValueList::BorrowConstant(int count, double value) {
  kind_ = Kind::Constant;
  count_ = count;
  constant_ = value;
  stepped_ = nullptr;
  ChangedToOneValue();
}

void TChartValueList::BorrowStepped(int count, const TSteppedPoints* points, bool x) {
  kind_ = x ? Kind::SteppedX : Kind::SteppedY;
  count_ = count;
  stepped_ = points;
  Changed();
}

void TChartValueList::StoredInto(std::vector<double>& into) const {
  const auto n = static_cast<std::size_t>(Count());
  if (kind_ == Kind::Constant) {
    into.assign(n, constant_);
    return;
  }
  into.resize(n);
  for (std::size_t i = 0; i < n; ++i) into[i] = Stored(i);
}

void TChartValueList::InsertAt(int index, double value) {
  if (index < 0 || index > Count()) ThrowListIndexError(index);
  MakeOwn();
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
  MakeOwn();
  const int place = OrderedPlace(value);
  if (Count() == std::numeric_limits<int>::max()) throw std::length_error("TChartValueList");
  ReserveOne();
  values_.insert(values_.begin() + place, value);
  Changed();
  return place;
}

void TChartValueList::RemoveAt(int index) {
  CheckIndex(index);
  MakeOwn();
  values_.erase(values_.begin() + index);
  Changed();
}

void TChartValueList::RemoveAll() {
  MakeOwn();
  std::vector<double>().swap(values_);
  Changed();
}

void TChartValueList::Recompute() const {
  lowest_ = highest_ = sum_ = absSum_ = 0;
  counted_ = 0;
  const auto n = static_cast<std::size_t>(Count());
  if (kind_ == Kind::Constant && (n == 0 || Read(0) == 0 || Read(0) != Read(0))) {
    // A series just prepared for a sweep: millions of zeros (or gaps) need
    // no walk; their sums are exact.
    const double v = n > 0 ? Read(0) : 0;
    if (n > 0 && v == v) {
      lowest_ = highest_ = sum_ = v;
      absSum_ = 0;
      counted_ = static_cast<int>(n);
    }
    statsStale_ = false;
    return;
  }
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
  const bool number = Count() == 0 || !std::isnan(Read(0));
  ascending_ = number;
  uniform_ = number;
  shapeFor_ = version_;
}

void TChartValueList::WorkOutSteppedShape() const {
  const TSteppedPoints& p = *stepped_;
  const auto n = static_cast<std::size_t>(Count());
  bool ascending = true, uniform = true;
  const double first = n > 0 ? Read(0) : 0;
  double before = first;
  // Points past the source's end repeat its last one: only the steps up to
  // the last point read need looking at.
  const std::size_t per = static_cast<std::size_t>(p.perStep);
  const std::size_t last = n > 0 ? p.Clamp(n - 1) : 0;
  for (std::size_t s = 0; n > 0 && s * per <= last && (ascending || uniform); ++s) {
    const double lo = Read(s * per), hi = Read(std::min(last, s * per + per - 1));
    // NaN ends both, as in the walk; inside a step X is monotone in the
    // offset, so its ends bound it.
    ascending = ascending && before <= lo && lo <= hi;
    uniform = uniform && lo == first && hi == first;
    before = hi;
  }
  ascending_ = ascending;
  uniform_ = uniform;
  shapeFor_ = version_;
}

void TChartValueList::WorkOutShape() const {
  if (kind_ == Kind::SteppedX) {
    WorkOutSteppedShape();
    return;
  }
  const auto n = static_cast<std::size_t>(Count());
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
      if (multiplier_ == 1.0 && kind_ == Kind::Own) {
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
