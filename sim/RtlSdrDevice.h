// The simulated stick behind a librtlsdr handle, the list of open sticks, and
// what the device list, the settings and the two ways of reading share. The
// librtlsdr functions themselves are in the RtlSdrApi*.cpp files.
#pragma once

#include <rtl-sdr.h>

#include "sim/Config.h"
#include "sim/Generator.h"
#include "sim/Scene.h"
#include "sim/Tuner.h"

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

using Clock = std::chrono::steady_clock;

std::string SerialOf(uint32_t index);
void CopyUsbString(char* dst, const std::string& s);
std::array<uint8_t, kEepromSize> DefaultEeprom(const std::string& serial);

}  // namespace wg::sim

struct rtlsdr_dev {
  rtlsdr_dev(uint32_t i, wg::sim::Config c, std::vector<wg::sim::Emitter> scene);

  const uint32_t index;
  const std::string serial;
  const wg::sim::Config config;

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
  bool testMode = false;
  bool agc = false;
  int biasTeeGpio = -1;
  bool biasTeeOn = false;
  double receivedCentre = 0;  // where the delivered samples are still mixed from
  uint64_t settleLeft;        // bytes until a retune shows in the samples
  uint64_t syncReads = 0;
  bool unplugged = false;
  std::array<uint8_t, wg::sim::kEepromSize> eeprom;
  std::thread::id asyncThread;

  // One stretch of samples at a time.
  std::mutex stream;
  wg::sim::Generator generator;

  std::atomic<int> asyncStatus{wg::sim::kAsyncInactive};
  std::atomic<bool> asyncCancel{false};
};

namespace wg::sim {

// The device behind a handle, or nothing for a null, closed or foreign one.
std::shared_ptr<rtlsdr_dev> Find(rtlsdr_dev_t* h);
// Adds a newly opened stick; kUsbErrorBusy when its index is open already.
int Register(const std::shared_ptr<rtlsdr_dev>& d);
// Takes a stick off the list; nothing for a handle not on it.
std::shared_ptr<rtlsdr_dev> Unregister(rtlsdr_dev_t* h);

// The number of sticks the environment asks for; `warn` reports bad values.
uint32_t DeviceCount(bool warn);

// The *Locked functions expect the device's settings mutex held.
int SetCenterFreqLocked(rtlsdr_dev& d, uint32_t freq);
int SetSampleRateLocked(rtlsdr_dev& d, uint32_t rate);
double GainDbLocked(const rtlsdr_dev& d);
// Where the tuner's oscillator really is for the frequency set: exactly there
// unless the stick's crystal is given an error of its own.
double LocalOscillatorLocked(const rtlsdr_dev& d);

// Makes the next `len` bytes of the stream: the first ones still as received
// before the last retune, until the tuner has settled. Returns the sample
// rate the stretch ran at.
double Deliver(rtlsdr_dev& d, uint8_t* buf, size_t len);

// How long the stick takes to make `bytes` bytes at `rate` samples a second.
Clock::duration StreamTime(size_t bytes, double rate);

}  // namespace wg::sim
