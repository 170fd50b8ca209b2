// The simulated stick behind a librtlsdr handle and what the device list, the
// settings and the two ways of reading share. The librtlsdr functions
// themselves are in the RtlSdrApi*.cpp files.
#pragma once

#include <rtl-sdr.h>

#include "sim/Config.h"
#include "sim/Generator.h"
#include "sim/Scene.h"
#include "sim/Tuner.h"
#include "sim/UsbBus.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wg::sim {

// libusb's codes, which the real library passes on from its transfers.
constexpr int kUsbErrorIo = -1;
constexpr int kUsbErrorInvalidParam = -2;
constexpr int kUsbErrorNoDevice = -4;
constexpr int kUsbErrorBusy = -6;
constexpr int kUsbErrorNoMem = -11;

constexpr const char* kDeviceName = "Generic RTL2832U OEM";
constexpr const char* kManufacturer = "Realtek";
constexpr const char* kProduct = "RTL2838UHIDIR";
constexpr size_t kUsbStringSize = 256;
constexpr size_t kEepromSize = 256;

// Before a rate is set the demodulator runs at its power-on rate.
constexpr uint32_t kPowerOnRate = 2048000;

// Asynchronous reading, as the real library names its states.
constexpr int kAsyncInactive = 0;
constexpr int kAsyncCanceling = 1;
constexpr int kAsyncRunning = 2;

std::string SerialOf(uint32_t index);
void CopyUsbString(char* dst, const std::string& s);
std::array<uint8_t, kEepromSize> DefaultEeprom(const std::string& serial);

}  // namespace wg::sim

struct rtlsdr_dev {
  rtlsdr_dev(uint32_t stick, wg::sim::Config c, std::vector<wg::sim::Emitter> scene);

  const uint32_t index;  // the stick's place among all configured
  const std::string serial;
  const wg::sim::Config config;
  const wg::sim::TunerModel& tuner;

  // Guards the settings and the stream's bookkeeping below. Never held while
  // samples are made, while a read waits out its time, or in a callback.
  std::mutex settings;
  uint32_t rtlXtal = wg::sim::kXtalHz;
  uint32_t tunerXtal = wg::sim::kXtalHz;
  uint32_t rate = 0;
  uint32_t freq = 0;
  int ppm = 0;
  bool manualGain = false;
  int gain = 0;
  uint32_t bandwidth = 0;
  int directSampling = 0;
  uint32_t offsetHz = 0;  // offset tuning's; 0: off
  bool testMode = false;
  bool agc = false;
  int biasTeeGpio = -1;
  bool biasTeeOn = false;
  double receivedCentre = 0;  // where stale samples are still mixed from
  // Unpaced: the bytes until a retune shows in the samples.
  uint64_t settleLeft;
  // Paced, the stick samples all the time: everything made before freshAt
  // (the last retune plus the tuning delay) is stale, and the next byte to
  // deliver was made at streamAt. The pipeline holds only the newest
  // settleBytes; older ones nobody read are gone.
  wg::sim::Clock::time_point freshAt{};
  wg::sim::Clock::time_point streamAt;
  uint64_t syncReads = 0;
  std::array<uint8_t, wg::sim::kEepromSize> eeprom;
  std::thread::id asyncThread;

  // Pulled out: every read fails from now on. Read by the bus without the
  // settings held.
  std::atomic<bool> unplugged{false};

  // One stretch of samples at a time.
  std::mutex stream;
  wg::sim::Generator generator;

  std::atomic<int> asyncStatus{wg::sim::kAsyncInactive};
  std::atomic<bool> asyncCancel{false};
};

namespace wg::sim {

// The *Locked functions expect the device's settings mutex held.
int SetCenterFreqLocked(rtlsdr_dev& d, uint32_t freq);
int SetSampleRateLocked(rtlsdr_dev& d, uint32_t rate);
double GainDbLocked(const rtlsdr_dev& d);
// Where the tuner's oscillator really is for the frequency set: exactly there
// unless the stick's crystal is given an error of its own.
double LocalOscillatorLocked(const rtlsdr_dev& d);

struct Delivery {
  Clock::time_point due;  // paced: when the stick has made the last byte of it
};

// Makes the next `len` bytes of the stream: first what the pipeline holds,
// then samples as the stick makes them; those from before the last retune
// has settled are still as received before it.
Delivery Deliver(rtlsdr_dev& d, uint8_t* buf, size_t len);

// How long the stick takes to make `bytes` bytes at `rate` samples a second.
Clock::duration StreamTime(size_t bytes, double rate);

}  // namespace wg::sim
