// Where the sweep workers and the user-interface thread meet: a one-slot
// hand-over of the finished sweep, and on the user-interface side the
// series and the listeners it goes to. Queued calls hold the hub by
// shared_ptr, so they stay safe after the engine is gone.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sweep/SweepEngine.h"

namespace wg {

struct TSweepHub {
  PostToUi post;  // fixed at construction; called by the engine's threads

  // User-interface thread only.
  TSweepSeries* series = nullptr;
  LogSink log;
  uint64_t currentEpoch = 0;
  uint64_t preparedEpoch = UINT64_MAX;  // none prepared yet
  uint64_t failureLoggedEpoch = UINT64_MAX;
  uint64_t sequence = 0;
  int nextListener = 1;
  std::vector<std::pair<int, std::shared_ptr<SweepListener>>> listeners;
  std::vector<std::pair<int, std::shared_ptr<TSweepEngine::ReceiverNoteListener>>> noteListeners;

  // Shared with the workers, under m: the one-slot hand-over. A sweep never
  // taken is replaced by the next one.
  mutable std::mutex m;
  std::shared_ptr<Sweep> slot;
  uint64_t slotEpoch = 0;
  bool posted = false;  // a Deliver call is queued
  uint64_t untunedLoggedEpoch = UINT64_MAX;

  // Peak hold, under m: whether it is on, which hold it is, the levels a
  // restarted hold begins with (a sweep that was on its way at the restart)
  // and the last sweep handed over with this hold's maxima.
  bool holding = false;
  uint64_t holdGeneration = 0;
  SweepPtr holdBase, holdLast;

  // Set by the watchdog: a worker hangs in the receiver.
  std::atomic<bool> hung{false};
  // How many listen to the receivers' notes, read by the receivers' threads.
  std::atomic<int> noteListening{0};

  // Worker side: puts a finished sweep of the range counted `epoch` into the
  // slot, with its maxima while the hold is on. True when a Deliver call
  // must be queued.
  bool HandOver(std::shared_ptr<Sweep> sweep, uint64_t epoch);
  // User-interface side: the hold begins again (or ends) from the next sweep.
  void RestartHold(bool on);
  // User-interface side: takes the sweep in the slot, numbers it and shows
  // it in the series prepared for its range, then tells the listeners.
  void Deliver();
  // The range changed: a sweep in the slot is of the old one.
  void DropSlot();
  // User-interface side: what happened to a receiver, logged and passed on.
  void ReceiverNote(const PoolNote& note);
  void LogLine(const std::string& text) {
    if (log) log(text);
  }

 private:
  // Runs f; a failure costs one log line per scan range.
  template <class F>
  void Guarded(F&& f);
};

}  // namespace wg
