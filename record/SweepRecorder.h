// Appends sweeps to an rtl_power CSV file on a writer thread of its own, so
// that the thread that hands the sweeps over never waits for the disk, nor
// for the formatting: it queues the shared sweep itself, not a copy.
//
// Each sweep goes out whole: its lines are formatted first and written with
// one write call (one per line to a pipe), and a write that fails part-way is cut back off a regular
// file, so the file always ends with a whole sweep and readers never meet a
// split line. The first failure (disk full, file removed or replaced, a pipe
// closed) ends the recording; what was written before stays as it was.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/RtlPowerCsv.h"
#include "record/SweepIntegrator.h"
#include "sweep/Sweep.h"

namespace wg {

struct SweepRecorderOptions {
  // Sweeps waiting for the disk at most (1 or more); a further one is dropped
  // (and counted), or waited for when waitWhenFull is set.
  size_t maxQueued = 4;
  bool waitWhenFull = false;
  // Bins combined and sweeps integrated before they are written (nothing
  // chosen: every sweep as it is); intervals count from the opening.
  IntegrationChoice integration;
};

class TSweepRecorder {
 public:
  using Options = SweepRecorderOptions;
  // Called once, on the writer thread, with the reason of the first failure.
  using FailureFn = std::function<void(const std::string& reason)>;

  // Opens `path` for appending (created when missing); "-" is standard
  // output, which is never closed. Null, with the reason in `error`, when the
  // file cannot be opened for writing.
  static std::unique_ptr<TSweepRecorder> Open(const std::string& path, std::string& error,
                                              FailureFn onFailure = {}, Options options = {});
  ~TSweepRecorder();  // as Close
  TSweepRecorder(const TSweepRecorder&) = delete;
  TSweepRecorder& operator=(const TSweepRecorder&) = delete;

  // Queues a sweep for writing. False when it was not taken: the recording
  // failed or was closed, or the queue is full (without waitWhenFull).
  bool Add(SweepPtr sweep);
  // Writes what is queued, then ends the writer thread. Safe to call twice.
  void Close();
  // For an exit in a hurry, from any thread: lets no further write start and
  // waits at most `wait` for the one under way, so that the process can end
  // without leaving part of a line. A file gets the rest of its sweep (a
  // disk does not keep a writer waiting); anything else (a pipe whose
  // reader may never read again) only the rest of the line under way.
  // False when the write did not end in time.
  bool StopWriting(std::chrono::milliseconds wait);

  const std::string& Path() const { return path_; }
  bool ToStandardOutput() const { return path_ == "-"; }
  uint64_t SweepsWritten() const { return sweepsWritten_.load(); }
  uint64_t SweepsDropped() const { return sweepsDropped_.load(); }
  uint64_t BytesWritten() const { return bytesWritten_.load(); }
  bool Failed() const { return failed_.load(); }
  std::string FailureReason() const;

 private:
  TSweepRecorder(std::string path, int fd, FailureFn onFailure, Options options);
  void Run();
  bool WriteSweep(const std::string& text);
  void Format(const Sweep& sweep, std::string& text);
  void Fail(const std::string& reason);

  const std::string path_;
  const int fd_;
  const FailureFn onFailure_;
  Options options_;
  bool regularFile_ = false;
  uint64_t device_ = 0, inode_ = 0;  // of the file opened, to notice it was removed

  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<SweepPtr> queue_;
  bool closing_ = false;
  bool closed_ = false;
  std::string failure_;

  std::atomic<uint64_t> sweepsWritten_{0}, sweepsDropped_{0}, bytesWritten_{0};
  std::atomic<bool> failed_{false};
  std::timed_mutex writing_;  // held for each write to the file
  bool writesStopped_ = false;  // under writing_
  std::atomic<bool> stopAsked_{false};
  std::unique_ptr<TSweepIntegrator> integrator_;  // writer thread only
  RtlPowerSweep integrated_;
  std::thread thread_;
};

}  // namespace wg
