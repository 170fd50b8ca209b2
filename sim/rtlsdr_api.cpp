// The librtlsdr interface of the simulated stick. Results, error codes and
// read-back values follow what the real library gives for the same calls,
// except where the real library would crash on bad input: here that input
// is refused with an error.

#include <rtl-sdr.h>

#include "config.h"
#include "generator.h"
#include "scene.h"
#include "tuner.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace wg::sim;
using Clock = std::chrono::steady_clock;

// libusb's codes, which the real library passes on from its transfers.
constexpr int kUsbErrorIo = -1;
constexpr int kUsbErrorInvalidParam = -2;
constexpr int kUsbErrorNoDevice = -4;
constexpr int kUsbErrorBusy = -6;
constexpr int kUsbErrorNoMem = -11;

constexpr const char* kDeviceName = "Generic RTL2832U OEM";
constexpr const char* kManufacturer = "Realtek";
constexpr const char* kProduct = "RTL2838UHIDIR";
constexpr uint16_t kVendorId = 0x0bda;
constexpr uint16_t kProductId = 0x2838;
constexpr size_t kUsbStringSize = 256;
constexpr size_t kEepromSize = 256;

// Before a rate is set the demodulator runs at its power-on rate.
constexpr uint32_t kPowerOnRate = 2048000;

// Asynchronous reading, as the real library names its states.
constexpr int kAsyncInactive = 0;
constexpr int kAsyncCanceling = 1;
constexpr int kAsyncRunning = 2;
constexpr uint32_t kDefaultBufferCount = 15;
constexpr uint32_t kDefaultBufferLength = 16 * 32 * 512;
// Buffers handed to the callback in turn; more would only cost memory.
constexpr uint32_t kMaxRingBuffers = 4;

std::string SerialOf(uint32_t index) {
  char s[16];
  std::snprintf(s, sizeof s, "%08u", index + 1);
  return s;
}

void CopyUsbString(char* dst, const std::string& s) {
  if (!dst) return;
  std::memset(dst, 0, kUsbStringSize);
  std::memcpy(dst, s.data(), std::min(s.size(), kUsbStringSize - 1));
}

// The stick's configuration EEPROM in the layout the rtl-sdr tools read:
// signature, USB ids, flags, then the three USB strings as descriptors.
std::array<uint8_t, kEepromSize> DefaultEeprom(const std::string& serial) {
  std::array<uint8_t, kEepromSize> e;
  e.fill(0xff);
  e[0] = 0x28;
  e[1] = 0x32;
  e[2] = kVendorId & 0xff;
  e[3] = kVendorId >> 8;
  e[4] = kProductId & 0xff;
  e[5] = kProductId >> 8;
  e[6] = 0xa5;  // has a serial number
  e[7] = 0x16;
  e[8] = 0x02;
  size_t pos = 9;
  for (const std::string& s : {std::string(kManufacturer), std::string(kProduct), serial}) {
    e[pos] = static_cast<uint8_t>(2 + 2 * s.size());
    e[pos + 1] = 0x03;
    for (size_t i = 0; i < s.size(); ++i) {
      e[pos + 2 + 2 * i] = static_cast<uint8_t>(s[i]);
      e[pos + 3 + 2 * i] = 0;
    }
    pos += 2 + 2 * s.size();
  }
  return e;
}

}  // namespace

struct rtlsdr_dev {
  rtlsdr_dev(uint32_t i, Config c, std::vector<Emitter> scene)
      : index(i),
        serial(SerialOf(i)),
        config(std::move(c)),
        settleLeft(0),
        eeprom(DefaultEeprom(serial)),
        generator(std::move(scene), config.seed + 0x9e3779b97f4a7c15ull * i) {}

  const uint32_t index;
  const std::string serial;
  const Config config;

  // Guards the settings and the stream's bookkeeping below. Never held while
  // samples are made, while a read waits out its time, or in a callback.
  std::mutex settings;
  uint32_t rtlXtal = kXtalHz;
  uint32_t tunerXtal = kXtalHz;
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
  double receivedCentre = 0;  // the centre the delivered samples still show
  uint64_t settleLeft;        // bytes until a retune shows in the samples
  uint64_t syncReads = 0;
  bool unplugged = false;
  std::array<uint8_t, kEepromSize> eeprom;
  std::thread::id asyncThread;

  // One stretch of samples at a time.
  std::mutex stream;
  Generator generator;

