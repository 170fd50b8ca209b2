// Sweep rate of the engine over 138-153 MHz against the acquisition bound of
// the receiver (five steps of one 131072-byte block at 3.2 MS/s, 20.48 ms
// each), with the simulated receiver paced like the hardware, beside the bare
// receiver calls of the same steps in the same run; and the CPU
// time the worker spends per step, with the simulator unpaced and with a
// receiver that costs nothing (the engine's own share).
#include <benchmark/benchmark.h>
#include <time.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>
#include <atomic>

#include "receiver/LocalRtlSdr.h"
#include "receiver/Receiver.h"
#include "receiver/RtlSdrLibrary.h"
#include "receiver/api_rtl_sdr.h"
#include "sweep/SweepEngine.h"

namespace {

constexpr double kBlockSeconds = 131072 / 2.0 / 3200000.0;  // 20.48 ms
constexpr int kStepsPerSweep = 5;

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Keeps what it is shown, as the chart's series does.
class PlainSeries : public wg::TSweepSeries {
 public:
  void ResetPoints(int count) override { points = count; }
  void ShowSweep(const wg::SweepPtr& sweep) override { shown = sweep; }
  int points = 0;
  wg::SweepPtr shown;
};

// Counts the blocks read, around whatever receiver is bound, and wakes the
// benchmark thread (which sleeps, so that it takes no processor time from
// the worker).
std::mutex g_m;
std::condition_variable g_cv;
long g_reads = 0;
api_rtl_sdr::rtlsdr_read_sync_fn g_innerRead = nullptr;
int CountingRead(rtlsdr_dev_t* dev, void* buf, int len, int* n) {
  const int r = g_innerRead(dev, buf, len, n);
  std::lock_guard lk(g_m);
  ++g_reads;
  g_cv.notify_all();
  return r;
}
long Reads() {
  std::lock_guard lk(g_m);
  return g_reads;
}

// Stands in for the user-interface thread: the benchmark thread runs the
// queued publications while it waits.
class Ui {
 public:
  wg::PostToUi Poster() {
    return [this](std::function<void()> fn) {
      std::lock_guard lk(g_m);
      q_.push_back(std::move(fn));
      g_cv.notify_all();
    };
  }
  void PumpUntilReads(long reads) {
    std::unique_lock lk(g_m);
    for (;;) {
      g_cv.wait(lk, [&] { return g_reads >= reads || !q_.empty(); });
      std::deque<std::function<void()>> now;
      now.swap(q_);
      if (now.empty()) return;
      lk.unlock();
      for (auto& f : now) f();
      lk.lock();
    }
  }

 private:
  std::deque<std::function<void()>> q_;
};

// Runs the engine with one receiver of the bound entry points over the
// default range; one iteration is one sweep's worth of steps.
void MeasureSweeps(benchmark::State& state) {
  g_innerRead = api_rtl_sdr::rtlsdr_read_sync;
  api_rtl_sdr::rtlsdr_read_sync = &CountingRead;
  PlainSeries series;
  Ui ui;
  std::string log;
  {
    wg::TSweepEngine engine(&series, ui.Poster(), [&](const std::string& s) { log += s + "\n"; });
    auto receiver = std::make_unique<wg::Receiver>(
        std::make_unique<wg::LocalRtlSdr>(wg::RtlSdrLibrary::FromLoader(), 0, "bench"), wg::ReceiverSettings{});
    wg::Receiver* r = receiver.get();
    engine.AddReceiver(std::move(receiver));
    r->WaitOpened(std::chrono::seconds(5));
    engine.SetBinWidth(3200000 / 4096.0);
    engine.Reset();
    engine.PrepareSeries();
    if (!engine.Start()) {
      state.SkipWithError(("engine did not start: " + log).c_str());
    } else {
      long target = Reads() + kStepsPerSweep;
      ui.PumpUntilReads(target);  // warm up: one sweep before the clock
      auto last = std::chrono::steady_clock::now();
      const auto first = last;
      const double cpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
      const long reads0 = Reads();
      for (auto _ : state) {
        target += kStepsPerSweep;
        ui.PumpUntilReads(target);
        const auto t = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t - last).count());
        last = t;
      }
      // Everything but this thread: the worker, with the receiver inside it.
      const double workerCpu =
          CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
      const double steps = static_cast<double>(Reads() - reads0);
      const double seconds = std::chrono::duration<double>(last - first).count();
      engine.Stop();
      const double rate = steps / kStepsPerSweep / seconds;
      const double bound = 1.0 / (kStepsPerSweep * kBlockSeconds);
      state.counters["sweeps_per_s"] = rate;
      state.counters["bound_per_s"] = bound;
      state.counters["pct_of_bound"] = 100.0 * rate / bound;
      state.counters["worker_cpu_ms_per_step"] = 1e3 * workerCpu / steps;
    }
  }
  api_rtl_sdr::rtlsdr_read_sync = g_innerRead;
}

