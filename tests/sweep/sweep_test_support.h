// What the engine tests stand in for the window: a series that keeps its
// points in plain arrays, an axis that records its calls, a log pane and a
// user-interface queue that the test thread pumps.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "spectrum.h"
#include "sweep_engine.h"

namespace wgtest {

class TestSeries : public wg::TSweepSeries {
 public:
  int PointCount() const override { return static_cast<int>(x.size()); }
  void ClearPoints() override {
    x.clear();
    y.clear();
    labels.clear();
    colours.clear();
    ++clears;
  }
  int AddPoint(double vx, double vy, const std::string& label, wg::TSweepColour colour) override {
    x.push_back(vx);
    y.push_back(vy);
    labels.push_back(label);
    colours.push_back(colour);
    return static_cast<int>(x.size()) - 1;
  }
  void SetPointX(int i, double v) override {
    if (i < 0 || i >= PointCount()) throw std::out_of_range("List index out of bounds");
    if (i == 0) ++deliveries;
    ++writes;
    x[static_cast<size_t>(i)] = v;
  }
  void SetPointY(int i, double v) override {
    if (i < 0 || i >= PointCount()) throw std::out_of_range("List index out of bounds");
    ++writes;
    y[static_cast<size_t>(i)] = v;
  }

  std::vector<double> x, y;
  std::vector<std::string> labels;
  std::vector<wg::TSweepColour> colours;
  int clears = 0;
  int deliveries = 0;  // publications written (each starts at point 0)
  long writes = 0;
};

class TestAxis : public wg::TSweepAxis {
 public:
  void SetAutomatic(bool v) override { calls.push_back(std::string("Automatic ") + (v ? "true" : "false")); }
  void SetMaximum(double v) override { calls.push_back("Maximum " + std::to_string(static_cast<long long>(v))); }
  void SetMinimum(double v) override { calls.push_back("Minimum " + std::to_string(static_cast<long long>(v))); }
  std::vector<std::string> calls;
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
  // Runs what is queued now; returns how many ran.
  int Pump() {
    std::deque<std::function<void()>> now;
    {
      std::lock_guard lk(m_);
      now.swap(q_);
    }
    for (auto& f : now) f();
    return static_cast<int>(now.size());
  }
  // Pumps until pred holds or the timeout passes.
  bool PumpUntil(const std::function<bool()>& pred,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Pump();
      if (pred()) return true;
      std::unique_lock lk(m_);
      if (!cv_.wait_until(lk, std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(5)),
                          [this] { return !q_.empty(); }) &&
          std::chrono::steady_clock::now() >= end)
        return pred();
    }
  }
  size_t Queued() {
    std::lock_guard lk(m_);
    return q_.size();
  }
  long Posted() {
    std::lock_guard lk(m_);
    return posted_;
  }
  void Drop() {
    std::lock_guard lk(m_);
    q_.clear();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
  long posted_ = 0;
};

// Levels of a block filled with one byte value, as the engine computes them.
inline const std::array<double, wg::kFftSize>& LevelsOfConstantBlock(uint8_t c) {
  static std::array<std::array<double, wg::kFftSize>, 256> cache;
  static std::array<bool, 256> have{};
  static std::mutex m;
  std::lock_guard lk(m);
  if (!have[c]) {
    std::vector<uint8_t> block(wg::TSweepEngine::kBlockSize, c);
    wg::SpectrumOfBlock(block.data(), block.size(), static_cast<long>(block.size()), cache[c].data());
    have[c] = true;
  }
  return cache[c];
}

}  // namespace wgtest
