// Time of one whole sweep on the paced simulator with its tuning delay:
// one, two and four sticks sharing a range with the written read, the fast
// read with one and two sticks over 24-1766 MHz, and Debian's rtl_power over
// the same range on the same simulator in the same run
// (rtl_power -f 24M:1766M:100k -i 1 -1).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "receiver/LocalRtlSdr.h"
#include "receiver/Receiver.h"
#include "receiver/RtlSdrLibrary.h"
#include "receiver/api_rtl_sdr.h"
#include "sweep/SweepEngine.h"

namespace {

namespace fs = std::filesystem;

// Stands in for the user-interface thread.
class Ui {
 public:
  wg::PostToUi Poster() {
    return [this](std::function<void()> fn) {
      std::lock_guard lk(m_);
      q_.push_back(std::move(fn));
      cv_.notify_all();
    };
  }
  bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds patience) {
    const auto end = std::chrono::steady_clock::now() + patience;
    std::unique_lock lk(m_);
    while (!done()) {
      if (!cv_.wait_until(lk, end, [&] { return !q_.empty(); })) return false;
      std::deque<std::function<void()>> now;
      now.swap(q_);
      lk.unlock();
      for (auto& f : now) f();
      lk.lock();
    }
    return true;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
};

// The simulator as the engine and rtl_power both find it: four paced sticks
// with the tuning delay and the 4096 settle bytes rtl_power flushes.
bool BindSimulator(benchmark::State& state) {
  ::setenv("RTLSDR_SIM_DEVICES", "4", 1);
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  ::setenv("RTLSDR_SIM_TUNE_US", "5000", 1);
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "4096", 1);
  if (!api_rtl_sdr::Loaded()) {
    const fs::path dir = fs::temp_directory_path() / ("wg-sticks-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::copy_file(WG_SIM_LIB, dir / "librtlsdr.so", fs::copy_options::overwrite_existing);
    api_rtl_sdr::LoadFrom(dir.string());
    fs::remove_all(dir);
  }
  if (!api_rtl_sdr::Loaded()) state.SkipWithError("simulator not loaded");
  return api_rtl_sdr::Loaded();
}

// Seconds of the second whole sweep (the first may begin before every stick
// is under way).
void MeasureSweep(benchmark::State& state, int64_t start, int64_t stop, int sticks, bool fast) {
  if (!BindSimulator(state)) return;
  Ui ui;
  std::string log;
  wg::TSweepEngine engine(nullptr, ui.Poster(), [&](const std::string& s) { log += s + "\n"; });
  auto library = wg::RtlSdrLibrary::FromLoader();
  for (int i = 0; i < sticks; ++i) {
    auto r = std::make_unique<wg::Receiver>(std::make_unique<wg::LocalRtlSdr>(library, i), wg::ReceiverSettings{});
    wg::Receiver* p = r.get();
    engine.AddReceiver(std::move(r));
    p->WaitOpened(std::chrono::seconds(5));
  }
  engine.SetScanRange(start, stop);
  engine.SetBinWidth(3200000 / 4096.0);
  engine.SetFast(fast);
  std::vector<wg::SweepPtr> sweeps;
  engine.AddSweepListener([&](const wg::SweepPtr& s) { sweeps.push_back(s); });
  if (!engine.Start()) {
    state.SkipWithError(("engine did not start: " + log).c_str());
    return;
  }
  double total = 0;
  for (auto _ : state) {
    const size_t want = sweeps.size() + 2;
    if (!ui.PumpUntil([&] { return sweeps.size() >= want; }, std::chrono::seconds(120))) {
      state.SkipWithError("no sweep");
      break;
    }
    const wg::Sweep& s = *sweeps.back();
    const double seconds = std::chrono::duration<double>(s.finished - s.started).count();
    state.SetIterationTime(seconds);
    total += seconds;
  }
  engine.StopForDestroy();
  const size_t steps = wg::SweepCentres(start, stop, 3200000).size();
  state.counters["sweep_s"] = total / static_cast<double>(state.iterations());
  state.counters["steps"] = static_cast<double>(steps);
  if (fast) {
    // No fast read can end sooner than the tuning wait plus the samples its
    // spectrum uses, made after the wait: what a sweep of one stick cannot
    // beat on this simulator.
    const double perStep = wg::ReadPlan::kTuneWaitUs * 1e-6 + wg::ReadPlan{}.usedBytes / (2.0 * 3200000);
    state.counters["floor_s"] = static_cast<double>(steps) * perStep / sticks;
  }
}

// The written read: a range of 157 steps.
void BM_Sticks_WrittenRead(benchmark::State& state) {
  MeasureSweep(state, 100000000, 600000000, static_cast<int>(state.range(0)), false);
}
BENCHMARK(BM_Sticks_WrittenRead)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The fast read over rtl_power's range.
void BM_Sticks_Fast_24_1766(benchmark::State& state) {
  MeasureSweep(state, 24000000, 1766000000, static_cast<int>(state.range(0)), true);
}
BENCHMARK(BM_Sticks_Fast_24_1766)->Arg(1)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Debian's rtl_power, one sweep, on the same simulator.
void BM_RtlPower_24_1766(benchmark::State& state) {
  if (!BindSimulator(state)) return;
  const fs::path dir = fs::path(WG_SIM_LIB).parent_path();
  const fs::path out = fs::temp_directory_path() / ("wg-rtl-power-" + std::to_string(::getpid()) + ".csv");
  const std::string cmd = "LD_LIBRARY_PATH='" + dir.string() + "' rtl_power -f 24M:1766M:100k -i 1 -1 '" +
                          out.string() + "' >/dev/null 2>&1";
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (rc != 0) {
      state.SkipWithError("rtl_power failed (is package rtl-sdr installed?)");
      break;
    }
    state.SetIterationTime(seconds);
    state.counters["sweep_s"] = seconds;
  }
  fs::remove(out);
}
BENCHMARK(BM_RtlPower_24_1766)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
