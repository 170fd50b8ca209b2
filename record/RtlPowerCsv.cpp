#include "record/RtlPowerCsv.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>

namespace wg {
namespace {

// Large enough for any double in fixed notation with two decimals.
constexpr size_t kNumberRoom = 330;

// to_chars, unlike printf, never takes a locale's decimal comma; both round
// the exact binary value, so "%.2f" and this give the same text.
void AppendFixed2(std::string& out, double v) {
  char buf[kNumberRoom];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
  out.append(buf, r.ptr);
}

void AppendInteger(std::string& out, int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace

std::string RtlPowerTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d, %H:%M:%S", &tm);
  return std::string(buf, n);
}

namespace {

// The lines of a sweep of either form: each step's first frequency, its
// levels and what the steps share; or lines of their own (RtlPowerSweep::lines).
template <class Level>
size_t AppendLines(std::string& out, int bins, const std::vector<int64_t>& lows, const std::vector<Level>& levels,
                   int32_t sampleRate, double binWidth, int samples, std::chrono::system_clock::time_point when,
                   const std::vector<RtlPowerSweep::Line>& others = {}) {
  if (bins <= 0 && others.empty()) return 0;
  const size_t steps = others.empty() ? std::min(lows.size(), levels.size() / static_cast<size_t>(bins))
                                      : std::min(lows.size(), others.size());

  // The fields every line of the sweep shares, after the step's band.
  std::string head = RtlPowerTime(when);
  head += ", ";
  std::string tail = ", ";
  AppendFixed2(tail, binWidth);
  tail += ", ";
  AppendInteger(tail, samples);
  // Bands are as wide as rtl_power makes them: twice half the rate.
  const int64_t width = 2 * static_cast<int64_t>(sampleRate / 2);

  out.reserve(out.size() + steps * (head.size() + tail.size() + 24) + (levels.size() + steps) * 10u);
  size_t lines = 0;
  size_t first = 0;
  for (size_t s = 0; s < steps; ++s) {
    if (!others.empty()) bins = others[s].bins;
    if (bins <= 0 || first + static_cast<size_t>(bins) > levels.size()) break;
    const Level* lv = levels.data() + first;
    first += static_cast<size_t>(bins);
    bool measured = true;
    for (int i = 0; i < bins && measured; ++i) measured = std::isfinite(lv[i]);
    if (!measured) continue;
    out += head;
    AppendInteger(out, lows[s]);
    out += ", ";
    AppendInteger(out, others.empty() ? lows[s] + width : others[s].high);
    out += tail;
    for (int i = 0; i < bins; ++i) {
      out += ", ";
      AppendFixed2(out, lv[i]);
    }
    out += ", ";
    AppendFixed2(out, lv[bins - 1]);
    out += '\n';
    ++lines;
  }
  return lines;
}

}  // namespace

size_t AppendRtlPowerLines(std::string& out, const RtlPowerSweep& sweep) {
  return AppendLines(out, sweep.binsPerStep, sweep.lows, sweep.levels, sweep.sampleRate, sweep.binWidth, sweep.samples,
                     sweep.when, sweep.lines);
}

int32_t RtlPowerBand(const Sweep& sweep) {
  if (sweep.firstBin == 0) return sweep.sampleRate;
  return 2 * static_cast<int32_t>(sweep.pointsPerStep * sweep.binWidth / 2);
}

size_t AppendRtlPowerLines(std::string& out, const Sweep& sweep) {
  return AppendLines(out, sweep.pointsPerStep, sweep.stepStarts, sweep.levels, RtlPowerBand(sweep), sweep.binWidth,
                     sweep.transformsAveraged, sweep.finished);
}

}  // namespace wg
