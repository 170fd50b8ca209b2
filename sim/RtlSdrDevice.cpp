#include "sim/RtlSdrDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace wg::sim {
namespace {

constexpr uint16_t kVendorId = 0x0bda;
constexpr uint16_t kProductId = 0x2838;

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

int SetCenterFreqLocked(rtlsdr_dev& d, uint32_t freq) {
  // Direct sampling bypasses the tuner, so any frequency goes. With offset
  // tuning the tuner sits below the band and the demodulator mixes it back.
  const bool locks = d.directSampling != 0 || (freq > d.offsetHz && TunerLocks(d.tuner, freq - d.offsetHz));
  d.freq = locks ? freq : 0;
  if (d.config.paced) {
    d.freshAt = Clock::now() + std::chrono::microseconds(d.config.tuneUs);
  } else {
    d.settleLeft = d.config.settleBytes;
    if (d.settleLeft == 0) d.receivedCentre = LocalOscillatorLocked(d);
  }
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
  const double tuner = (d.manualGain ? SettledGainTenths(d.tuner, d.gain) : d.tuner.autoGainTenths) / 10.0;
  return tuner + (d.biasTeeOn ? d.config.lnaDb : 0.0);
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

Delivery Deliver(rtlsdr_dev& d, uint8_t* buf, size_t len) {
  std::lock_guard streamLock(d.stream);
  Reception before, after;
  size_t oldBytes = 0;
  bool counter = false;
  Clock::time_point due = Clock::now();
  {
    std::lock_guard lock(d.settings);
    after.rateHz = d.rate ? d.rate : kPowerOnRate;
    after.gainDb = GainDbLocked(d);
    after.centreHz = LocalOscillatorLocked(d);
    after.filter = d.config.filter;
    // Offset tuning mixes the DC offset out of the band.
    after.dcOffset = d.config.filter && d.offsetHz == 0;
    after.agc = d.agc;
    // Direct sampling takes the HF input straight to the converter.
    after.inputBelowHz = d.directSampling ? kXtalHz : 0;
    before = after;
    before.centreHz = d.receivedCentre;
    Clock::time_point madeAt = due;
    if (d.config.paced) {
      // What nobody read beyond the pipeline's hold is gone; the rest comes
      // at once, then the stick makes the bytes still wanted.
      const Clock::time_point oldestHeld = due - StreamTime(d.config.settleBytes, after.rateHz);
      d.streamAt = std::max(d.streamAt, oldestHeld);
      madeAt = d.streamAt;
      const double staleSec = std::chrono::duration<double>(d.freshAt - madeAt).count();
      oldBytes = staleSec <= 0 ? 0 : static_cast<size_t>(std::min<double>(staleSec * 2 * after.rateHz, len));
      d.streamAt += StreamTime(len, after.rateHz);
      due = std::max(due, d.streamAt);
      if (oldBytes < len) d.receivedCentre = after.centreHz;
    } else {
      oldBytes = static_cast<size_t>(std::min<uint64_t>(d.settleLeft, len));
      d.settleLeft -= oldBytes;
      if (d.settleLeft == 0) d.receivedCentre = after.centreHz;
    }
    before.timeSec = std::chrono::duration<double>(madeAt - LoadTime()).count();
    after.timeSec = before.timeSec + static_cast<double>(oldBytes) / 2 / after.rateHz;
    counter = d.testMode;
  }
  if (counter) {
    d.generator.FillCounter(buf, len);
  } else {
    d.generator.Fill(buf, oldBytes, before);
    d.generator.Fill(buf + oldBytes, len - oldBytes, after);
  }
  return {due};
}

Clock::duration StreamTime(size_t bytes, double rate) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(bytes / 2.0 / rate));
}

}  // namespace wg::sim

rtlsdr_dev::rtlsdr_dev(uint32_t stick, wg::sim::Config c, std::vector<wg::sim::Emitter> scene)
    : index(stick),
      serial(wg::sim::SerialOf(stick)),
      config(std::move(c)),
      tuner(wg::sim::TunerOf(config.tuner)),
      settleLeft(0),
      streamAt(wg::sim::Clock::now()),
      eeprom(wg::sim::DefaultEeprom(serial)),
      generator(std::move(scene), config.seed + 0x9e3779b97f4a7c15ull * stick) {}
