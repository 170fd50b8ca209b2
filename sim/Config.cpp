#include "sim/Config.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace wg::sim {
namespace {

const char* Env(const char* name) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : nullptr;
}

// A whole decimal number, nothing else.
bool ReadUnsigned(const char* text, uint64_t max, uint64_t& out) {
  if (!text || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno == ERANGE || *end != '\0' || v > max) return false;
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
bool ReadSigned(const char* text, double& out) {
  std::string_view s = text;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace

Config ReadConfig(std::vector<std::string>* warnings) {
  Config c;
  if (const char* scene = Env("RTLSDR_SIM_SCENE")) c.scenePath = scene;

  uint64_t pace = 1;
  Number("RTLSDR_SIM_PACE", 1, pace, warnings);
  c.paced = pace != 0;
  Number("RTLSDR_SIM_SEED", UINT64_MAX, c.seed, warnings);
  Number("RTLSDR_SIM_SETTLE_BYTES", UINT32_MAX, c.settleBytes, warnings);

  uint64_t openFail = 0;
  Number("RTLSDR_SIM_OPEN_FAIL", 1, openFail, warnings);
  c.openFails = openFail != 0;

  if (const char* f = Env("RTLSDR_SIM_FAULT")) {
    const std::string s = f;
    if (s == "short") c.fault = Fault::Short;
    else if (s == "error") c.fault = Fault::Error;
    else if (s == "unplug") c.fault = Fault::Unplug;
    else if (s == "hang") c.fault = Fault::Hang;
    else if (s == "none") c.fault = Fault::None;
    else if (warnings)
      warnings->push_back("RTLSDR_SIM_FAULT='" + s +
                          "' is not one of short, error, unplug, hang; no fault");
  }
  Number("RTLSDR_SIM_FAULT_AFTER", UINT64_MAX - 1, c.faultAfter, warnings);

  if (const char* text = Env("RTLSDR_SIM_PPM")) {
    double ppm = 0;
    if (ReadSigned(text, ppm) && std::abs(ppm) <= kMaxCrystalErrorPpm)
      c.crystalErrorPpm = ppm;
    else if (warnings)
      warnings->push_back(std::string("RTLSDR_SIM_PPM='") + text +
                          "' is not a number of ppm from -100000 to 100000; the crystal is exact");
  }
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
