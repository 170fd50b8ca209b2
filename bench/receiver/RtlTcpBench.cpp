// Sweep rate of a remote receiver against a stick on this computer: one
// ReceiverPool sweeping 96-160 MHz (20 steps) at 3.2 MS/s, the simulator
// paced like the hardware, first as a local stick and then behind Debian's
// rtl_tcp on 127.0.0.1, in the same run. Reported per sweep, with the
// remote's rate as a share of the local one's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "receiver/LocalRtlSdr.h"
#include "receiver/ReceiverPool.h"
#include "receiver/RtlTcpDevice.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepEngine.h"
#include "tests/common/RtlTcpServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kRate = 3200000;

// Seconds per sweep, the first one (opening, the first plan) left out.
double SecondsPerSweep(std::unique_ptr<wg::ReceiverDevice> device, bool fast, int sweeps) {
  std::mutex m;
  std::condition_variable cv;
  std::vector<Clock::time_point> done;
  wg::ReceiverPool pool({[&](std::shared_ptr<const wg::PooledSweep>) {
                           std::lock_guard lk(m);
                           done.push_back(Clock::now());
                           cv.notify_all();
                         },
                         {}});
  pool.Add(std::make_unique<wg::Receiver>(std::move(device), wg::ReceiverSettings{}));
  wg::ScanPlan plan;
  plan.centres = wg::SweepCentres(96000000, 160000000, kRate);
  plan.rate = kRate;
  plan.read.fast = fast;
  plan.transform = &wg::SpectrumOfBlock;
  pool.SetPlan(plan);
  std::unique_lock lk(m);
  if (!cv.wait_for(lk, std::chrono::seconds(20 * (sweeps + 1)), [&] { return done.size() > size_t(sweeps); }))
    return NAN;
  return std::chrono::duration<double>(done[size_t(sweeps)] - done[0]).count() / sweeps;
}

void BM_RemoteAgainstLocalSweep(benchmark::State& state) {
  const bool fast = state.range(0) != 0;
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  std::string error;
  auto sim = wg::RtlSdrLibrary::Load(WG_SIM_LIB, &error);
  wgtest::RtlTcpServer server(WG_RTL_TCP, WG_SIM_DIR, {{"RTLSDR_SIM_PACE", "1"}});
  if (!sim || !server.Start()) {
    state.SkipWithError("no simulator or no rtl_tcp");
    return;
  }
  double local = 0, remote = 0;
  for (auto _ : state) {
    local = SecondsPerSweep(std::make_unique<wg::LocalRtlSdr>(sim, 0), fast, 3);
    remote = SecondsPerSweep(std::make_unique<wg::RtlTcpDevice>(wg::RtlTcpAddress{"127.0.0.1", server.Port()}),
                             fast, 3);
    state.SetIterationTime(remote);
  }
  state.counters["local_s"] = local;
  state.counters["remote_s"] = remote;
  state.counters["remote_share_of_local_rate"] = local / remote;
}
BENCHMARK(BM_RemoteAgainstLocalSweep)->ArgName("fast")->Arg(0)->Arg(1)->UseManualTime()->Iterations(2)->Unit(
    benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
