// What the engine tests stand in for the window: a series that keeps its
// points in plain arrays, an axis that records its calls, and a user-interface
// queue that the test thread pumps.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "fft_levels.h"
#include "sweep_engine.h"

namespace wgtest {

class TestSeries : public wg::TSweepSeries {
 public:
  int PointCount() const override { return static_cast<int>(x.size()); }
  void ResetPoints(int count) override {
    x.assign(static_cast<size_t>(count), 0.0);
    y.assign(static_cast<size_t>(count), 0.0);
    x.shrink_to_fit(), y.shrink_to_fit();
  }
  void ReplaceXY(int count, const double* px, const double* py, std::ptrdiff_t stride) override {
    if (count > PointCount()) throw std::out_of_range("List index out of bounds");
    for (int i = 0; i < count; ++i) x[i] = px[i * stride], y[i] = py[i * stride];
    ++deliveries;
    writes += count;
  }

  std::vector<double> x, y;
  int deliveries = 0;
  long writes = 0;
};

class TestAxis : public wg::TSweepAxis {
 public:
  void SetAutomatic(bool v) override { calls.push_back(std::string("Automatic ") + (v ? "true" : "false")); }
  void SetMaximum(double v) override { calls.push_back("Maximum " + std::to_string(static_cast<long long>(v))); }
  void SetMinimum(double v) override { calls.push_back("Minimum " + std::to_string(static_cast<long long>(v))); }
  std::vector<std::string> calls;
};

inline const std::vector<std::string> kDefaultAxisCalls{"Automatic false", "Maximum 153000000",
                                                        "Minimum 138000000"};

// The report of one R820T stick as the fake and the simulator present it.
inline const std::vector<std::string> kOneReceiverReport{
    "Кол-во донглов RTL в ОС: 1",
    "Имя: Generic RTL2832U OEM",
    "Производитель: Realtek\r\nПродукт: RTL2838UHIDIR\r\nСерийник: 00000001",
    "Чип: RTLSDR_TUNER_R820T\r\n",
    "Полоса: 3200000 Hz",
    "Доступные коэффициенты усиления, дБ:",
    "0.0 0.9 1.4 2.7 3.7 7.7 8.7 12.5 14.4 15.7 16.6 19.7 20.7 22.9 25.4 28.0 29.7 32.8 33.8 36.4 "
    "37.2 38.6 40.2 42.1 43.4 43.9 44.5 48.0 49.6 \r\n",
    "PPM: 2700",
    "Шаг по частоте, Hz: 781.25",
    "Кол-во точек FFT: 4096",
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