  std::atomic<int> asyncStatus{kAsyncInactive};
  std::atomic<bool> asyncCancel{false};
};

namespace {

struct Registry {
  std::mutex m;
  std::vector<std::shared_ptr<rtlsdr_dev>> open;
};

// Never destroyed: a thread still inside the library while the program
// exits (a hung read, a worker not yet joined) must find it intact. Its heap
// storage goes with the last stick closed, so that a program that closes its
// sticks and unloads the library leaves nothing behind.
Registry& Reg() {
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry* const r = new (storage) Registry;
  return *r;
}

// A program may unload the library with sticks still open (Wideglass never
// closes its stick). The registry stays in place for any thread still inside,
// but the sticks and the list's storage go with the library, so that nothing
// is left behind unreachable.
__attribute__((destructor)) void ReleaseOpenSticks() {
  Registry& r = Reg();
  std::vector<std::shared_ptr<rtlsdr_dev>> gone;
  {
    std::lock_guard lock(r.m);
    gone.swap(r.open);
  }
}

// The device behind a handle, or nothing for a null, closed or foreign one.
std::shared_ptr<rtlsdr_dev> Find(rtlsdr_dev_t* h) {
  if (!h) return {};
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  for (const auto& p : r.open)
    if (p.get() == h) return p;
  return {};
}

uint32_t DeviceCount(bool warn) {
  std::vector<std::string> w;
  const uint32_t n = ConfiguredDeviceCount(&w);
  if (warn) Warn(w);
  return n;
}

int SetCenterFreqLocked(rtlsdr_dev& d, uint32_t freq) {
  // Direct sampling bypasses the tuner, so any frequency goes.
  const bool locks = d.directSampling != 0 || (freq >= kTunerMinHz && freq <= kTunerMaxHz);
  d.freq = locks ? freq : 0;
  d.settleLeft = d.config.settleBytes;
  if (d.settleLeft == 0) d.receivedCentre = d.freq;
  return locks ? 0 : -1;
}

int SetSampleRateLocked(rtlsdr_dev& d, uint32_t rate) {
  if (!SampleRateAccepted(rate)) {
    std::fprintf(stderr, "Invalid sample rate: %u Hz\n", rate);
    return -EINVAL;
  }
  d.rate = ResampledRate(d.rtlXtal, rate);
  return 0;
}

double GainDbLocked(const rtlsdr_dev& d) {
  if (d.directSampling) return 0;  // no tuner in the path
  return (d.manualGain ? SettledGainTenths(d.gain) : kAutoGainTenths) / 10.0;
}

// Makes the next `len` bytes of the stream: the first ones still as received
// before the last retune, until the tuner has settled.
// Returns the sample rate the stretch ran at.
double Deliver(rtlsdr_dev& d, uint8_t* buf, size_t len) {
  std::lock_guard streamLock(d.stream);
  Reception before, after;
  size_t oldBytes = 0;
  bool counter = false;
  {
    std::lock_guard lock(d.settings);
    after.rateHz = d.rate ? d.rate : kPowerOnRate;
    after.gainDb = GainDbLocked(d);
    after.centreHz = d.freq;
    before = after;
    before.centreHz = d.receivedCentre;
    oldBytes = static_cast<size_t>(std::min<uint64_t>(d.settleLeft, len));
    d.settleLeft -= oldBytes;
    if (d.settleLeft == 0) d.receivedCentre = d.freq;
    counter = d.testMode;
  }
  if (counter) {
    d.generator.FillCounter(buf, len);
  } else {
    d.generator.Fill(buf, oldBytes, before);
    d.generator.Fill(buf + oldBytes, len - oldBytes, after);
  }
  return after.rateHz;
}

Clock::duration StreamTime(size_t bytes, double rate) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(bytes / 2.0 / rate));
}

