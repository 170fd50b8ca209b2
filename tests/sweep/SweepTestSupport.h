// What the engine tests stand in for the window: a series that keeps its
// points in plain arrays and a user-interface queue that the test thread
// pumps.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "receiver/LocalRtlSdr.h"
#include "receiver/RtlSdrLibrary.h"
#include "sweep/FftLevels.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"

namespace wgtest {

class TestSeries : public wg::TSweepSeries {
 public:
  int PointCount() const { return static_cast<int>(x.size()); }
  void ResetPoints(int count) override {
    x.assign(static_cast<size_t>(count), 0.0);
    y.assign(static_cast<size_t>(count), 0.0);
    x.shrink_to_fit(), y.shrink_to_fit();
  }
  // The points as the chart reads a shown sweep: point i of the sweep, its
  // last one past its end.
  void ShowSweep(const wg::SweepPtr& sweep) override {
    const size_t have = sweep->PointCount();
    for (size_t i = 0; i < x.size(); ++i) {
      const size_t k = std::min(i, have - 1);
      x[i] = sweep->X(k);
      y[i] = sweep->Y(k);
    }
    ++deliveries;
    writes += PointCount();
    if (shown) shown();
  }

  std::vector<double> x, y;
  int deliveries = 0;
  long writes = 0;
  // Called in the hand-over, right after the points changed.
  std::function<void()> shown;
};

// Calls posted by the worker, run when the test thread pumps.
class UiQueue {
 public:
  wg::PostToUi Poster() {
    return [this](std::function<void()> fn) {
      std::lock_guard lk(m_);
      q_.push_back(std::move(fn));
      ++posted_;
      cv_.notify_all();
    };
  }
  // Runs what is queued now.
  void Pump() {
    std::deque<std::function<void()>> now;
    {
      std::lock_guard lk(m_);
      now.swap(q_);
    }
    for (auto& f : now) f();
  }
  // Pumps until pred holds or the timeout passes.
  bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Pump();
      if (pred()) return true;
      if (std::chrono::steady_clock::now() >= end) return false;
      std::unique_lock lk(m_);
      cv_.wait_for(lk, std::chrono::milliseconds(5), [this] { return !q_.empty(); });
    }
  }
  // Waits, without running anything, until a call is queued: one posted
  // while the test was not pumping counts too, and is the only one a worker
  // posts until it has run.
  bool WaitQueued(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, timeout, [&] { return !q_.empty(); });
  }
  // Waits, without running anything, until something more has been posted.
  bool WaitPosted(long than, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, timeout, [&] { return posted_ > than; });
  }
  long Posted() {
    std::lock_guard lk(m_);
    return posted_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
  long posted_ = 0;
};

// Levels of a block filled with one byte value, as the engine keeps them.
inline const std::array<double, wg::kFftSize>& LevelsOfConstantBlock(uint8_t c) {
  static std::array<std::array<double, wg::kFftSize>, 256> cache;
  static std::array<bool, 256> have{};
  static std::mutex m;
  std::lock_guard lk(m);
  if (!have[c]) {
    std::vector<uint8_t> block(wg::TSweepEngine::kBlockSize, c);
    wg::SpectrumOfBlock(block.data(), block.size(), static_cast<long>(block.size()), cache[c].data());
    for (double& v : cache[c]) v = static_cast<float>(v);
    have[c] = true;
  }
  return cache[c];
}

// Gives the engine stick `index` of the bound library (the fake or the
// simulator) as a receiver with the written settings, once it has opened.
inline wg::Receiver* AttachReceiver(wg::TSweepEngine& engine, uint32_t index = 0) {
  auto library = wg::RtlSdrLibrary::FromLoader();
  if (!library) return nullptr;
  auto r = std::make_unique<wg::Receiver>(std::make_unique<wg::LocalRtlSdr>(library, index), wg::ReceiverSettings{});
  wg::Receiver* p = r.get();
  if (engine.AddReceiver(std::move(r)) == 0) return nullptr;
  p->WaitOpened(std::chrono::seconds(5));
  return p;
}

// A receiver control's outcome: at once, or, when a busy machine kept the
// receiver from answering within the set-up's change wait, as settled later.
inline bool Settled(wg::TReceiverSetup& setup, UiQueue& ui, bool result) {
  if (result || !setup.LastChangeWaits()) return result;
  std::optional<bool> settled;
  setup.SetChangeSettled([&](bool taken) { settled = taken; });
  const bool heard = ui.PumpUntil([&] { return settled.has_value(); });
  setup.SetChangeSettled({});
  return heard && *settled;
}

}  // namespace wgtest
