#include "sim/Config.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace wg::sim {
namespace {

const char* Env(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : nullptr;
}

// A whole decimal number, nothing else.
bool ReadUnsigned(std::string_view text, uint64_t max, uint64_t& out) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v > max) return false;
  out = v;
  return true;
}

template <typename T>
void Number(const char* name, uint64_t max, T& field, std::vector<std::string>* warnings) {
  const char* text = Env(name);
  if (!text) return;
  uint64_t v = 0;
  if (ReadUnsigned(text, max, v)) {
    field = static_cast<T>(v);
  } else if (warnings) {
    warnings->push_back(std::string(name) + "='" + text + "' is not a whole number from 0 to " +
                        std::to_string(max) + "; using " + std::to_string(field));
  }
}

// A decimal number with an optional sign and fraction, the same in every
// locale.
bool ReadSigned(std::string_view s, double& out) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// How one per-stick value reads, what it must be, and what is used instead.
template <typename T>
struct ValueSyntax {
  bool (*read)(std::string_view, T&);
  const char* expected;
  const char* fallback;
};

// The value of a per-stick list for stick `index` (see ReadConfig). Every
// item is checked, so that a mistake shows whichever stick is opened.
template <typename T>
void PerStick(const char* name, uint32_t index, const ValueSyntax<T>& syntax, T& field,
              std::vector<std::string>* warnings) {
  const char* text = Env(name);
  if (!text) return;
  const std::string_view all = text;
  auto complain = [&](std::string_view item, const std::string& what) {
    if (!warnings) return;
    const std::string whole = std::string(name) + "='" + text + "'";
    warnings->push_back(item == all ? whole + " " + what
                                    : whole + ": '" + std::string(item) + "' " + what);
  };
  std::optional<T> indexed, positional, first;
  uint64_t plain = 0;
  for (size_t pos = 0; pos <= all.size();) {
    size_t comma = all.find(',', pos);
    if (comma == std::string_view::npos) comma = all.size();
    const std::string_view item = all.substr(pos, comma - pos);
    pos = comma + 1;
    std::string_view value = item;
    std::optional<uint64_t> at;
    if (const size_t colon = item.find(':'); colon != std::string_view::npos) {
      uint64_t i = 0;
      if (!ReadUnsigned(item.substr(0, colon), kMaxDevices - 1, i)) {
        complain(item, "does not name a stick from 0 to " + std::to_string(kMaxDevices - 1) +
                           " (INDEX:VALUE); ignored");
        continue;
      }
      at = i;
      value = item.substr(colon + 1);
    } else {
      ++plain;
      if (value.empty()) continue;  // an empty place: that stick keeps the default
    }
    T v{};
    if (!syntax.read(value, v)) {
      complain(item, std::string("is not ") + syntax.expected + "; " + syntax.fallback);
      continue;
    }
    if (at) {
      if (*at == index) indexed = v;
    } else {
      if (plain == 1) first = v;
      if (plain == index + 1) positional = v;
    }
  }
  if (indexed) field = *indexed;
  else if (plain == 1 && first) field = *first;
  else if (plain > 1 && positional) field = *positional;
}

bool ReadFault(std::string_view s, Fault& out) {
  if (s == "short") out = Fault::Short;
  else if (s == "error") out = Fault::Error;
  else if (s == "unplug") out = Fault::Unplug;
  else if (s == "hang") out = Fault::Hang;
  else if (s == "none") out = Fault::None;
  else return false;
  return true;
}

bool ReadFlag(std::string_view s, bool& out) {
  uint64_t v = 0;
  if (!ReadUnsigned(s, 1, v)) return false;
  out = v != 0;
  return true;
}

bool ReadAfter(std::string_view s, uint64_t& out) { return ReadUnsigned(s, UINT64_MAX - 1, out); }

bool ReadPpm(std::string_view s, std::optional<double>& out) {
  double v = 0;
  if (!ReadSigned(s, v) || std::abs(v) > kMaxCrystalErrorPpm) return false;
  out = v;
  return true;
}

bool ReadReplug(std::string_view s, std::optional<uint32_t>& out) {
  uint64_t v = 0;
  if (!ReadUnsigned(s, kMaxReplugMs, v)) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool ReadTuner(std::string_view s, TunerKind& out) {
  if (s == "r820t") out = TunerKind::R820t;
  else if (s == "e4000") out = TunerKind::E4000;
  else return false;
  return true;
}

bool ReadLna(std::string_view s, double& out) {
  double v = 0;
  if (!ReadSigned(s, v) || v < 0 || v > kMaxLnaDb) return false;
  out = v;
  return true;
}

}  // namespace

Config ReadConfig(uint32_t index, std::vector<std::string>* warnings) {
  Config c;
  if (const char* scene = Env("RTLSDR_SIM_SCENE")) c.scenePath = scene;

  uint64_t pace = 1;
  Number("RTLSDR_SIM_PACE", 1, pace, warnings);
  c.paced = pace != 0;
  Number("RTLSDR_SIM_SEED", UINT64_MAX, c.seed, warnings);
  Number("RTLSDR_SIM_SETTLE_BYTES", UINT32_MAX, c.settleBytes, warnings);
  Number("RTLSDR_SIM_TUNE_US", kMaxTuneUs, c.tuneUs, warnings);
  uint64_t filter = 1;
  Number("RTLSDR_SIM_FILTER", 1, filter, warnings);
  c.filter = filter != 0;

  PerStick("RTLSDR_SIM_OPEN_FAIL", index, ValueSyntax<bool>{ReadFlag, "0 or 1", "opens"},
           c.openFails, warnings);
  PerStick("RTLSDR_SIM_FAULT", index,
           ValueSyntax<Fault>{ReadFault, "one of none, short, error, unplug, hang", "no fault"},
           c.fault, warnings);
  PerStick("RTLSDR_SIM_FAULT_AFTER", index,
           ValueSyntax<uint64_t>{ReadAfter, "a whole number of reads", "using 0"}, c.faultAfter,
           warnings);
  PerStick("RTLSDR_SIM_PPM", index,
           ValueSyntax<std::optional<double>>{ReadPpm, "a number of ppm from -100000 to 100000",
                                              "the crystal is exact"},
           c.crystalErrorPpm, warnings);
  PerStick("RTLSDR_SIM_REPLUG_MS", index,
           ValueSyntax<std::optional<uint32_t>>{ReadReplug, "a number of ms from 0 to 86400000",
                                                "an unplugged stick does not come back"},
           c.replugMs, warnings);
  PerStick("RTLSDR_SIM_TUNER", index,
           ValueSyntax<TunerKind>{ReadTuner, "r820t or e4000", "an R820T"}, c.tuner, warnings);
  PerStick("RTLSDR_SIM_LNA_DB", index,
           ValueSyntax<double>{ReadLna, "a gain in dB from 0 to 60", "no amplifier"}, c.lnaDb,
           warnings);
  return c;
}

uint32_t ConfiguredDeviceCount(std::vector<std::string>* warnings) {
  uint32_t n = 1;
  Number("RTLSDR_SIM_DEVICES", kMaxDevices, n, warnings);
  return n;
}

void Warn(const std::vector<std::string>& warnings) {
  for (const std::string& w : warnings) std::fprintf(stderr, "rtlsdr-sim: %s\n", w.c_str());
}

}  // namespace wg::sim