[[noreturn]] void HangForever() {
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace

extern "C" {

uint32_t rtlsdr_get_device_count(void) { return DeviceCount(true); }

const char* rtlsdr_get_device_name(uint32_t index) {
  return index < DeviceCount(false) ? kDeviceName : "";
}

int rtlsdr_get_device_usb_strings(uint32_t index, char* manufact, char* product, char* serial) {
  if (index >= DeviceCount(false)) return -2;
  CopyUsbString(manufact, kManufacturer);
  CopyUsbString(product, kProduct);
  CopyUsbString(serial, SerialOf(index));
  return 0;
}

int rtlsdr_get_index_by_serial(const char* serial) {
  if (!serial) return -1;
  const uint32_t n = DeviceCount(false);
  if (n == 0) return -2;
  for (uint32_t i = 0; i < n; ++i)
    if (SerialOf(i) == serial) return static_cast<int>(i);
  return -3;
}

int rtlsdr_open(rtlsdr_dev_t** out_dev, uint32_t index) {
  if (!out_dev) return -1;
  std::vector<std::string> warnings;
  const uint32_t count = ConfiguredDeviceCount(&warnings);
  Config config = ReadConfig(&warnings);
  Warn(warnings);
  if (index >= count || config.openFails) return -1;

  std::vector<Emitter> scene;
  if (config.scenePath.empty()) {
    scene = DefaultScene();
  } else {
    std::vector<std::string> problems;
    std::string error;
    if (!LoadSceneFile(config.scenePath, scene, problems, error)) {
      Warn({error});
      return -1;
    }
    for (std::string& p : problems) p = config.scenePath + ": " + p;
    Warn(problems);
  }

  std::shared_ptr<rtlsdr_dev> d;
  try {
    d = std::make_shared<rtlsdr_dev>(index, std::move(config), std::move(scene));
  } catch (const std::bad_alloc&) {
    return kUsbErrorNoMem;
  }
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  for (const auto& p : r.open) {
    if (p->index == index) {
      // The stick's interface is claimed by the handle already open.
      std::fprintf(stderr, "usb_claim_interface error %d\n", kUsbErrorBusy);
      return kUsbErrorBusy;
    }
  }
  r.open.push_back(d);
  *out_dev = d.get();
  return 0;
}

int rtlsdr_close(rtlsdr_dev_t* dev) {
  std::shared_ptr<rtlsdr_dev> d;
  {
    Registry& r = Reg();
    std::lock_guard lock(r.m);
    auto it = std::find_if(r.open.begin(), r.open.end(),
                           [dev](const auto& p) { return dev && p.get() == dev; });
    if (it == r.open.end()) return -1;
    d = *it;
    r.open.erase(it);
    if (r.open.empty()) std::vector<std::shared_ptr<rtlsdr_dev>>().swap(r.open);
  }
  bool fromCallback;
  {
    std::lock_guard lock(d->settings);
    fromCallback = d->asyncThread == std::this_thread::get_id();
  }
  // Stop an asynchronous reading still under way and wait for it to end,
  // unless this is its own callback: that one ends when it returns.
  int expected = kAsyncRunning;
  if (d->asyncStatus.compare_exchange_strong(expected, kAsyncCanceling)) d->asyncCancel = true;
  if (!fromCallback)
    while (d->asyncStatus.load() != kAsyncInactive)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // A stretch of samples being made finishes first.
  std::lock_guard streamLock(d->stream);
  return 0;
}

int rtlsdr_set_xtal_freq(rtlsdr_dev_t* dev, uint32_t rtl_freq, uint32_t tuner_freq) {
  auto d = Find(dev);
  if (!d) return -1;
  if (rtl_freq > 0 &&
      (rtl_freq < kXtalHz - kXtalToleranceHz || rtl_freq > kXtalHz + kXtalToleranceHz))
    return -2;
  std::lock_guard lock(d->settings);
  int r = 0;
  if (rtl_freq > 0 && d->rtlXtal != rtl_freq) {
    d->rtlXtal = rtl_freq;
    if (d->rate && SetSampleRateLocked(*d, d->rate) != 0) return -3;
  }
  if (d->tunerXtal != tuner_freq) {
    d->tunerXtal = tuner_freq == 0 ? d->rtlXtal : tuner_freq;
    if (d->freq) r = SetCenterFreqLocked(*d, d->freq);
  }
  return r;
}

int rtlsdr_get_xtal_freq(rtlsdr_dev_t* dev, uint32_t* rtl_freq, uint32_t* tuner_freq) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  if (rtl_freq) *rtl_freq = ApplyPpm(d->rtlXtal, d->ppm);
  if (tuner_freq) *tuner_freq = ApplyPpm(d->tunerXtal, d->ppm);
  return 0;
}

int rtlsdr_get_usb_strings(rtlsdr_dev_t* dev, char* manufact, char* product, char* serial) {
  auto d = Find(dev);
  if (!d) return -1;
  CopyUsbString(manufact, kManufacturer);
  CopyUsbString(product, kProduct);
  CopyUsbString(serial, d->serial);
  return 0;
}

int rtlsdr_write_eeprom(rtlsdr_dev_t* dev, uint8_t* data, uint8_t offset, uint16_t len) {
  auto d = Find(dev);
  if (!d) return -1;
  if (len + offset > static_cast<int>(kEepromSize)) return -2;
  if (!data && len > 0) return -1;
  std::lock_guard lock(d->settings);
  if (len > 0) std::memcpy(d->eeprom.data() + offset, data, len);
  return 0;
}

int rtlsdr_read_eeprom(rtlsdr_dev_t* dev, uint8_t* data, uint8_t offset, uint16_t len) {
  auto d = Find(dev);
  if (!d) return -1;
  if (len + offset > static_cast<int>(kEepromSize)) return -2;
  if (!data && len > 0) return -1;
  std::lock_guard lock(d->settings);
  if (len > 0) std::memcpy(data, d->eeprom.data() + offset, len);
  return 0;
}

int rtlsdr_set_center_freq(rtlsdr_dev_t* dev, uint32_t freq) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  return SetCenterFreqLocked(*d, freq);
}

