// Time a thread spent runnable but waiting for a CPU that other programs held.
// Tests that bound how long a call may keep its caller subtract it: the tests
// share a small machine, a user's window does not wait for them.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>

namespace wgtest {

// Nanoseconds the calling thread has waited on the run queue; 0 where the
// kernel does not say.
inline int64_t RunQueueWaitNs() {
  std::ifstream in("/proc/self/task/" + std::to_string(::gettid()) + "/schedstat");
  int64_t onCpu = 0, waiting = 0;
  in >> onCpu >> waiting;
  return waiting;
}

// How long `f` kept the calling thread, less its waits for a CPU.
template <class F>
std::chrono::nanoseconds HeldFor(F&& f) {
  const int64_t wait0 = RunQueueWaitNs();
  const auto t0 = std::chrono::steady_clock::now();
  f();
  const auto took = std::chrono::steady_clock::now() - t0;
  return took - std::chrono::nanoseconds(RunQueueWaitNs() - wait0);
}

}  // namespace wgtest
