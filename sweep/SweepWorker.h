// One sweep worker: the thread that goes from step to step over the scan
// range, builds the sweep under way and hands each finished one over. The
// values it sweeps with are fixed at its start, and it has a stop flag of
// its own, so that a worker left behind never reads the engine again.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "sweep/Sweep.h"
#include "sweep/SweepSteps.h"

namespace wg {

struct TSweepHub;

// The sweep under way: owned by the worker while one runs, by the engine
// otherwise. A worker that is left to end on its own keeps it; a reset in the
// meantime gives the engine a fresh one.
struct TSweepProgress {
  int32_t stepIndex = 1;
  std::shared_ptr<Sweep> building;  // null until the first step
  // Frequencies of the sweep that the receiver could not tune, as adjoining
  // bands merged into runs.
  std::vector<std::pair<int64_t, int64_t>> untuned;
  std::chrono::system_clock::time_point started;
};

struct TSweepWorker {
  TSweepWorker(TSweepSteps steps) : steps(std::move(steps)) {}

  int64_t start = 0, stop = 0;
  int32_t rate = 0;
  double binWidth = 0;
  int32_t blockSize = 0;
  int transformsAveraged = 1;
  uint64_t epoch = 0;
  std::vector<int64_t> centres;
  TSweepSteps steps;

  std::shared_ptr<TSweepProgress> progress;
  std::shared_ptr<TSweepHub> hub;
  // Earlier workers of the engine that had not returned at this one's
  // start: the receiver is touched only after all of them returned.
  std::vector<std::shared_ptr<TSweepWorker>> previous;

  std::atomic<bool> stopFlag{false};
  std::mutex m;  // guards abandoned, every call of post, and the waits below
  std::condition_variable cv;
  std::atomic<bool> done{false};
  bool abandoned = false;  // posts nothing more; listed with the abandoned
  // When the receiver call under way began (steady clock, ns); 0 outside.
  std::atomic<int64_t> callSince{0};

  // The thread's body.
  void Run();
  void RequestStop();
  bool WaitDone(std::chrono::milliseconds wait);
  // Leaves the worker in the receiver: it posts nothing more and is listed
  // with the abandoned until it returns. False when it has returned.
  bool Abandon();

 private:
  bool WaitForPrevious();
  // The sweep under way, made with room for the whole sweep.
  Sweep& Building();
  void Step(int64_t centre);
  void NoteUntuned(int64_t centre);
  void Publish();
  void Post(std::function<void()> fn);
  void Finish();

  bool tunedThisSweep_ = false;
};

}  // namespace wg
