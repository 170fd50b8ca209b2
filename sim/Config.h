// The simulator's settings, taken from the environment: the device list when
// the receivers are enumerated, everything else when a receiver is opened.
#pragma once

#include "sim/Tuner.h"

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

// No more than rtl_power flushes after a retune (4096 bytes): with more held
// stale, rtl_power would show each hop's signals again in the next, which it
// does not do on a real stick.
constexpr uint32_t kDefaultSettleBytes = 4096;
constexpr uint64_t kDefaultSeed = 1;
// How long a real stick's PLL takes to settle after a retune, as long as
// rtl_power waits after each one.
constexpr uint32_t kDefaultTuneUs = 5000;
constexpr uint32_t kMaxTuneUs = 10000000;
constexpr uint32_t kMaxReplugMs = 86400000;
constexpr double kMaxLnaDb = 60;
// More simulated sticks than this make no sense on one USB bus.
constexpr uint32_t kMaxDevices = 64;

struct Config {
  // The same for every stick.
  std::string scenePath;  // empty: the default scene
  bool paced = true;
  uint64_t seed = kDefaultSeed;
  // Paced: what the stick's pipeline holds. Unpaced: the bytes after a
  // retune that still show the previous tuning.
  uint32_t settleBytes = kDefaultSettleBytes;
  // Paced: after a retune, what the stick makes this long is stale.
  uint32_t tuneUs = kDefaultTuneUs;
  // The demodulator's filter: levels roll off toward the band edges, what
  // lies just beyond them folds back in, and a DC offset marks the centre.
  bool filter = true;

  // The stick's own: RTLSDR_SIM_OPEN_FAIL, _FAULT, _FAULT_AFTER, _PPM,
  // _REPLUG_MS, _TUNER and _LNA_DB take a value per stick.
  bool openFails = false;
  Fault fault = Fault::None;
  uint64_t faultAfter = 0;  // the fault hits read number faultAfter + 1
  // The stick's true crystal error in ppm; none: the crystal is exact and
  // the frequency correction moves nothing of what is received.
  std::optional<double> crystalErrorPpm;
  // After an unplug the stick is plugged back in this much later; none: it
  // stays out.
  std::optional<uint32_t> replugMs;
  TunerKind tuner = TunerKind::R820t;
  // Gain of an amplifier at the antenna that the bias-T powers; 0: nothing
  // there, the bias-T changes nothing received.
  double lnaDb = 0;
};

// The largest crystal error RTLSDR_SIM_PPM takes, in ppm either way.
constexpr double kMaxCrystalErrorPpm = 100000;

// Reads the RTLSDR_SIM_* variables for stick `index` (its place among all
// the sticks configured, which its serial numbers). A value that does not
// read keeps the default and leaves a line in `warnings`.
//
// A per-stick variable holds a comma list: one plain value applies to every
// stick ("unplug"), several are taken in stick order ("0,12.5,-3"; sticks
// past the end keep the default, an empty place too), and INDEX:VALUE items
// set one stick ("1:unplug"), over any plain value ("hang,0:none").
Config ReadConfig(uint32_t index, std::vector<std::string>* warnings);

// RTLSDR_SIM_DEVICES: number of simulated sticks (default 1, 0 allowed).
uint32_t ConfiguredDeviceCount(std::vector<std::string>* warnings);

// Writes warnings to stderr, each prefixed with the simulator's name.
void Warn(const std::vector<std::string>& warnings);

}  // namespace wg::sim
