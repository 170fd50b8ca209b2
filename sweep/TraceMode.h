// What the trace shows: the sweep as measured (the written behaviour), the
// mean power of several transforms per step, or the live trace with a second
// line that holds each point's maximum. The engine computes live or averaged
// levels and, while the hold is on, each point's maximum; the window draws
// the held line over the live trace.
#pragma once

#include <optional>
#include <string_view>

namespace wg {

enum class TraceMode { Live, Average, PeakHold };

// The mode as the settings file and the command line write it: "live",
// "average", "peak-hold".
constexpr const char* TraceModeKey(TraceMode mode) {
  switch (mode) {
    case TraceMode::Average: return "average";
    case TraceMode::PeakHold: return "peak-hold";
    case TraceMode::Live: break;
  }
  return "live";
}

constexpr std::optional<TraceMode> TraceModeFromKey(std::string_view key) {
  for (TraceMode m : {TraceMode::Live, TraceMode::Average, TraceMode::PeakHold})
    if (key == TraceModeKey(m)) return m;
  return std::nullopt;
}

// The levels the engine computes for a mode: peak hold holds live levels.
constexpr TraceMode LevelComputation(TraceMode mode) {
  return mode == TraceMode::Average ? TraceMode::Average : TraceMode::Live;
}

}  // namespace wg
