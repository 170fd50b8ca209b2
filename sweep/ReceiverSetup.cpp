#include "sweep/ReceiverSetup.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "receiver/api_rtl_sdr.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepEngine.h"

namespace wg {
namespace {

namespace api = api_rtl_sdr;

// A USB text buffer read up to its first zero byte, never past its end.
std::string BufferText(const char (&buf)[256]) { return std::string(buf, strnlen(buf, sizeof buf)); }

// Names of the entry points that the set-up and the sweep call but the
// library did not provide.
std::string MissingEntryPoints() {
  const struct {
    const char* name;
    bool present;
  } needed[] = {
      {"rtlsdr_get_device_count", api::rtlsdr_get_device_count != nullptr},
      {"rtlsdr_get_device_name", api::rtlsdr_get_device_name != nullptr},
      {"rtlsdr_get_device_usb_strings", api::rtlsdr_get_device_usb_strings != nullptr},
      {"rtlsdr_open", api::rtlsdr_open != nullptr},
      {"rtlsdr_set_center_freq", api::rtlsdr_set_center_freq != nullptr},
      {"rtlsdr_set_freq_correction", api::rtlsdr_set_freq_correction != nullptr},
      {"rtlsdr_get_freq_correction", api::rtlsdr_get_freq_correction != nullptr},
      {"rtlsdr_get_tuner_type", api::rtlsdr_get_tuner_type != nullptr},
      {"rtlsdr_get_tuner_gains", api::rtlsdr_get_tuner_gains != nullptr},
      {"rtlsdr_set_tuner_gain_mode", api::rtlsdr_set_tuner_gain_mode != nullptr},
      {"rtlsdr_set_sample_rate", api::rtlsdr_set_sample_rate != nullptr},
      {"rtlsdr_get_sample_rate", api::rtlsdr_get_sample_rate != nullptr},
      {"rtlsdr_reset_buffer", api::rtlsdr_reset_buffer != nullptr},
      {"rtlsdr_read_sync", api::rtlsdr_read_sync != nullptr},
  };
  std::string missing;
  for (const auto& n : needed) {
    if (n.present) continue;
    if (!missing.empty()) missing += ", ";
    missing += n.name;
  }
  return missing;
}

// Fills the receiver list of the record (and the USB text buffers, as the
// last receiver left them).
void ListReceivers(ReceiverReport& r) {
  api::device_count = api::rtlsdr_get_device_count();
  r.deviceCount = api::device_count;
  r.devices.clear();
  for (uint32_t i = 0; i < api::device_count; ++i) {
    ReceiverReport::Device d;
    const char* name = api::rtlsdr_get_device_name(i);
    d.name = name ? name : "";
    // Cleared first so that a failed call shows nothing rather than the
    // previous receiver's strings.
    std::memset(api::manufact, 0, sizeof api::manufact);
    std::memset(api::product, 0, sizeof api::product);
    std::memset(api::serial, 0, sizeof api::serial);
    api::rtlsdr_get_device_usb_strings(i, api::manufact, api::product, api::serial);
    d.manufacturer = BufferText(api::manufact);
    d.product = BufferText(api::product);
    d.serial = BufferText(api::serial);
    r.devices.push_back(std::move(d));
  }
}

bool LibraryComplete(ReceiverReport& r) {
  const std::string missing = MissingEntryPoints();
  if (missing.empty()) return true;
  r = ReceiverReport{};
  r.outcome = ReceiverReport::Outcome::LibraryMissing;
  r.libraryFile = ReceiverLibraryFile();
  r.libraryLoaded = api::Loaded();
  if (api::Failure() == api::LoadFailure::Unloadable) r.loadFailure = api::FailureReason();
  if (r.libraryLoaded) r.missingEntryPoints = missing;
  return false;
}

}  // namespace

TReceiverSetup::TReceiverSetup(TSweepEngine& engine) : engine_(engine) {}

TReceiverSetup::~TReceiverSetup() { Close(); }

bool TReceiverSetup::IsOpen() const { return api::dev != nullptr; }

bool TReceiverSetup::WaitUntilReceiverFree(std::chrono::milliseconds wait) {
  // A worker that has not returned by the engine's hang time never will; one
  // that is merely slow is waited for as long as the caller can afford.
  if (engine_.WorkerAbandoned()) return false;
  return engine_.WaitIdle(wait) && TSweepEngine::WaitAbandonedWorkers(wait);
}

bool TReceiverSetup::StopForChange() {
  engine_.Stop();
  // Nothing is sent to the receiver while a worker is inside the library
  // with it, nor ever again once one hung there.
  return WaitUntilReceiverFree(kChangeWait);
}

bool TReceiverSetup::Change(std::function<bool()> apply) {
  lastChangeWaits_ = false;
  if (engine_.WorkerAbandoned()) return false;
  // Changes keep their order: a later one waits behind an earlier one.
  if (waiting_.empty() && StopForChange()) return apply();
  if (engine_.WorkerAbandoned()) return false;
  if (waiting_.empty()) waitingSince_ = std::chrono::steady_clock::now();
  waiting_.push_back(std::move(apply));
  lastChangeWaits_ = true;
  return false;
}

std::optional<bool> TReceiverSetup::RetryWaiting() {
  if (waiting_.empty()) return std::nullopt;
  // Given up when the watchdog says the receiver no longer responds, or when
  // the receiver stays busy for longer than a hang takes to be noticed.
  const auto now = std::chrono::steady_clock::now();
  const bool lost = engine_.WorkerAbandoned() || now - waitingSince_ > kMostChangeWait;
  if (!lost) {
    engine_.Stop();  // a sweep restarted meanwhile (a range edit)
    if (!WaitUntilReceiverFree(std::chrono::milliseconds(0))) return std::nullopt;
  }
  std::function<bool()> apply = std::move(waiting_.front());
  waiting_.erase(waiting_.begin());
  waitingSince_ = now;
  return lost ? false : apply();
}

bool TReceiverSetup::ReceiverLost() const { return engine_.WorkerAbandoned(); }

namespace {

// Handles being closed off the window's thread. Never destroyed: a closer
// may still be waiting while the program's statics are torn down.
struct PendingCloses {
  std::mutex m;
  std::condition_variable cv;
  int count = 0;
};
PendingCloses& Pending() {
  static auto* p = new PendingCloses;
  return *p;
}

}  // namespace

bool TReceiverSetup::WaitPendingCloses(std::chrono::milliseconds wait) {
  PendingCloses& p = Pending();
  std::unique_lock lk(p.m);
  return p.cv.wait_for(lk, wait, [&] { return p.count == 0; });
}

void TReceiverSetup::Close() {
  engine_.Stop();
  if (!api::dev) return;
  // Closing the handle under a read still in the library would free what
  // that read works on: a handle held for good is left open.
  // A handle left open by a slow read would keep the receiver busy for the
  // next open, so the close waits out a read that is merely slow.
  const auto slowest = TSweepEngine::kHangTime + std::chrono::milliseconds(200);
  rtlsdr_dev_t* dev = std::exchange(api::dev, nullptr);
  if (engine_.WorkerAbandoned()) return;
  const bool ownWorkersDone = engine_.WaitIdle(kChangeWait);
  if (ownWorkersDone && TSweepEngine::WaitAbandonedWorkers(kChangeWait)) {
    if (api::rtlsdr_close) api::rtlsdr_close(dev);
    return;
  }
  if (!ownWorkersDone) {
    // Still this engine's own: waited for here, as before.
    if (WaitUntilReceiverFree(slowest) && api::rtlsdr_close) api::rtlsdr_close(dev);
    return;
  }
  // Only reads left to finish on their own are in the library: the window
  // does not wait for them.
  PendingCloses& p = Pending();
  {
    std::lock_guard lk(p.m);
    ++p.count;
  }
  std::thread([dev, slowest] {
    if (TSweepEngine::WaitAbandonedWorkers(slowest) && api::rtlsdr_close) api::rtlsdr_close(dev);
    PendingCloses& q = Pending();
    std::lock_guard lk(q.m);
    --q.count;
    q.cv.notify_all();
  }).detach();
}

ReceiverReport TReceiverSetup::Run() {
  Close();
  // Without every entry point it calls, the set-up says which file it looked
  // for and stops before touching the library.
  if (!LibraryComplete(report_)) return report_;

  report_ = ReceiverReport{};
  ListReceivers(report_);
  if (report_.deviceCount == 0) {
    report_.outcome = ReceiverReport::Outcome::NoReceiver;
    return report_;
  }
  if (OpenAndConfigure(index_)) Restart(true);
  return report_;
}

void TReceiverSetup::ChooseReceiver(uint32_t index) { index_ = index; }

bool TReceiverSetup::OpenReceiver(uint32_t index) {
  if (!IsOpen()) return OpenReceiverNow(index);
  return Change([this, index] { return OpenReceiverNow(index); });
}

bool TReceiverSetup::OpenReceiverNow(uint32_t index) {
  Close();
  if (!LibraryComplete(report_)) return false;
  const uint32_t previous = index_;
  index_ = index;
  ListReceivers(report_);
  if (!OpenAndConfigure(index)) {
    index_ = previous;
    return false;
  }
  Restart(true);
  return true;
}

bool TReceiverSetup::OpenAndConfigure(uint32_t index) {
  ReceiverReport& r = report_;
  r.index = index;
  r.outcome = ReceiverReport::Outcome::OpenFailed;
  r.sweepStarted = false;
  // Any failure to open ends here; the library is never called with a handle
  // it did not give.
  // A receiver an earlier window still has to let go of is not free yet.
  WaitPendingCloses(TSweepEngine::kHangTime + std::chrono::milliseconds(200));
  rtlsdr_dev_t* dev = nullptr;
  r.openResult = api::rtlsdr_open(&dev, index);
  if (r.openResult < 0 || !dev) return false;
  api::dev = dev;
  r.outcome = ReceiverReport::Outcome::Opened;

  r.tuner = static_cast<uint8_t>(api::rtlsdr_get_tuner_type(dev));

  // A rate kept from before the receiver was open may be one this library
  // refuses; the written rate then stands.
  if (api::rtlsdr_set_sample_rate(dev, rate_) != 0 && rate_ != kDefaultSampleRate) {
    rate_ = kDefaultSampleRate;
    api::rtlsdr_set_sample_rate(dev, rate_);
  }
  engine_.SetSampleRate(static_cast<int32_t>(rate_));
  r.sampleRate = api::rtlsdr_get_sample_rate(dev);

  const int gainCount = api::rtlsdr_get_tuner_gains(dev, api::gains);
  const int shown = std::min(gainCount, static_cast<int>(std::size(api::gains)));
  r.gains.assign(api::gains, api::gains + std::max(shown, 0));

  // A gain typed in dB (an option, a value remembered from another stick) is
  // the tuner's nearest, settled here so that the sweep starts with it.
  if (gainMode_ == GainMode::Manual) gain_ = NearestGain(gain_);
  if (!ApplyGain(gainMode_, gain_)) {
    gainMode_ = GainMode::Written;
    ApplyGain(gainMode_, gain_);
  }
  api::rtlsdr_set_freq_correction(dev, ppm_);
  r.freqCorrection = api::rtlsdr_get_freq_correction(dev);

  r.binWidth = r.sampleRate / static_cast<double>(kPointsPerStep);
  engine_.SetBinWidth(r.binWidth);
  r.fftSize = kFftSize;
  return true;
}

bool TReceiverSetup::ApplyGain(GainMode mode, int tenths) {
  rtlsdr_dev_t* dev = api::dev;
  switch (mode) {
    case GainMode::Written:
      // The written set-up's value, its result never looked at.
      api::rtlsdr_set_tuner_gain_mode(dev, kWrittenGainMode);
      return true;
    case GainMode::Auto:
      return api::rtlsdr_set_tuner_gain_mode(dev, 0) == 0;
    case GainMode::Manual:
      if (!api::rtlsdr_set_tuner_gain) return false;
      if (!report_.gains.empty() && std::find(report_.gains.begin(), report_.gains.end(), tenths) == report_.gains.end())
        return false;
      return api::rtlsdr_set_tuner_gain_mode(dev, 1) == 0 && api::rtlsdr_set_tuner_gain(dev, tenths) == 0;
  }
  return false;
}

int TReceiverSetup::NearestGain(int tenthsDb) const {
  const std::vector<int>& g = report_.gains;
  if (g.empty()) return tenthsDb;
  return *std::min_element(g.begin(), g.end(), [tenthsDb](int a, int b) {
    return std::abs(static_cast<long>(a) - tenthsDb) < std::abs(static_cast<long>(b) - tenthsDb);
  });
}

void TReceiverSetup::Restart(bool newLayout) {
  engine_.Stop();  // the set-up normally runs before any worker; never two
  engine_.Reset();
  if (newLayout) engine_.PrepareSeries();
  report_.sweepStarted = engine_.Start();
  report_.scanStart = engine_.StartFrequency();
  report_.scanStop = engine_.StopFrequency();
}

bool TReceiverSetup::SetGain(std::optional<int> tenthsDb) {
  const GainMode mode = tenthsDb ? GainMode::Manual : GainMode::Auto;
  const int tenths = tenthsDb.value_or(0);
  if (!IsOpen()) {
    gainMode_ = mode;
    gain_ = tenths;
    return false;
  }
  return Change([this, mode, tenths] {
    const bool ok = ApplyGain(mode, tenths);
    if (ok) {
      gainMode_ = mode;
      gain_ = tenths;
    } else {
      ApplyGain(gainMode_, gain_);  // a half-applied change is undone
    }
    Restart(false);
    return ok;
  });
}

bool TReceiverSetup::SetFreqCorrection(int ppm) {
  if (ppm < kMinPpm || ppm > kMaxPpm) return false;
  if (!IsOpen()) {
    ppm_ = ppm;
    return false;
  }
  return Change([this, ppm] {
    // The library refuses a correction equal to the one in force.
    const bool ok = api::rtlsdr_get_freq_correction(api::dev) == ppm ||
                    api::rtlsdr_set_freq_correction(api::dev, ppm) == 0;
    if (ok) ppm_ = ppm;
    report_.freqCorrection = api::rtlsdr_get_freq_correction(api::dev);
    Restart(false);
    return ok;
  });
}

bool TReceiverSetup::SetSampleRate(uint32_t rate) {
  if (rate == 0 || rate > static_cast<uint32_t>(INT32_MAX)) return false;
  if (!IsOpen()) {
    rate_ = rate;
    return false;
  }
  return Change([this, rate] {
    if (api::rtlsdr_set_sample_rate(api::dev, rate) != 0) {
      // The worker sets the engine's rate at every step, so the previous one
      // is back in force with the next step.
      Restart(false);
      return false;
    }
    rate_ = rate;
    report_.sampleRate = api::rtlsdr_get_sample_rate(api::dev);
    report_.binWidth = report_.sampleRate / static_cast<double>(kPointsPerStep);
    engine_.SetSampleRate(static_cast<int32_t>(rate));
    engine_.SetBinWidth(report_.binWidth);
    Restart(true);
    return true;
  });
}

}  // namespace wg
