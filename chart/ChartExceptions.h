// The exceptions of the chart engine. Each carries a fixed English text; the
// property or data that refused keeps its old value.
#pragma once

#include <stdexcept>

namespace wg {

// Raised by axis setters that refuse a value.
class AxisException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised by chart and series operations that refuse a value.
class ChartException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The list-index error. One class for every list of the chart engine; the
// message carries the offending index.
class EListError : public std::out_of_range {
 public:
  explicit EListError(int index);
  int Index() const { return index_; }

 private:
  int index_;
};

[[noreturn]] void ThrowListIndexError(int index);

}  // namespace wg
