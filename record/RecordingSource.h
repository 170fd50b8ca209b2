// A recording as the window shows it: its sweeps as the same immutable
// Sweep values the engine hands over, read on threads of their own so that
// the window's thread never waits for the disk or the decompressor.
//
// One thread goes through the file once (TRecording::Scan), telling its
// progress, and then reads an overview: up to `overviewSweeps` sweeps spread
// evenly over the whole recording, oldest first (the waterfall's rows).
// Another reads the sweep last asked for with Show, while the scan still
// runs; a request that comes while one is read replaces the one waiting.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/RecordingReader.h"
#include "sweep/Sweep.h"

namespace wg {

// A recorded sweep as the engine would have handed it over: its steps,
// bins, levels (NaN where one did not read) and the time written in the
// file, read as this machine's local time. Null for a sweep without steps.
SweepPtr RecordedSweepValue(const RecordedSweep& recorded);

class TRecordingSource {
 public:
  // Every call comes on one of the source's threads, never after the
  // destructor has returned.
  struct Events {
    // Now and then during the scan: the part of the file read and the
    // sweeps found so far.
    std::function<void(double done, uint64_t sweeps)> progress;
    // A sweep asked for with Show.
    std::function<void(uint64_t number, const SweepPtr& sweep)> shown;
    // The sweeps of the overview, oldest first, each once.
    std::function<void(const SweepPtr& sweep)> overview;
    // The scan and the overview are done (complete: the whole file read).
    std::function<void(bool complete)> finished;
  };

  // Null, with the reason in `error`, when the file cannot be opened.
  static std::unique_ptr<TRecordingSource> Open(const std::string& path, std::string& error, Events events,
                                                size_t overviewSweeps);
  // Stops both threads, waiting only for the read under way.
  ~TRecordingSource();
  TRecordingSource(const TRecordingSource&) = delete;
  TRecordingSource& operator=(const TRecordingSource&) = delete;

  // Asks for sweep n (below SweepCount()); `shown` follows.
  void Show(uint64_t n);
  uint64_t SweepCount() const { return recording_->SweepCount(); }
  std::vector<RecordingProblem> Problems() const { return recording_->Problems(); }
  const std::string& Path() const { return recording_->Path(); }
  size_t MemoryBytes() const { return recording_->MemoryBytes(); }

 private:
  TRecordingSource(std::unique_ptr<TRecording> recording, Events events, size_t overviewSweeps);
  void Scan();
  void Serve();

  std::unique_ptr<TRecording> recording_;
  const Events events_;
  const size_t overviewSweeps_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::condition_variable cv_;
  bool wanted_ = false;
  uint64_t want_ = 0;
  std::thread scanner_, server_;
};

}  // namespace wg
