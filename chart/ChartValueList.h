// One coordinate (X or Y) of every point of a series.
//
// Storage is one contiguous array per coordinate, built for cheap in-place
// writes and cheap lazy statistics rather than for cheap insertion. A list
// may also hold no values of its own: one value for every point (a series
// just prepared for a sweep), or a coordinate of points the series shows
// from elsewhere (TSteppedPoints). The first change through the list's
// operations copies the values into storage of its own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "chart/ChartExceptions.h"
#include "chart/SteppedPoints.h"

namespace wg {

class TChartSeries;

enum TChartListOrder { loNone, loAscending, loDescending };

namespace detail {

// Vectors that only ever grow by one element double their capacity by
// default; at millions of points that wastes up to half the block. Growing by
// half keeps the slack of a large series under a third of its size.
template <typename T>
void GrowForOne(std::vector<T>& v) {
  if (v.size() < v.capacity()) return;
  const std::size_t cap = v.capacity();
  v.reserve(std::max<std::size_t>(16, cap + cap / 2));
}

}  // namespace detail

class TChartValueList {
 public:
  TChartValueList(TChartSeries* owner, std::string name);

  TChartValueList(const TChartValueList&) = delete;
  TChartValueList& operator=(const TChartValueList&) = delete;

  TChartSeries* Owner() const { return owner_; }

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // A factor applied when a value is read; stored values never change with it.
  double Multiplier() const { return multiplier_; }
  void SetMultiplier(double m);

  // Governs where later adds go; existing values are not re-sorted.
  TChartListOrder Order() const { return order_; }
  void SetOrder(TChartListOrder o) { order_ = o; }

  bool DateTime() const { return dateTime_; }
  void SetDateTime(bool b) { dateTime_ = b; }
  const std::string& ValueSource() const { return valueSource_; }
  void SetValueSource(std::string s) { valueSource_ = std::move(s); }

  // Copies Order, DateTime, Multiplier and ValueSource (not the values).
  void AssignSettings(const TChartValueList& other);

  int Count() const { return kind_ == Kind::Own ? static_cast<int>(values_.size()) : count_; }
  // Stored value times Multiplier. Throws EListError outside 0 .. Count-1.
  double ValueAt(int index) const {
    CheckIndex(index);
    return Read(static_cast<std::size_t>(index));
  }
  // The same without the index check, for walks over the whole list.
  double ReadUnchecked(std::size_t index) const { return Read(index); }
  // The stored value, without Multiplier and without the index check.
  double StoredUnchecked(std::size_t index) const { return Stored(index); }
  double LastValue() const { return ValueAt(Count() - 1); }
  // Overwrites the stored value in place: no reordering, no redraw request.
  void SetValueAt(int index, double value) {
    CheckIndex(index);
    MakeOwn();
    values_[static_cast<std::size_t>(index)] = value;
    Changed();
  }
  // Accepts 0 .. Count; later values move up by one.
  void InsertAt(int index, double value);
  // Inserts where Order says: after every equal value, searching from the end.
  int AddOrdered(double value);
  void RemoveAt(int index);
  // Removes every value and gives the storage back.
  void RemoveAll();

  // Statistics of the values as read, recomputed on the first read after a
  // change. NaN values (gaps) are left out; all 0 when no value is left.
  double LowestValue() const;
  double HighestValue() const;
  double ValueSum() const;
  double AbsoluteValueSum() const;
  bool StatsStale() const { return statsStale_; }
  // Counts the changes of the values as read: what is worked out from them
  // and kept (the fast line's columns) is good while this stays the same.
  std::uint64_t Version() const { return version_; }
  // Whether every value as read is a number and none lies below the one
  // before it, so that searches may bisect. Worked out once per change.
  bool Ascending() const;
  // Whether every value as read is one and the same number (a series just
  // prepared for a sweep), so that drawing may stop after the first point.
  bool Uniform() const;
  // How many values the statistics took in (every value but the NaNs).
  int CountedValues() const;

  // Stored values (without Multiplier), for readers that walk the whole list.
  // A list without values of its own (see Borrowed) gets them first.
  const std::vector<double>& Values() const {
    MakeOwn();
    return values_;
  }
  std::size_t Capacity() const { return values_.capacity(); }
  // Whether the values are not the list's own: one value for every point,
  // or points shown from elsewhere.
  bool Borrowed() const { return kind_ != Kind::Own; }
  // Every point has the same stored value (and none of its own storage).
  bool Constant() const { return kind_ == Kind::Constant; }

 private:
  friend class TChartSeries;

  enum class Kind : unsigned char { Own, Constant, SteppedX, SteppedY };

  double Stored(std::size_t i) const {
    switch (kind_) {
      case Kind::Own: return values_[i];
      case Kind::Constant: return constant_;
      case Kind::SteppedX: return stepped_->X(i);
      case Kind::SteppedY: return stepped_->Y(i);
    }
    return constant_;
  }
  double Read(std::size_t i) const {
    // The product is formed in extended precision and then rounded once to a
    // double, which is not always what a plain double product gives.
    if (multiplier_ == 1.0) return Stored(i);
    return static_cast<double>(static_cast<long double>(Stored(i)) * multiplier_);
  }
  // Before any change of the values: the owner copies every borrowed value
  // into storage of its own (for both lists at once).
  void MakeOwn() const;
  // The values become `count` times `value` / a coordinate of `points`
  // (kept by the owner), without storage; the own storage is left as it is.
  void BorrowConstant(int count, double value);
  void BorrowStepped(int count, const TSteppedPoints* points, bool x);
  // The borrowed values as stored, into `into` (Count() of them); no
  // allocation when it has the room.
  void StoredInto(std::vector<double>& into) const;
  // The values are the own storage's again (the owner has filled it).
  void Own() {
    kind_ = Kind::Own;
    count_ = 0;
    stepped_ = nullptr;
  }
  void CheckIndex(int index) const {
    if (index < 0 || index >= Count()) ThrowListIndexError(index);
  }
  // Index AddOrdered would use, without inserting.
  int OrderedPlace(double value) const;
  // Room for one more value; growth by half keeps a large list's slack small.
  void ReserveOne();
  void Recompute() const;
  void Changed() {
    statsStale_ = true;
    ++version_;
  }
  // After the values were all set to one: their shape needs no walk.
  void ChangedToOneValue();
  void WorkOutShape() const;
  // The shape of stepped X from each step's ends: X rises, or stays, with
  // the offset inside a step.
  void WorkOutSteppedShape() const;

  TChartSeries* owner_;
  std::string name_;
  double multiplier_ = 1.0;
  TChartListOrder order_ = loNone;
  bool dateTime_ = false;
  std::string valueSource_;
  std::vector<double> values_;
  Kind kind_ = Kind::Own;
  int count_ = 0;  // the values when not Own
  double constant_ = 0;
  const TSteppedPoints* stepped_ = nullptr;

  mutable bool statsStale_ = true;
  mutable double lowest_ = 0, highest_ = 0, sum_ = 0, absSum_ = 0;
  mutable int counted_ = 0;
  std::uint64_t version_ = 0;
  mutable std::uint64_t shapeFor_ = ~std::uint64_t{0};
  mutable bool ascending_ = false, uniform_ = false;
};

}  // namespace wg
