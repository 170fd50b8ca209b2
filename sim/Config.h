// The simulator's settings, taken from the environment: the device list when
// the receivers are enumerated, everything else when a receiver is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wg::sim {

enum class Fault {
  None,
  Short,   // the read delivers fewer bytes than asked, result 0
  Error,   // the read fails with -1 and delivers nothing
  Unplug,  // the stick is gone: this and every later read fails with -4
  Hang,    // the read never returns
};

constexpr uint32_t kDefaultSettleBytes = 16384;
constexpr uint64_t kDefaultSeed = 1;
// More simulated sticks than this make no sense on one USB bus.
constexpr uint32_t kMaxDevices = 64;

struct Config {
  std::string scenePath;  // empty: the default scene
  bool paced = true;
  uint64_t seed = kDefaultSeed;
  uint32_t settleBytes = kDefaultSettleBytes;
  bool openFails = false;
  Fault fault = Fault::None;
  uint64_t faultAfter = 0;  // the fault hits read number faultAfter + 1
  // The stick's true crystal error in ppm; none: the crystal is exact and
  // the frequency correction moves nothing of what is received.
  std::optional<double> crystalErrorPpm;
};

// The largest crystal error RTLSDR_SIM_PPM takes, in ppm either way.
constexpr double kMaxCrystalErrorPpm = 100000;

// Reads the RTLSDR_SIM_* variables. A value that does not read keeps the
// default and leaves a line in `warnings`.
Config ReadConfig(std::vector<std::string>* warnings);

// RTLSDR_SIM_DEVICES: number of simulated sticks (default 1, 0 allowed).
uint32_t ConfiguredDeviceCount(std::vector<std::string>* warnings);

// Writes warnings to stderr, each prefixed with the simulator's name.
void Warn(const std::vector<std::string>& warnings);

}  // namespace wg::sim
