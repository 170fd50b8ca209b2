// Notices a receiver call that does not return and says so once; keeps the
// program-wide list of workers left hanging in the receiver.
#pragma once

#include <rtl-sdr.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace wg {

struct TSweepHub;
struct TSweepWorker;

struct TSweepWatchdog {
  std::shared_ptr<TSweepHub> hub;
  std::mutex m;
  std::condition_variable cv;
  bool quit = false;
  std::vector<std::weak_ptr<TSweepWorker>> watched;
  std::thread thread;

  void Run();
};

// Workers hung or abandoned in a read, program-wide, with the receiver each
// holds. The list outlives static destruction: a hung worker may too.
namespace abandoned {
void Add(const void* worker, rtlsdr_dev_t* dev);
void Remove(const void* worker);
bool HoldsDevice(rtlsdr_dev_t* dev);
int Count();
bool WaitNone(std::chrono::milliseconds wait);
}  // namespace abandoned

}  // namespace wg
