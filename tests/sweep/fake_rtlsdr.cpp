#include "fake_rtlsdr.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "api_rtl_sdr.h"

namespace fake {
namespace {

struct State {
  std::mutex m;
  std::condition_variable cv;
  Script script;
  std::vector<std::string> calls;
  std::vector<uint32_t> centres;
  int reads = 0;
  int centreCalls = 0;
  int sweep = -1;
  uint32_t lastCentre = 0;
  uint32_t rate = 0;
  int ppm = 0;
  int inFlight = 0;
  int maxInFlight = 0;
  bool paused = false;
  bool released = false;
};

State& S() {
  static State s;
  return s;
}

char g_handle[16];
rtlsdr_dev_t* const kHandle = reinterpret_cast<rtlsdr_dev_t*>(g_handle);

constexpr size_t kMaxRecords = 400000;

void Record(std::string c) {
  auto& s = S();
  if (s.calls.size() < kMaxRecords) s.calls.push_back(std::move(c));
}

// Counts callers inside the sweep's entry points at the same time.
struct InFlight {
  InFlight() {
    std::lock_guard lk(S().m);
    S().maxInFlight = std::max(S().maxInFlight, ++S().inFlight);
  }
  ~InFlight() {
    std::lock_guard lk(S().m);
    --S().inFlight;
  }
};

uint32_t GetDeviceCount() {
  std::lock_guard lk(S().m);
  Record("count");
  return static_cast<uint32_t>(S().script.devices.size());
}

const char* GetDeviceName(uint32_t index) {
  std::lock_guard lk(S().m);
  Record("name " + std::to_string(index));
  if (index >= S().script.devices.size()) return "";
  return S().script.devices[index].name.c_str();
}

int GetDeviceUsbStrings(uint32_t index, char* manufact, char* product, char* serial) {
  std::lock_guard lk(S().m);
  Record("usb " + std::to_string(index));
  if (index >= S().script.devices.size()) return -1;
  const Device& d = S().script.devices[index];
  // Copies up to 256 bytes, without a terminator when the text fills them.
  auto put = [](char* dst, const std::string& src) {
    std::memcpy(dst, src.data(), std::min<size_t>(src.size(), 256));
    if (src.size() < 256) dst[src.size()] = 0;
  };
  put(manufact, d.manufact);
  put(product, d.product);
  put(serial, d.serial);
  return 0;
}

int Open(rtlsdr_dev_t** dev, uint32_t index) {
  std::lock_guard lk(S().m);
  Record("open " + std::to_string(index));
  if (S().script.openResult != 0) return S().script.openResult;
  *dev = S().script.openLeavesNull ? nullptr : kHandle;
  return 0;
}

int SetCenterFreq(rtlsdr_dev_t* dev, uint32_t freq) {
  InFlight f;
  std::lock_guard lk(S().m);
  auto& s = S();
  Record("center " + std::to_string(freq));
  if (s.centres.size() < kMaxRecords) s.centres.push_back(freq);
  if (s.sweep < 0 || freq <= s.lastCentre) ++s.sweep;
  s.lastCentre = freq;
  ++s.centreCalls;
  if (s.script.fault == Fault::Throw && s.centreCalls == s.script.faultAtRead)
    throw std::runtime_error("scripted failure");
  return dev == kHandle ? 0 : -1;
}

int SetFreqCorrection(rtlsdr_dev_t*, int ppm) {
  std::lock_guard lk(S().m);
  Record("set_ppm " + std::to_string(ppm));
  S().ppm = ppm;
  return 0;
}

int GetFreqCorrection(rtlsdr_dev_t*) {
  std::lock_guard lk(S().m);
  Record("get_ppm");
  return S().ppm;
}

rtlsdr_tuner GetTunerType(rtlsdr_dev_t*) {
  std::lock_guard lk(S().m);
  Record("tuner");
  return static_cast<rtlsdr_tuner>(S().script.tunerType);
}

int GetTunerGains(rtlsdr_dev_t*, int* gains) {
  std::lock_guard lk(S().m);
  Record("gains");
  const auto& g = S().script.gains;
  if (gains) std::copy(g.begin(), g.end(), gains);
  return S().script.gainsResult == -2 ? static_cast<int>(g.size()) : S().script.gainsResult;
}

int SetTunerGainMode(rtlsdr_dev_t*, int manual) {
  std::lock_guard lk(S().m);
  Record("gain_mode " + std::to_string(manual));
  return 0;
}

int SetSampleRate(rtlsdr_dev_t*, uint32_t rate) {
  InFlight f;
  std::lock_guard lk(S().m);
  Record("rate " + std::to_string(rate));
  S().rate = rate;
  return 0;
}

uint32_t GetSampleRate(rtlsdr_dev_t*) {
  std::lock_guard lk(S().m);
  Record("get_rate");
  return S().script.rateReadBack ? S().script.rateReadBack : S().rate;
}

int ResetBuffer(rtlsdr_dev_t*) {
  InFlight f;
  std::lock_guard lk(S().m);
  Record("reset");
  return 0;
}

int ReadSync(rtlsdr_dev_t*, void* buf, int len, int* nRead) {
  InFlight f;
  std::unique_lock lk(S().m);
  auto& s = S();
  Record("read " + std::to_string(len));
  const int number = s.reads + 1;
  const bool faulty = s.script.faultAtRead == number;
  if (s.script.pauseAtRead == number || (faulty && s.script.fault == Fault::Hang)) {
    s.paused = true;
    s.cv.notify_all();
    s.cv.wait(lk, [&] { return s.released; });
    s.released = false;
    s.paused = false;
  }
  std::memset(buf, FillByteOfSweep(std::max(s.sweep, 0)), static_cast<size_t>(len));
  int result = 0;
  int count = len;
  if (faulty) {
    switch (s.script.fault) {
      case Fault::Short: count = len / 2; break;
      case Fault::Error: result = -1; break;
      case Fault::Unplug: count = 0; result = -4; break;  // libusb's "no device"
      case Fault::Hang: count = 0; result = -1; break;
      default: break;
    }
  }
  *nRead = count;
  ++s.reads;
  s.cv.notify_all();
  return result;
}

}  // namespace

uint8_t FillByteOfSweep(int sweep) { return static_cast<uint8_t>(2 + sweep % 200); }
int SweepOfFillByte(uint8_t b) { return b - 2; }

void Install() {
  Uninstall();
  {
    auto& s = S();
    std::lock_guard lk(s.m);
    s.script = Script{};
    s.calls.clear();
    s.centres.clear();
    s.reads = s.centreCalls = 0;
    s.sweep = -1;
    s.lastCentre = 0;
    s.rate = 0;
    s.ppm = 0;
    s.inFlight = s.maxInFlight = 0;
    s.paused = s.released = false;
  }
  namespace api = api_rtl_sdr;
  api::rtlsdr_get_device_count = &GetDeviceCount;
  api::rtlsdr_get_device_name = &GetDeviceName;
  api::rtlsdr_get_device_usb_strings = &GetDeviceUsbStrings;
  api::rtlsdr_open = &Open;
  api::rtlsdr_set_center_freq = &SetCenterFreq;
  api::rtlsdr_set_freq_correction = &SetFreqCorrection;
  api::rtlsdr_get_freq_correction = &GetFreqCorrection;
  api::rtlsdr_get_tuner_type = &GetTunerType;
  api::rtlsdr_get_tuner_gains = &GetTunerGains;
  api::rtlsdr_set_tuner_gain_mode = &SetTunerGainMode;
  api::rtlsdr_set_sample_rate = &SetSampleRate;
  api::rtlsdr_get_sample_rate = &GetSampleRate;
  api::rtlsdr_reset_buffer = &ResetBuffer;
  api::rtlsdr_read_sync = &ReadSync;
  api::dev = nullptr;
  api::device_count = 0;
}

void Uninstall() {
  for (int i = 0; i < api_rtl_sdr::kEntryPointCount; ++i) *api_rtl_sdr::EntryPointSlot(i) = nullptr;
  api_rtl_sdr::dev = nullptr;
}

Script& script() { return S().script; }

std::vector<std::string> Calls() {
  std::lock_guard lk(S().m);
  return S().calls;
}

std::vector<uint32_t> Centres() {
  std::lock_guard lk(S().m);
  return S().centres;
}

int Reads() {
  std::lock_guard lk(S().m);
  return S().reads;
}

int MaxConcurrentReads() {
  std::lock_guard lk(S().m);
  return S().maxInFlight;
}

void ClearRecords() {
  std::lock_guard lk(S().m);
  S().calls.clear();
  S().centres.clear();
}

bool WaitPaused(std::chrono::milliseconds timeout) {
  std::unique_lock lk(S().m);
  return S().cv.wait_for(lk, timeout, [] { return S().paused; });
}

void Release() {
  std::lock_guard lk(S().m);
  S().released = true;
  S().cv.notify_all();
}

bool WaitReads(int n, std::chrono::milliseconds timeout) {
  std::unique_lock lk(S().m);
  return S().cv.wait_for(lk, timeout, [n] { return S().reads >= n; });
}

void* Handle() { return kHandle; }

}  // namespace fake
