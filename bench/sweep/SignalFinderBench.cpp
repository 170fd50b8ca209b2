// The signal table after one sweep: the finder (running median floor,
// detections) and the table's update, which run on the watch's own thread,
// and what the window's thread pays to hand the sweep over to it. Sizes: the
// default range (20,480 points measured for 19,200 shown) and a 24-1766 MHz
// survey (2,232,320 points, 545 steps). The budget they are held against is
// the sweep's own time at the receiver's acquisition bound: 20.48 ms per
// step, 11.2 s for the survey's sweep.
#include <benchmark/benchmark.h>

#include <vector>

#include "sweep/SignalTable.h"
#include "sweep/SignalWatch.h"
#include "tests/sweep/SignalScene.h"

namespace {

// A busy band: a carrier every 500 kHz, an FM station every 2 MHz.
wgtest::SignalScene Busy(int64_t start, int64_t stop) {
  wgtest::SignalScene scene(start, stop, 3);
  scene.rippleDb = 3;
  for (int64_t f = start + 250000; f < stop; f += 500000) scene.emitters.push_back({f + 123.0, -60});
  for (int64_t f = start + 1000000; f < stop; f += 2000000) scene.emitters.push_back({double(f), -50, 150000});
  return scene;
}

const wg::TSignalInput& Sweep(int64_t stop) {
  static wg::TSignalInput narrow = Busy(138000000, 153000000).Sweep(0);
  static wg::TSignalInput wide = Busy(24000000, 1766000000).Sweep(0);
  return stop == 153000000 ? narrow : wide;
}

void Label(benchmark::State& state, const wg::TSignalInput& in) {
  state.counters["points"] = static_cast<double>(in.count);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * in.count));
}

// On the watch's thread: one sweep's detections.
void BM_Find(benchmark::State& state) {
  const wg::TSignalInput& in = Sweep(state.range(0));
  wg::TSignalFinder finder;
  size_t found = 0;
  for (auto _ : state) found = finder.Find(in, {}).size();
  state.counters["found"] = static_cast<double>(found);
  Label(state, in);
}
BENCHMARK(BM_Find)->Arg(153000000)->Arg(1766000000)->Unit(benchmark::kMillisecond);

// On the watch's thread: the table's update with them, the table holding
// every signal of the range already.
void BM_TableAdd(benchmark::State& state) {
  const wg::TSignalInput& in = Sweep(state.range(0));
  wg::TSignalFinder finder;
  const std::vector<wg::TDetection> found = finder.Find(in, {});
  wg::TSignalTable table;
  table.Add(in, found);
  for (auto _ : state) table.Add(in, found);
  state.counters["signals"] = static_cast<double>(table.Signals().size());
  Label(state, in);
}
BENCHMARK(BM_TableAdd)->Arg(153000000)->Arg(1766000000)->Unit(benchmark::kMillisecond);

// On the window's thread: the engine's sweep made the watch's input and
// submitted. Each iteration waits (untimed) for the watch to finish.
void BM_WindowThreadHandOver(benchmark::State& state) {
  const wg::TSignalInput& in = Sweep(state.range(0));
  auto sweep = std::make_shared<wg::Sweep>();
  sweep->stepStarts = in.stepStarts;
  sweep->levels.assign(in.levels, in.levels + in.count);
  sweep->start = in.start;
  sweep->stop = in.stop;
  sweep->sampleRate = 3200000;
  sweep->binWidth = in.binWidth;
  wg::TSignalWatch watch;
  for (auto _ : state) {
    watch.Submit(wg::SignalInputOf(sweep));
    state.PauseTiming();
    watch.WaitIdle(std::chrono::minutes(1));
    state.ResumeTiming();
  }
  Label(state, in);
}
BENCHMARK(BM_WindowThreadHandOver)->Arg(153000000)->Arg(1766000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
