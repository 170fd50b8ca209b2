#include "ui/waterfall/WaterfallColours.h"

namespace wg {

bool TWaterfallPalette::SetRange(double lo, double hi) {
  if (built_ && lo == lo_ && hi == hi_) return false;
  built_ = true;
  lo_ = lo;
  hi_ = hi;
  for (int v = TWaterfallHistory::kLowestLevel; v <= 32767; ++v)
    table_[static_cast<std::size_t>(v + 32768)] =
        ScaleColour(TWaterfallHistory::Decode(static_cast<TWaterfallHistory::Level>(v)), lo, hi);
  table_[static_cast<std::size_t>(TWaterfallHistory::kNoData + 32768)] = kWaterfallNoData;
  table_[static_cast<std::size_t>(TWaterfallHistory::kUntuned + 32768)] = kWaterfallUntuned;
  return true;
}

}  // namespace wg