uint32_t rtlsdr_get_center_freq(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->freq;
}

int rtlsdr_set_freq_correction(rtlsdr_dev_t* dev, int ppm) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  if (d->ppm == ppm) return -2;
  d->ppm = ppm;
  // The correction is kept and reported, not applied to the scene: the
  // simulated crystal is exact. The tuner is reprogrammed all the same.
  if (d->freq) return SetCenterFreqLocked(*d, d->freq);
  return 0;
}

int rtlsdr_get_freq_correction(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->ppm;
}

enum rtlsdr_tuner rtlsdr_get_tuner_type(rtlsdr_dev_t* dev) {
  return Find(dev) ? RTLSDR_TUNER_R820T : RTLSDR_TUNER_UNKNOWN;
}

int rtlsdr_get_tuner_gains(rtlsdr_dev_t* dev, int* gains) {
  if (!Find(dev)) return -1;
  if (gains) std::copy(kR820tGains, kR820tGains + kGainCount, gains);
  return kGainCount;
}

int rtlsdr_set_tuner_gain(rtlsdr_dev_t* dev, int gain) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  // Setting a gain puts the R820T into manual gain.
  d->gain = gain;
  d->manualGain = true;
  return 0;
}

int rtlsdr_set_tuner_bandwidth(rtlsdr_dev_t* dev, uint32_t bw) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->bandwidth = bw;
  return 0;
}

int rtlsdr_get_tuner_gain(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->gain;
}

int rtlsdr_set_tuner_if_gain(rtlsdr_dev_t* dev, int stage, int gain) {
  (void)stage;
  (void)gain;
  // The R820T has no separately settable IF stages; the call succeeds idle.
  return Find(dev) ? 0 : -1;
}

int rtlsdr_set_tuner_gain_mode(rtlsdr_dev_t* dev, int manual) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->manualGain = manual != 0;
  return 0;
}

int rtlsdr_set_sample_rate(rtlsdr_dev_t* dev, uint32_t rate) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  return SetSampleRateLocked(*d, rate);
}

uint32_t rtlsdr_get_sample_rate(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return 0;
  std::lock_guard lock(d->settings);
  return d->rate;
}

int rtlsdr_set_testmode(rtlsdr_dev_t* dev, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->testMode = on != 0;
  return 0;
}

int rtlsdr_set_agc_mode(rtlsdr_dev_t* dev, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->agc = on != 0;
  return 0;
}

int rtlsdr_set_direct_sampling(rtlsdr_dev_t* dev, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  d->directSampling = on;
  return d->freq ? SetCenterFreqLocked(*d, d->freq) : 0;
}

int rtlsdr_get_direct_sampling(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return -1;
  std::lock_guard lock(d->settings);
  return d->directSampling;
}

int rtlsdr_set_offset_tuning(rtlsdr_dev_t* dev, int on) {
  (void)on;
  // The R820T tunes to a low IF already; the real library refuses it too.
  return Find(dev) ? -2 : -1;
}

int rtlsdr_get_offset_tuning(rtlsdr_dev_t* dev) { return Find(dev) ? 0 : -1; }

int rtlsdr_reset_buffer(rtlsdr_dev_t* dev) { return Find(dev) ? 0 : -1; }

