// The simulated USB bus: which sticks are plugged in, which are open, and how
// the library's device indexes map to them. A stick is known by its place
// among all the sticks configured (RTLSDR_SIM_DEVICES), which its serial
// numbers; the library's index counts only the sticks plugged in, so it
// shifts while a stick is out, as on a real bus.
#pragma once

#include <rtl-sdr.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace wg::sim {

using Clock = std::chrono::steady_clock;

// When the library was loaded: the time base of keyed emitters.
Clock::time_point LoadTime();

// The sticks plugged in now, in index order; `warn` reports bad values of
// the device count.
std::vector<uint32_t> PluggedSticks(bool warn);
// The stick at a library index, or nothing.
std::optional<uint32_t> StickAt(uint32_t index, bool warn);

// Takes a stick off the bus until `backAfterMs` has passed; without it the
// stick stays listed (as it always was: only its open handle fails).
void Unplug(uint32_t stick, std::optional<uint32_t> backAfterMs);
// Whether a stick is on the bus: configured at the last listing (fewer
// sticks configured then take the others off) and not pulled out.
bool OnTheBus(uint32_t stick);

// The device behind a handle, or nothing for a null, closed or foreign one.
std::shared_ptr<rtlsdr_dev> Find(rtlsdr_dev_t* h);
// Adds a newly opened stick; kUsbErrorBusy when a live handle holds it.
int Register(const std::shared_ptr<rtlsdr_dev>& d);
// Takes a stick off the list; nothing for a handle not on it.
std::shared_ptr<rtlsdr_dev> Unregister(rtlsdr_dev_t* h);

}  // namespace wg::sim
