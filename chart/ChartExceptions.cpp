#include "chart/ChartExceptions.h"

#include <string>

namespace wg {

namespace {

std::string ListIndexMessage(int index) {
  return "List index out of bounds (" + std::to_string(index) + ")";
}


}  // namespace

EListError::EListError(int index) : std::out_of_range(ListIndexMessage(index)), index_(index) {}

void ThrowListIndexError(int index) { throw EListError(index); }

}  // namespace wg
