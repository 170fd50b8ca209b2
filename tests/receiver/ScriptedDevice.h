// A kind of receiver for the tests of Receiver and ReceiverPool: sticks on a
// scripted bus that record their calls, fill each read with a byte telling
// the centre it was tuned to (the first settle bytes after a retune with the
// previous centre's), and fail, hang or go away on request.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "receiver/ReceiverDevice.h"

namespace wgtest {

// The byte a read of a step tuned to `centre` is filled with.
inline uint8_t MarkOf(uint32_t centre) { return static_cast<uint8_t>(1 + centre / 1000000 % 250); }

struct Stick {
  explicit Stick(std::string s) : serial(std::move(s)) {}
  std::string serial;
  bool present = true;
  int failAtRead = 0;   // this read (1-based) fails with failResult...
  int failResult = -1;  // ...and with -4 the stick leaves the bus,
  bool replug = false;  // ...or is plugged in again at once (its reads count afresh)
  int hangAtRead = 0;   // this read waits until Bus::Release
  int gainResult = 0;   // of SetGain
  bool biasTee = true;  // the entry point is there
  int reads = 0;
  std::vector<std::string> calls;
  std::vector<uint32_t> centres;
  bool open = false;
};

struct Bus {
  std::mutex m;
  std::condition_variable cv;
  std::vector<Stick> sticks;  // index order
  bool released = false;
  int settleBytes = 16384;
  // The library the devices come from: alive while any device is.
  std::shared_ptr<int> library = std::make_shared<int>(0);

  void Release() {
    std::lock_guard lk(m);
    released = true;
    cv.notify_all();
  }
  std::vector<std::string> Calls(size_t stick) {
    std::lock_guard lk(m);
    return sticks.at(stick).calls;
  }
  std::vector<uint32_t> Centres(size_t stick) {
    std::lock_guard lk(m);
    return sticks.at(stick).centres;
  }
  void SetPresent(size_t stick, bool present) {
    std::lock_guard lk(m);
    sticks.at(stick).present = present;
  }
};

class ScriptedDevice : public wg::ReceiverDevice {
 public:
  ScriptedDevice(std::shared_ptr<Bus> bus, uint32_t index) : bus_(std::move(bus)), index_(index) {
    library_ = bus_->library;
  }

  int Open() override {
    std::lock_guard lk(bus_->m);
    if (!serial_.empty()) {
      const auto& s = bus_->sticks;
      const auto it = std::find_if(s.begin(), s.end(), [&](const Stick& k) { return k.serial == serial_ && k.present; });
      if (it == s.end()) return -1;
      index_ = static_cast<uint32_t>(it - s.begin());
    }
    Stick& k = bus_->sticks.at(index_);
    serial_ = k.serial;
    k.calls.push_back("open " + std::to_string(index_));
    if (!k.present || k.open) return -6;
    k.open = true;
    k.reads = 0;
    return 0;
  }
  void Close() override {
    std::lock_guard lk(bus_->m);
    if (!serial_.empty() && bus_->sticks[index_].open) {
      bus_->sticks[index_].open = false;
      bus_->sticks[index_].calls.push_back("close");
    }
  }
  bool Listed() override {
    std::lock_guard lk(bus_->m);
    return std::any_of(bus_->sticks.begin(), bus_->sticks.end(),
                       [&](const Stick& k) { return k.serial == serial_ && k.present; });
  }
  uint32_t Index() const override { return index_; }
  std::string Serial() const override { return serial_; }
  bool MeansGone(int result) const override { return result == -4; }
  wg::ReceiverAbilities Abilities() const override {
    std::lock_guard lk(bus_->m);
    return {bus_->sticks[index_].biasTee, true, true};
  }

  unsigned TunerType() override { return Note("tuner"), 5; }
  int TunerGains(std::vector<int>& gains) override {
    Note("gains");
    gains = {0, 9, 14, 27, 37, 77, 87, 125, 144, 157, 166, 197, 207, 229, 254, 280, 297, 328, 338, 364, 372, 386, 402};
    return static_cast<int>(gains.size());
  }
  int SetSampleRate(uint32_t rate) override { return Note("rate " + std::to_string(rate)), rate_ = rate, 0; }
  uint32_t SampleRate() override { return Note("get_rate"), rate_; }
  int SetGainMode(int manual) override { return Note("gain_mode " + std::to_string(manual)), 0; }
  int SetGain(int tenths) override {
    Note("gain " + std::to_string(tenths));
    std::lock_guard lk(bus_->m);
    return bus_->sticks[index_].gainResult;
  }
  int SetFreqCorrection(int ppm) override {
    Note("set_ppm " + std::to_string(ppm));
    if (ppm == ppm_) return -2;
    ppm_ = ppm;
    return 0;
  }
  int FreqCorrection() override { return Note("get_ppm"), ppm_; }
  int SetBiasTee(bool on) override { return Note(std::string("bias_tee ") + (on ? "1" : "0")), 0; }
  int SetDirectSampling(int mode) override { return Note("direct " + std::to_string(mode)), 0; }
  int SetOffsetTuning(bool on) override { return Note(std::string("offset ") + (on ? "1" : "0")), 0; }

  int SetCentre(uint32_t hz) override {
    std::lock_guard lk(bus_->m);
    Stick& k = bus_->sticks[index_];
    k.calls.push_back("center " + std::to_string(hz));
    k.centres.push_back(hz);
    if (!k.present) return -1;  // a stick pulled out takes no tuning
    previous_ = std::exchange(centre_, hz);
    stale_ = bus_->settleBytes;
    return hz >= 24000000 ? 0 : -1;
  }
  int ResetBuffer() override { return Note("reset"), 0; }
  int Read(uint8_t* buf, int length, int* count) override {
    std::unique_lock lk(bus_->m);
    Stick& k = bus_->sticks[index_];
    k.calls.push_back("read " + std::to_string(length));
    const int number = ++k.reads;
    if (number == k.hangAtRead) bus_->cv.wait(lk, [&] { return bus_->released; });
    if (number == k.failAtRead) {
      if (k.failResult == -4) k.present = k.replug;
      return k.failResult;
    }
    const int old = std::min(stale_, length);
    std::memset(buf, MarkOf(previous_), static_cast<size_t>(old));
    std::memset(buf + old, MarkOf(centre_), static_cast<size_t>(length - old));
    stale_ -= old;
    *count = length;
    return 0;
  }

 private:
  void Note(const std::string& call) {
    std::lock_guard lk(bus_->m);
    bus_->sticks[index_].calls.push_back(call);
  }

  std::shared_ptr<Bus> bus_;
  std::shared_ptr<int> library_;
  uint32_t index_;
  std::string serial_;
  uint32_t rate_ = 2048000, centre_ = 0, previous_ = 0;
  int ppm_ = 0, stale_ = 0;
};

}  // namespace wgtest
