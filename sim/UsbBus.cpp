#include "sim/UsbBus.h"

#include "sim/RtlSdrDevice.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>
#include <new>

namespace wg::sim {
namespace {

const Clock::time_point kLoaded = Clock::now();

struct Registry {
  std::mutex m;
  std::vector<std::shared_ptr<rtlsdr_dev>> open;
  // Until when each stick is off the bus; the epoch: plugged in.
  std::array<Clock::time_point, kMaxDevices> outUntil{};
  uint32_t listed = kMaxDevices;  // sticks configured at the last listing
};

// Never destroyed: a thread still inside the library while the program
// exits (a hung read, a worker not yet joined) must find it intact. Its heap
// storage goes with the last stick closed, so that a program that closes its
// sticks and unloads the library leaves nothing behind.
Registry& Reg() {
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry* const r = new (storage) Registry;
  return *r;
}

// A program may unload the library with sticks still open. The registry
// stays in place for any thread still inside, but the sticks and the list's
// storage go with the library, so that nothing is left behind unreachable.
__attribute__((destructor)) void ReleaseOpenSticks() {
  Registry& r = Reg();
  std::vector<std::shared_ptr<rtlsdr_dev>> gone;
  {
    std::lock_guard lock(r.m);
    gone.swap(r.open);
  }
}

}  // namespace

Clock::time_point LoadTime() { return kLoaded; }

std::vector<uint32_t> PluggedSticks(bool warn) {
  std::vector<std::string> w;
  const uint32_t n = ConfiguredDeviceCount(&w);
  if (warn) Warn(w);
  std::vector<uint32_t> sticks;
  sticks.reserve(n);
  Registry& r = Reg();
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(r.m);
  r.listed = n;
  for (uint32_t i = 0; i < n; ++i)
    if (r.outUntil[i] <= now) sticks.push_back(i);
  return sticks;
}

std::optional<uint32_t> StickAt(uint32_t index, bool warn) {
  const std::vector<uint32_t> sticks = PluggedSticks(warn);
  if (index >= sticks.size()) return std::nullopt;
  return sticks[index];
}

void Unplug(uint32_t stick, std::optional<uint32_t> backAfterMs) {
  if (!backAfterMs || stick >= kMaxDevices) return;
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  r.outUntil[stick] = Clock::now() + std::chrono::milliseconds(*backAfterMs);
}

bool OnTheBus(uint32_t stick) {
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  return stick < r.listed && stick < kMaxDevices && r.outUntil[stick] <= Clock::now();
}

std::shared_ptr<rtlsdr_dev> Find(rtlsdr_dev_t* h) {
  if (!h) return {};
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  for (const auto& p : r.open)
    if (p.get() == h) return p;
  return {};
}

int Register(const std::shared_ptr<rtlsdr_dev>& d) {
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  for (const auto& p : r.open) {
    // A handle whose stick was pulled out no longer holds it.
    if (p->index == d->index && !p->unplugged) {
      // The stick's interface is claimed by the handle already open.
      std::fprintf(stderr, "usb_claim_interface error %d\n", kUsbErrorBusy);
      return kUsbErrorBusy;
    }
  }
  r.open.push_back(d);
  return 0;
}

std::shared_ptr<rtlsdr_dev> Unregister(rtlsdr_dev_t* h) {
  if (!h) return {};
  Registry& r = Reg();
  std::lock_guard lock(r.m);
  auto it = std::find_if(r.open.begin(), r.open.end(), [h](const auto& p) { return p.get() == h; });
  if (it == r.open.end()) return {};
  std::shared_ptr<rtlsdr_dev> d = *it;
  r.open.erase(it);
  if (r.open.empty()) std::vector<std::shared_ptr<rtlsdr_dev>>().swap(r.open);
  return d;
}

}  // namespace wg::sim