int rtlsdr_read_sync(rtlsdr_dev_t* dev, void* buf, int len, int* n_read) {
  auto d = Find(dev);
  if (!d) return -1;
  if (n_read) *n_read = 0;
  if (!buf || len <= 0) return kUsbErrorInvalidParam;

  Fault fault = Fault::None;
  {
    std::lock_guard lock(d->settings);
    if (d->unplugged) return kUsbErrorNoDevice;
    ++d->syncReads;
    if (d->config.fault != Fault::None && d->syncReads == d->config.faultAfter + 1)
      fault = d->config.fault;
    if (fault == Fault::Unplug) d->unplugged = true;
  }
  size_t want = static_cast<size_t>(len);
  switch (fault) {
    case Fault::Error: return kUsbErrorIo;
    case Fault::Unplug: return kUsbErrorNoDevice;
    case Fault::Hang:
      d.reset();  // hold nothing while hanging
      HangForever();
    case Fault::Short: want = static_cast<size_t>(len / 2) & ~size_t{1}; break;
    case Fault::None: break;
  }

  const Clock::time_point start = Clock::now();
  const double rate = Deliver(*d, static_cast<uint8_t*>(buf), want);
  const bool paced = d->config.paced;
  d.reset();
  // The samples come no faster than the stick makes them.
  if (paced) std::this_thread::sleep_until(start + StreamTime(want, rate));
  if (n_read) *n_read = static_cast<int>(want);
  return 0;
}

int rtlsdr_read_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t cb, void* ctx, uint32_t buf_num,
                      uint32_t buf_len) {
  auto d = Find(dev);
  if (!d) return -1;
  if (!cb) return -1;
  int expected = kAsyncInactive;
  if (!d->asyncStatus.compare_exchange_strong(expected, kAsyncRunning)) return -2;
  {
    std::lock_guard lock(d->settings);
    d->asyncThread = std::this_thread::get_id();
  }
  auto finish = [&d](int r) {
    {
      std::lock_guard lock(d->settings);
      d->asyncThread = std::thread::id();
    }
    d->asyncCancel = false;
    d->asyncStatus = kAsyncInactive;
    return r;
  };

  const uint32_t count = std::min(buf_num ? buf_num : kDefaultBufferCount, kMaxRingBuffers);
  const uint32_t length =
      (buf_len == 0 || buf_len % 512 != 0) ? kDefaultBufferLength : buf_len;
  std::vector<std::vector<uint8_t>> ring;
  try {
    ring.assign(count, std::vector<uint8_t>(length));
  } catch (const std::bad_alloc&) {
    return finish(kUsbErrorNoMem);
  }

  int result = 0;
  for (uint32_t i = 0; !d->asyncCancel; i = (i + 1) % count) {
    {
      std::lock_guard lock(d->settings);
      if (d->unplugged) {
        result = kUsbErrorNoDevice;
        break;
      }
    }
    const Clock::time_point start = Clock::now();
    const double rate = Deliver(*d, ring[i].data(), length);
    if (d->config.paced) {
      const Clock::time_point due = start + StreamTime(length, rate);
      // Short naps, so that a cancel is seen soon.
      while (!d->asyncCancel && Clock::now() < due)
        std::this_thread::sleep_until(
            std::min(due, Clock::now() + std::chrono::milliseconds(5)));
    }
    if (d->asyncCancel) break;
    cb(ring[i].data(), length, ctx);
  }
  return finish(result);
}

int rtlsdr_wait_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t cb, void* ctx) {
  return rtlsdr_read_async(dev, cb, ctx, 0, 0);
}

int rtlsdr_cancel_async(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return -1;
  int expected = kAsyncRunning;
  if (d->asyncStatus.compare_exchange_strong(expected, kAsyncCanceling)) {
    d->asyncCancel = true;
    return 0;
  }
  return -2;
}

int rtlsdr_set_bias_tee_gpio(rtlsdr_dev_t* dev, int gpio, int on) {
  auto d = Find(dev);
  if (!d) return -1;
  if (gpio < 0 || gpio > 7) return -1;
  std::lock_guard lock(d->settings);
  d->biasTeeGpio = gpio;
  d->biasTeeOn = on != 0;
  return 0;
}

int rtlsdr_set_bias_tee(rtlsdr_dev_t* dev, int on) { return rtlsdr_set_bias_tee_gpio(dev, 0, on); }

}  // extern "C"
