#include "tests/sweep/FakeRtlSdr.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "receiver/api_rtl_sdr.h"

namespace fake {
namespace {

struct State {
  std::mutex m;
  std::condition_variable cv;
  Script script;
  std::vector<std::string> calls;
  std::vector<uint32_t> centres;
  int reads = 0, sweep = -1, ppm = 0, inFlight = 0, maxInFlight = 0;
  uint32_t lastCentre = 0, rate = 0;
  bool paused = false, released = false;
  bool open = false;  // the one handle is given out
};

State* s = new State;  // outlives workers abandoned in a read

char g_handle[16];
rtlsdr_dev_t* const kHandle = reinterpret_cast<rtlsdr_dev_t*>(g_handle);

// Locks the state and records one call (the thousand-restart test makes
// many; the list stops growing at a bound).
struct Call : std::unique_lock<std::mutex> {
  explicit Call(std::string c) : std::unique_lock<std::mutex>(s->m) {
    if (s->calls.size() < 400000) s->calls.push_back(std::move(c));
  }
};
// Counts callers inside the sweep's entry points at the same time.
struct InFlight {
  InFlight() {
    std::lock_guard lk(s->m);
    s->maxInFlight = std::max(s->maxInFlight, ++s->inFlight);
  }
  ~InFlight() {
    std::lock_guard lk(s->m);
    --s->inFlight;
  }
};

const Device* DeviceAt(uint32_t i) { return i < s->script.devices.size() ? &s->script.devices[i] : nullptr; }

uint32_t GetDeviceCount() { Call c("count"); return static_cast<uint32_t>(s->script.devices.size()); }
const char* GetDeviceName(uint32_t i) {
  Call c("name " + std::to_string(i));
  return DeviceAt(i) ? DeviceAt(i)->name.c_str() : "";
}
int GetDeviceUsbStrings(uint32_t i, char* manufact, char* product, char* serial) {
  Call c("usb " + std::to_string(i));
  if (!DeviceAt(i)) return -1;
  std::strcpy(manufact, DeviceAt(i)->manufact.c_str());
  std::strcpy(product, DeviceAt(i)->product.c_str());
  std::strcpy(serial, DeviceAt(i)->serial.c_str());
  return 0;
}
int Open(rtlsdr_dev_t** dev, uint32_t i) {
  Call c("open " + std::to_string(i));
  if (s->script.openResult != 0) return s->script.openResult;
  if (!DeviceAt(i)) return -1;
  if (s->open) return -6;  // libusb: the interface is claimed already
  s->open = true;
  s->ppm = 0;  // a fresh handle has no correction
  *dev = kHandle;
  return 0;
}
int Close(rtlsdr_dev_t* dev) {
  Call c("close");
  if (dev != kHandle || !s->open) return -1;
  s->open = false;
  return 0;
}
int SetCenterFreq(rtlsdr_dev_t* dev, uint32_t freq) {
  InFlight f;
  Call c("center " + std::to_string(freq));
  if (s->centres.size() < 400000) s->centres.push_back(freq);
  if (s->sweep < 0 || freq <= s->lastCentre) ++s->sweep;
  s->lastCentre = freq;
  if ((s->script.fault == Fault::Throw && static_cast<int>(s->centres.size()) == s->script.faultAtRead) ||
      s->script.fault == Fault::ThrowAlways)
    throw std::runtime_error("scripted failure");
  return dev == kHandle && freq >= s->script.tuneMin && freq <= s->script.tuneMax ? 0 : -1;
}
int SetFreqCorrection(rtlsdr_dev_t*, int ppm) {
  Call c("set_ppm " + std::to_string(ppm));
  if (s->ppm == ppm) return -2;  // as the library: nothing to change
  s->ppm = ppm;
  return 0;
}
int GetFreqCorrection(rtlsdr_dev_t*) { Call c("get_ppm"); return s->ppm; }
rtlsdr_tuner GetTunerType(rtlsdr_dev_t*) { Call c("tuner"); return static_cast<rtlsdr_tuner>(s->script.tunerType); }
int SetTunerGainMode(rtlsdr_dev_t*, int manual) { Call c("gain_mode " + std::to_string(manual)); return 0; }
int SetTunerGain(rtlsdr_dev_t*, int gain) { Call c("gain " + std::to_string(gain)); return s->script.gainResult; }
int GetTunerGains(rtlsdr_dev_t*, int* gains) {
  Call c("gains");
  if (gains) std::copy(s->script.gains.begin(), s->script.gains.end(), gains);
  return s->script.gainsResult == -2 ? static_cast<int>(s->script.gains.size()) : s->script.gainsResult;
}
int SetSampleRate(rtlsdr_dev_t*, uint32_t rate) {
  InFlight f;
  Call c("rate " + std::to_string(rate));
  // The library's own limits; others are refused and change nothing.
  if ((rate <= 225000) || (rate > 3200000) || ((rate > 300000) && (rate <= 900000))) return -22;
  s->rate = rate;
  return 0;
}
uint32_t GetSampleRate(rtlsdr_dev_t*) {
  Call c("get_rate"); return s->script.rateReadBack ? s->script.rateReadBack : s->rate;
}
int ResetBuffer(rtlsdr_dev_t*) {
  InFlight f;
  Call c("reset"); return 0;
}
int ReadSync(rtlsdr_dev_t*, void* buf, int len, int* nRead) {
  InFlight f;
  Call c("read " + std::to_string(len));
  const int number = s->reads + 1;
  const Fault fault = s->script.faultAtRead == number ? s->script.fault : Fault::None;
  if (s->script.pauseAtRead == number || fault == Fault::Hang) {
    s->paused = true;
    s->cv.notify_all();
    s->cv.wait(c, [] { return s->released; });
    s->released = s->paused = false;
  }
  std::memset(buf, FillByteOfSweep(std::max(s->sweep, 0)), static_cast<size_t>(len));
  int result = 0;
  *nRead = len;
  if (fault == Fault::Short) *nRead = len / 2;
  if (fault == Fault::Error || fault == Fault::Hang) result = -1, *nRead = fault == Fault::Hang ? 0 : len;
  if (fault == Fault::Unplug) result = -4, *nRead = 0;  // libusb's "no device"
  ++s->reads;
  s->cv.notify_all();
  return result;
}

}  // namespace

void Install() {
  Uninstall();
  {
    std::lock_guard lk(s->m);
    s->script = Script{};
    s->calls.clear();
    s->centres.clear();
    s->reads = s->ppm = s->inFlight = s->maxInFlight = 0;
    s->sweep = -1;
    s->lastCentre = s->rate = 0;
    s->paused = s->released = s->open = false;
  }
  namespace api = api_rtl_sdr;
  api::rtlsdr_get_device_count = &GetDeviceCount;
  api::rtlsdr_get_device_name = &GetDeviceName;
  api::rtlsdr_get_device_usb_strings = &GetDeviceUsbStrings;
  api::rtlsdr_open = &Open;
  api::rtlsdr_close = &Close;
  api::rtlsdr_set_center_freq = &SetCenterFreq;
  api::rtlsdr_set_freq_correction = &SetFreqCorrection;
  api::rtlsdr_get_freq_correction = &GetFreqCorrection;
  api::rtlsdr_get_tuner_type = &GetTunerType;
  api::rtlsdr_get_tuner_gains = &GetTunerGains;
  api::rtlsdr_set_tuner_gain_mode = &SetTunerGainMode;
  api::rtlsdr_set_tuner_gain = &SetTunerGain;
  api::rtlsdr_set_sample_rate = &SetSampleRate;
  api::rtlsdr_get_sample_rate = &GetSampleRate;
  api::rtlsdr_reset_buffer = &ResetBuffer;
  api::rtlsdr_read_sync = &ReadSync;
}

void Uninstall() {
  for (int i = 0; i < api_rtl_sdr::kEntryPointCount; ++i) *api_rtl_sdr::EntryPointSlot(i) = nullptr;
}

Script& script() { return s->script; }
void* Handle() { return kHandle; }

std::vector<std::string> Calls() {
  std::lock_guard lk(s->m);
  return s->calls;
}
std::vector<uint32_t> Centres() {
  std::lock_guard lk(s->m);
  return s->centres;
}
int Reads() {
  std::lock_guard lk(s->m);
  return s->reads;
}
int MaxConcurrentCalls() {
  std::lock_guard lk(s->m);
  return s->maxInFlight;
}

int SweepOfFillByte(uint8_t b) {
  std::lock_guard lk(s->m);
  const int begun = std::max(s->sweep, 0), r = b - 128;
  return begun < r ? r : begun - (begun - r) % 128;
}

bool WaitPaused(std::chrono::milliseconds timeout) {
  std::unique_lock lk(s->m);
  return s->cv.wait_for(lk, timeout, [] { return s->paused; });
}
void Release() {
  std::lock_guard lk(s->m);
  s->released = true;
  s->cv.notify_all();
}
bool WaitReads(int n, std::chrono::milliseconds timeout) {
  std::unique_lock lk(s->m);
  return s->cv.wait_for(lk, timeout, [n] { return s->reads >= n; });
}

}  // namespace fake
