// A recording as the window shows it: its sweeps as the same immutable
// Sweep values the engine hands over, read on threads of their own so that
// the window's thread never waits for the disk or the decompressor.
//
// One thread goes through the file once (TRecording::Scan), telling its
// progress, and then reads an overview: up to `overviewSweeps` sweeps spread
// evenly over the whole recording, oldest first (the waterfall's rows).
// Another reads the sweep last asked for with Show, while the scan still
// runs; a request that comes while one is read replaces the one waiting.
// The overview can be asked for again (a waterfall shown anew holds no
// rows): the first thread reads it once more after the scan.
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
    // The sweeps of the overview, oldest first, each once per reading;
    // `reading` is 0 for the first, else what ReadOverviewAgain returned.
    std::function<void(const SweepPtr& sweep, uint64_t reading)> overview;
    // The scan and the overview are done (complete: the whole file read).
    std::function<void(bool complete)> finished;
  };

  // Null, with the reason in `error`, when the file cannot be opened.
  static std::unique_ptr<TRecordingSource> Open(const std::string& path, std::string& error, Events events,
                                                size_t overviewSweeps);
  // Stops both threads, waiting only for the chunk of data under way.
  ~TRecordingSource();
  TRecordingSource(const TRecordingSource&) = delete;
  TRecordingSource& operator=(const TRecordingSource&) = delete;

  // Asks for sweep n (below SweepCount()); `shown` follows.
  void Show(uint64_t n);
  // Asks for the overview once more, after the scan; a reading under way
  // gives way to it. Returns the number its sweeps come with.
  uint64_t ReadOverviewAgain();
  uint64_t SweepCount() const { return recording_->SweepCount(); }
  std::vector<RecordingProblem> Problems() const { return recording_->Problems(); }
  const std::string& Path() const { return recording_->Path(); }
  size_t MemoryBytes() const { return recording_->MemoryBytes(); }

 private:
  TRecordingSource(std::unique_ptr<TRecording> recording, Events events, size_t overviewSweeps);
  void Scan();
  void Serve();
  // One reading of the overview, cut short when stopped or asked again.
  void ReadOverview(uint64_t reading);

  std::unique_ptr<TRecording> recording_;
  const Events events_;
  const size_t overviewSweeps_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::condition_variable cv_;
  bool wanted_ = false;
  uint64_t want_ = 0;
  std::atomic<uint64_t> reading_{0};  // the overview's reading last asked for
  std::thread scanner_, server_;
};

}  // namespace wg
