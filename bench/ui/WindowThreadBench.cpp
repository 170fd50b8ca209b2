// What the widest scan range costs the window: the time its thread spends on
// the range change and on each finished sweep handed over, and the memory
// held per point across the engine, the chart and the sweep's listeners.
//
// The real window on the simulated receiver (unpaced), every feature that
// keeps something of a sweep switched on: peak hold, the waterfall shown, a
// recording (to /dev/null) and the saved-sweep capture that always runs.
// The widest range is 0.1-4000 MHz at 3.2 MS/s: 5,119,872 points.
//
// Times are the window thread's processor time (its waits for a processor
// held by other programs are not its work); the wall time is a counter.
#include <QApplication>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "receiver/api_rtl_sdr.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "ui/KeepWhatWasSeen.h"
#include "ui/ReadTheAir.h"
#include "ui/MainWindow.h"
#include "ui/waterfall/WaterfallSplitter.h"

namespace {

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Heap bytes in use, from every arena and every mapped block.
double HeapBytes() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd);
}

// The window over the simulated receiver, with every sweep listener that
// keeps something switched on.
struct Window {
  std::filesystem::path dir;
  std::unique_ptr<MainWindow> form;
  uint64_t sweeps = 0;
  int listener = -1;

  Window() {
    ::setenv("RTLSDR_SIM_PACE", "0", 1);
    char tmpl[] = "/tmp/wg-window-bench-XXXXXX";
    dir = ::mkdtemp(tmpl);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    std::filesystem::create_directory(dir / "plugins");
    std::filesystem::copy_file(WG_SIM_LIB, dir / "plugins" / "librtlsdr.so");
    api_rtl_sdr::LoadFrom((dir / "plugins").string());
    form = std::make_unique<MainWindow>();
    form->resize(1280, 720);
    form->show();
    QApplication::processEvents();
    form->Air().SetMode(wg::TraceMode::PeakHold);
    form->Splitter1->ShowWaterfall(true);
    form->Keep().StartRecording(QStringLiteral("/dev/null"));
    listener = form->Sweep().AddSweepListener([this](const auto&) { ++sweeps; });
  }
  ~Window() {
    form.reset();
    wg::Receiver::WaitThreadsEnded(std::chrono::seconds(2));
    std::filesystem::remove_all(dir);
  }
  // The range as a user types it into the editors: stop first when widening.
  void Range(double startMHz, double stopMHz) {
    form->StopFreqEdit->SetValue(stopMHz);
    form->StartFreqEdit->SetValue(startMHz);
  }
  void Narrow() {
    Range(138, 153);
    QApplication::processEvents();
  }
  // Runs the window's events until `count` more sweeps arrived; the time the
  // window thread spent handing each of them over is added to handOver.
  bool AwaitSweeps(uint64_t count, double* handOver = nullptr, int* handOvers = nullptr) {
    const uint64_t target = sweeps + count;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (sweeps < target) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      // The engine's queued calls only: the hand-over and its listeners,
      // without the drawing that follows.
      const uint64_t before = sweeps;
      const double t0 = ThreadSeconds();
      QCoreApplication::sendPostedEvents(form.get(), QEvent::MetaCall);
      const double t1 = ThreadSeconds();
      if (sweeps > before && handOver) {
        *handOver += t1 - t0;
        ++*handOvers;
      }
      QApplication::processEvents();
    }
    return true;
  }
};

Window& TheWindow() {
  static Window* w = new Window;  // left to the process's end, as the receiver
  return *w;
}

// The default range to the widest one: the editors' handlers, then the
// first drawing of the chart prepared for it.
void BM_WindowThread_WidestRangeChange(benchmark::State& state) {
  Window& w = TheWindow();
  double change = 0, draw = 0, wall = 0;
  for (auto _ : state) {
    state.PauseTiming();
    w.Narrow();
    w.AwaitSweeps(1);
    state.ResumeTiming();
    const double t0 = ThreadSeconds(), w0 = WallSeconds();
    w.Range(0.1, 4000);
    const double t1 = ThreadSeconds(), w1 = WallSeconds();
    w.form->Chart1->repaint();
    const double t2 = ThreadSeconds();
    state.SetIterationTime(t1 - t0);
    change += t1 - t0;
    draw += t2 - t1;
    wall += w1 - w0;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["change_ms"] = 1e3 * change / n;
  state.counters["first_draw_ms"] = 1e3 * draw / n;
  state.counters["change_wall_ms"] = 1e3 * wall / n;
  state.counters["points"] = w.form->Series1->PointCount();
}
BENCHMARK(BM_WindowThread_WidestRangeChange)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// Each finished sweep of the widest range handed to the window: the series,
// the peak hold, the waterfall, the capture for saving and the recording.
// Also the heap held per point once two sweeps are in.
void BM_WindowThread_WidestHandOver(benchmark::State& state) {
  Window& w = TheWindow();
  w.Narrow();
  w.AwaitSweeps(1);
  const double narrowHeap = HeapBytes();
  w.Range(0.1, 4000);
  QApplication::processEvents();
  if (!w.AwaitSweeps(2)) {
    state.SkipWithError("no sweep of the widest range arrived");
    return;
  }
  double handOver = 0;
  int handOvers = 0;
  for (auto _ : state) {
    const double before = handOver;
    if (!w.AwaitSweeps(1, &handOver, &handOvers)) {
      state.SkipWithError("no sweep arrived");
      return;
    }
    state.SetIterationTime(handOver - before);
  }
  w.form->StopSweep();
  w.form->Sweep().WaitIdle(std::chrono::seconds(5));
  QApplication::processEvents();
  const double points = w.form->Series1->PointCount();
  state.counters["points"] = points;
  state.counters["handover_ms"] = handOvers ? 1e3 * handOver / handOvers : 0;
  state.counters["held_bytes_per_point"] = (HeapBytes() - narrowHeap) / points;
  state.counters["series_bytes_per_point"] = static_cast<double>(w.form->Series1->StorageBytes()) / points;
  if (const wg::TFastLineSeries* hold = w.form->Air().HoldSeries())
    state.counters["hold_series_bytes_per_point"] = static_cast<double>(hold->StorageBytes()) / points;
  w.form->StartSweep();
}
BENCHMARK(BM_WindowThread_WidestHandOver)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
