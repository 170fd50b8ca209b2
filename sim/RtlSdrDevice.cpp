#include "sim/RtlSdrDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace wg::sim {
namespace {

constexpr uint16_t kVendorId = 0x0bda;
constexpr uint16_t kProductId = 0x2838;

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

// A program may unload the library with sticks still open. The registry
// stays in place for any thread still inside, but the sticks and the list's
// storage go with the library, so that nothing is left behind unreachable.
__attribute__((destructor)) void ReleaseOpenSticks() {
  Registry& r = Reg();
  std::vector<std::shared_ptr<rtlsdr_dev>> gone;
  {
    std::lock_guard lock(r.m);
    gone.swap(r.open);
  }
}

}  // namespace

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

std::shared_ptr<rtlsdr_dev> Find(rtlsdr_dev_t* h) {
  if (!h) return {};
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  for (const auto& p : r.open)
    if (p.get() == h) return p;
  return {};
}

int Register(const std::shared_ptr<rtlsdr_dev>& d) {
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  for (const auto& p : r.open) {
    if (p->index == d->index) {
      // The stick's interface is claimed by the handle already open.
      std::fprintf(stderr, "usb_claim_interface error %d\n", kUsbErrorBusy);
      return kUsbErrorBusy;
    }
  }
  r.open.push_back(d);
  return 0;
}

std::shared_ptr<rtlsdr_dev> Unregister(rtlsdr_dev_t* h) {
  if (!h) return {};
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  auto it = std::find_if(r.open.begin(), r.open.end(), [h](const auto& p) { return p.get() == h; });
  if (it == r.open.end()) return {};
  std::shared_ptr<rtlsdr_dev> d = *it;
  r.open.erase(it);
  if (r.open.empty()) std::vector<std::shared_ptr<rtlsdr_dev>>().swap(r.open);
  return d;
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
  if (d.settleLeft == 0) d.receivedCentre = LocalOscillatorLocked(d);
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

double LocalOscillatorLocked(const rtlsdr_dev& d) {
  if (!d.config.crystalErrorPpm || d.directSampling || d.freq == 0) return d.freq;
  // The library programs the tuner's synthesiser as if its crystal ran at the
  // tuner crystal times (1 + correction/1e6), the value rtlsdr_get_xtal_freq
  // reports. The synthesiser's output scales with the crystal that really
  // drives it, the nominal one times (1 + error/1e6). The demodulator's IF
  // mixer is set up the same way from the same crystal, so the IF's own
  // displacement cancels and the tuned frequency's is all that shows.
  const double believed = d.tunerXtal * (1.0 + d.ppm / 1e6);
  const double real = kXtalHz * (1.0 + *d.config.crystalErrorPpm / 1e6);
  return d.freq * (real / believed);
}

double Deliver(rtlsdr_dev& d, uint8_t* buf, size_t len) {
  std::lock_guard streamLock(d.stream);
  Reception before, after;
  size_t oldBytes = 0;
  bool counter = false;
  {
    std::lock_guard lock(d.settings);
    after.rateHz = d.rate ? d.rate : kPowerOnRate;
    after.gainDb = GainDbLocked(d);
    after.centreHz = LocalOscillatorLocked(d);
    before = after;
    before.centreHz = d.receivedCentre;
    oldBytes = static_cast<size_t>(std::min<uint64_t>(d.settleLeft, len));
    d.settleLeft -= oldBytes;
    if (d.settleLeft == 0) d.receivedCentre = after.centreHz;
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

}  // namespace wg::sim

rtlsdr_dev::rtlsdr_dev(uint32_t i, wg::sim::Config c, std::vector<wg::sim::Emitter> scene)
    : index(i),
      serial(wg::sim::SerialOf(i)),
      config(std::move(c)),
      settleLeft(0),
      eeprom(wg::sim::DefaultEeprom(serial)),
      generator(std::move(scene), config.seed + 0x9e3779b97f4a7c15ull * i) {}