#ifdef WG_SIM_LIB
// Binds the simulator from a plugins folder of its own and opens it with the
// given pacing.
bool OpenSimulator(const char* pace, benchmark::State& state) {
  static std::filesystem::path dir;
  if (!api_rtl_sdr::Loaded()) {
    dir = std::filesystem::temp_directory_path() / ("wg-sweep-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(WG_SIM_LIB, dir / "librtlsdr.so",
                               std::filesystem::copy_options::overwrite_existing);
    api_rtl_sdr::LoadFrom(dir.string());
    std::filesystem::remove_all(dir);
  }
  if (!api_rtl_sdr::Loaded() || !api_rtl_sdr::rtlsdr_open) {
    state.SkipWithError("simulator not loaded");
    return false;
  }
  ::setenv("RTLSDR_SIM_PACE", pace, 1);
  return true;
}

// The bare receiver calls need a handle of their own.
struct OpenHandle {
  rtlsdr_dev_t* dev = nullptr;
  OpenHandle() {
    if (api_rtl_sdr::rtlsdr_open(&dev, 0) != 0) dev = nullptr;
    if (dev) api_rtl_sdr::rtlsdr_set_sample_rate(dev, 3200000);
  }
  ~OpenHandle() {
    if (dev) api_rtl_sdr::rtlsdr_close(dev);
  }
};

void BM_SweepRate_PacedSimulator(benchmark::State& state) {
  if (OpenSimulator("1", state)) MeasureSweeps(state);
}
BENCHMARK(BM_SweepRate_PacedSimulator)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same five steps with nothing but the receiver calls, on the
// benchmark thread: what the machine allows right now, without the engine.
void BM_ReceiverOnly_PacedSimulator(benchmark::State& state) {
  if (!OpenSimulator("1", state)) return;
  OpenHandle h;
  if (!h.dev) {
    state.SkipWithError("simulator did not open");
    return;
  }
  std::vector<uint8_t> block(131072);
  double seconds = 0;
  long steps = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int k = 1; k < 2 * kStepsPerSweep; k += 2) {
      api_rtl_sdr::rtlsdr_set_center_freq(h.dev, 138000000 + 1600000 * k);
      api_rtl_sdr::rtlsdr_set_sample_rate(h.dev, 3200000);
      api_rtl_sdr::rtlsdr_reset_buffer(h.dev);
      int n = 0;
      api_rtl_sdr::rtlsdr_read_sync(h.dev, block.data(), static_cast<int>(block.size()), &n);
      ++steps;
    }
    const double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(dt);
    seconds += dt;
  }
  const double rate = static_cast<double>(steps) / kStepsPerSweep / seconds;
  const double bound = 1.0 / (kStepsPerSweep * kBlockSeconds);
  state.counters["sweeps_per_s"] = rate;
  state.counters["pct_of_bound"] = 100.0 * rate / bound;
}
BENCHMARK(BM_ReceiverOnly_PacedSimulator)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Sweep_UnpacedSimulator(benchmark::State& state) {
  if (OpenSimulator("0", state)) MeasureSweeps(state);
}
BENCHMARK(BM_Sweep_UnpacedSimulator)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

// A receiver that hands over a block at no cost: what remains is the
// engine's own work per step (spectrum and points) and the publication.
namespace free_rx {
int SetCentre(rtlsdr_dev_t*, uint32_t) { return 0; }
int SetRate(rtlsdr_dev_t*, uint32_t) { return 0; }
int Reset(rtlsdr_dev_t*) { return 0; }
char handle;
int Open(rtlsdr_dev_t** dev, uint32_t) {
  *dev = reinterpret_cast<rtlsdr_dev_t*>(&handle);
  return 0;
}
int Close(rtlsdr_dev_t*) { return 0; }
int Read(rtlsdr_dev_t*, void* buf, int len, int* n) {
  static_cast<uint8_t*>(buf)[len - 1] ^= 1;  // the samples change a little each time
  *n = len;
  return 0;
}
}  // namespace free_rx

void BM_Sweep_FreeReceiver(benchmark::State& state) {
  const auto saved = std::make_tuple(api_rtl_sdr::rtlsdr_set_center_freq, api_rtl_sdr::rtlsdr_set_sample_rate,
                                     api_rtl_sdr::rtlsdr_reset_buffer, api_rtl_sdr::rtlsdr_read_sync,
                                     api_rtl_sdr::rtlsdr_open, api_rtl_sdr::rtlsdr_close);
  api_rtl_sdr::rtlsdr_set_center_freq = &free_rx::SetCentre;
  api_rtl_sdr::rtlsdr_set_sample_rate = &free_rx::SetRate;
  api_rtl_sdr::rtlsdr_reset_buffer = &free_rx::Reset;
  api_rtl_sdr::rtlsdr_read_sync = &free_rx::Read;
  api_rtl_sdr::rtlsdr_open = &free_rx::Open;
  api_rtl_sdr::rtlsdr_close = &free_rx::Close;
  MeasureSweeps(state);
  std::tie(api_rtl_sdr::rtlsdr_set_center_freq, api_rtl_sdr::rtlsdr_set_sample_rate,
           api_rtl_sdr::rtlsdr_reset_buffer, api_rtl_sdr::rtlsdr_read_sync, api_rtl_sdr::rtlsdr_open,
           api_rtl_sdr::rtlsdr_close) = saved;
}
BENCHMARK(BM_Sweep_FreeReceiver)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
