// The signal table kept up to date on a thread of its own, so that a sweep of
// millions of points costs the window's thread no more than handing it over.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "sweep/SignalTable.h"
#include "sweep/SweepEngine.h"

namespace wg {

struct TSignalSnapshot {
  std::vector<TSignal> found;  // in frequency order; not "signals", which Qt takes for a keyword
  uint64_t sweeps = 0;   // sweeps taken into the table
  uint64_t skipped = 0;  // sweeps that came while an earlier one was still searched
  uint64_t dropped = 0;  // detections left out of a full table
};

// The sweep as the finder reads it: its levels where they lie, kept alive by
// the input; only the step starts are copied.
TSignalInput SignalInputOf(const SweepPtr& sweep);

class TSignalWatch {
 public:
  // Called on the watch's thread after each new snapshot; never after the
  // destructor has returned.
  using Changed = std::function<void()>;
  explicit TSignalWatch(Changed changed = {});
  ~TSignalWatch();
  TSignalWatch(const TSignalWatch&) = delete;
  TSignalWatch& operator=(const TSignalWatch&) = delete;

  // Returns at once. A sweep that arrives while the one before it is still
  // waiting takes its place: the table follows the newest sweeps, and the
  // skipped ones count in neither the presence nor the coverage of a signal.
  void Submit(TSignalInput in);
  // Taking effect with the next sweep searched.
  void SetSettings(const TSignalSettings& s);
  TSignalSettings Settings() const;
  // Starts the table afresh; the snapshot is empty at once.
  void Clear();

  std::shared_ptr<const TSignalSnapshot> Snapshot() const;
  // Waits at most `wait` until every sweep submitted so far is in the table.
  bool WaitIdle(std::chrono::milliseconds wait);

 private:
  void Run();

  Changed changed_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::optional<TSignalInput> pending_;
  TSignalSettings settings_;
  std::shared_ptr<const TSignalSnapshot> snapshot_;
  uint64_t epoch_ = 0;  // counts Clear calls
  uint64_t skipped_ = 0;
  bool working_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace wg
