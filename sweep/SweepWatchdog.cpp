#include "sweep/SweepWatchdog.h"

#include <algorithm>
#include <utility>

#include "sweep/SweepEngine.h"
#include "sweep/SweepHub.h"
#include "sweep/SweepWorker.h"

namespace wg {

namespace {

struct AbandonedRegistry {
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<const void*, rtlsdr_dev_t*>> workers;
};
AbandonedRegistry& Registry() {
  static auto* r = new AbandonedRegistry;  // never destroyed
  return *r;
}

}  // namespace

namespace abandoned {

void Add(const void* worker, rtlsdr_dev_t* dev) {
  auto& r = Registry();
  std::lock_guard lk(r.m);
  r.workers.emplace_back(worker, dev);
}

void Remove(const void* worker) {
  auto& r = Registry();
  std::lock_guard lk(r.m);
  std::erase_if(r.workers, [worker](const auto& w) { return w.first == worker; });
  r.cv.notify_all();
}

bool HoldsDevice(rtlsdr_dev_t* dev) {
  auto& r = Registry();
  std::lock_guard lk(r.m);
  return std::any_of(r.workers.begin(), r.workers.end(), [dev](const auto& w) { return w.second == dev; });
}

int Count() {
  auto& r = Registry();
  std::lock_guard lk(r.m);
  return static_cast<int>(r.workers.size());
}

bool WaitNone(std::chrono::milliseconds wait) {
  auto& r = Registry();
  std::unique_lock lk(r.m);
  return r.cv.wait_for(lk, wait, [&] { return r.workers.empty(); });
}

}  // namespace abandoned

void TSweepWatchdog::Run() {
  std::unique_lock lk(m);
  while (!quit) {
    cv.wait_for(lk, std::chrono::milliseconds(100));
    const int64_t now = SteadyNanos();
    const int64_t limit = std::chrono::nanoseconds(TSweepEngine::kHangTime).count();
    std::erase_if(watched, [&](const std::weak_ptr<TSweepWorker>& weak) {
      const auto w = weak.lock();
      if (!w || w->done.load()) return true;
      const int64_t since = w->callSince.load();
      if (since == 0 || now - since < limit) return false;
      // Left in the library: it posts nothing more, and if the call ever
      // returns the worker ends there.
      w->stopFlag.store(true);
      if (!w->Abandon()) return true;  // returned just now
      if (!hub->hung.exchange(true) && hub->post) {
        auto h = hub;
        hub->post([h] { h->LogLine(EngineText(kReceiverLostText)); });
      }
      return true;
    });
  }
}

}  // namespace wg
