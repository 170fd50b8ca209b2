// The sweep engine: one worker thread tunes the receiver step by step over the
// scan range, turns each sample block into 4096 levels and hands every
// finished sweep, an immutable Sweep, to the user-interface thread, which
// shows it in the chart's series and passes it on to the sweep listeners,
// all by pointer. A watchdog notices a receiver that stops responding. The
// receiver set-up (ReceiverSetup.h) opens the receiver and starts the first
// sweep.
//
// Everything here is called from the user-interface thread. The engine reaches
// the window only through the narrow interfaces below, so it runs without one.
// Nothing the user-interface thread does here takes time per point.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sweep/ScanLimits.h"
#include "sweep/Sweep.h"
#include "sweep/TraceMode.h"

namespace wg {

// What the engine needs of the chart's line series. The window adapts the
// chart's TChartSeries to it.
class TSweepSeries {
 public:
  virtual ~TSweepSeries() = default;
  // Replaces every point by `count` points at X 0, Y 0, no label, red, in one
  // step and without time or storage per point.
  virtual void ResetPoints(int count) = 0;
  // Shows the sweep as the series' points, without copying it: their count
  // stays, point i is the sweep's point i (its last one past its end). A NaN
  // level is a gap in the trace.
  virtual void ShowSweep(const SweepPtr& sweep) = 0;
};

// Queues a call to run later on the user-interface thread and returns at once
// (in the program: Qt's queued invocation). Called from the sweep worker.
using PostToUi = std::function<void(std::function<void()>)>;
// Appends one text to the log pane; "\r\n" inside starts further lines.
using LogSink = std::function<void(const std::string&)>;

// Told of each finished sweep; may keep the pointer as long as it likes.
using SweepListener = std::function<void(const SweepPtr&)>;

struct TSweepProgress;
struct TSweepHub;
struct TSweepWorker;
struct TSweepWatchdog;

// Centres of the steps of one sweep over start..stop at the given sample
// rate, in order: step j (j = 0, 1, ...) is tuned to Round(rate / 2 * (2j + 1)
// + start), halves to even, and runs while its band's lower edge lies below
// the stop, so the top of the range is always measured. Empty for an empty or
// inverted range or a rate of 0 or less.
std::vector<int64_t> SweepCentres(int64_t start, int64_t stop, int32_t rate);

// Log lines of the engine itself (the window writes the receiver report from
// the set-up's record). Kept here so that tests and the window can recognise them.
extern const char* const kReadFailedText;     // followed by details
extern const char* const kReceiverLostText;
extern const char* const kLibraryMissingText;  // followed by the file name
extern const char* const kLibraryUnloadableText;  // followed by the file name and the reason
extern const char* const kReceiverNotOpenText;
extern const char* const kUntunedText;        // followed by the MHz ranges
extern const char* const kStepFailedText;     // followed by the failure
extern const char* const kDeliveryFailedText; // followed by the failure
// One of the texts above as the log writes it: in the language the user
// chose, the text itself when no translation is installed.
std::string EngineText(const char* text);

// The receiver library file that was (or will be) looked for: the loader's
// path once it ran, else plugins/librtlsdr.so beside the executable.
std::string ReceiverLibraryFile();
// The log line for a receiver library that cannot be called: not found, or
// there but refused by the system, with the system's reason.
std::string ReceiverLibraryAbsentLine();

class TSweepEngine {
 public:
  static constexpr int64_t kDefaultStart = kDefaultStartHz;
  static constexpr int64_t kDefaultStop = kDefaultStopHz;
  static constexpr int32_t kDefaultSampleRate = wg::kDefaultSampleRate;
  static constexpr int32_t kBlockSize = 131072;
  static constexpr int kPointsPerStep = wg::kPointsPerStep;
  // The editors' limits: a scan range is kept within them and within this
  // many series points wherever it enters the engine.
  static constexpr int64_t kLowestFrequency = kMinStartHz;
  static constexpr int64_t kHighestFrequency = kMaxStopHz;
  static constexpr int kMostSeriesPoints = 5120000;
  // How long Stop waits for the worker to return before leaving it to end on
  // its own; a block at the default rate takes 20.48 ms.
  static constexpr std::chrono::milliseconds kDefaultStopWait{50};
  // A receiver call that has not returned after this long means the receiver
  // no longer responds (50 block times).
  static constexpr std::chrono::milliseconds kHangTime{1000};
  // Steps in a row that fail with an exception before the worker gives up.
  static constexpr int kMostFailedSteps = 8;

  // series may be null (nothing is prepared or written then; listeners are
  // still called). post and log must be callable; post is called from the
  // engine's threads and never after Stop, StopForDestroy or the destructor
  // has returned.
  TSweepEngine(TSweepSeries* series, PostToUi post, LogSink log);
  ~TSweepEngine();  // as StopForDestroy
  TSweepEngine(const TSweepEngine&) = delete;
  TSweepEngine& operator=(const TSweepEngine&) = delete;

  // Scan range in Hz (64-bit, so the editors' whole range up to 4000 MHz
  // works), sample rate and bin width. The range is kept within
  // kLowestFrequency..kHighestFrequency; the stop also within
  // kMostSeriesPoints of the start at the current rate. A running worker
  // keeps the values it started with; changes take effect at the next Start.
  int64_t StartFrequency() const { return start_; }
  int64_t StopFrequency() const { return stop_; }
  void SetScanRange(int64_t start, int64_t stop);
  int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(int32_t rate);
  double BinWidth() const { return binWidth_; }
  void SetBinWidth(double width);
  // Points the series gets for the scan range: Round((stop - start) /
  // sample rate * 4096), halves to even; 0 for an empty or inverted range.
  int SeriesPointCount() const;
  // Takes effect at the next Start; anything but Average computes live levels.
  void SetTraceMode(TraceMode m) { traceMode_ = m; }
  TraceMode GetTraceMode() const { return traceMode_; }

  // Peak hold: while it is on, the worker folds each finished sweep into the
  // maxima of the sweeps before it, so the window never walks the points.
  // Turning it on, or restarting it, begins the maxima again with the next
  // sweep shown.
  void SetHold(bool on);
  void RestartHold();
  bool Holding() const;
  // The levels a held line shows for a sweep: its maxima, or its own levels
  // when it is the first of a hold (it was on its way at the restart).
  const std::vector<float>& HeldLevels(const Sweep& sweep) const;

  // Step index 1 and an empty sweep under way, so that the next start begins a
  // new sweep at the start frequency. Does nothing (false) while a worker runs.
  bool Reset();
  // Gives the series one zero point per bin of the scan range, in one step
  // and without time per point.
  void PrepareSeries();
  // Starts one worker (the start button). It continues the sweep where the
  // previous worker left it unless Reset ran in between, and touches the
  // receiver only once every earlier worker has returned. Refused (false)
  // when a worker runs already, the receiver no longer responds, or the
  // library lacks an entry point the sweep calls (one log line then).
  bool Start();
  // Sets the stop flag and waits for the worker, at most the stop wait; a
  // worker still inside a receiver call then ends on its own, and the next
  // worker waits for it on its own thread.
  void Stop();
  // The same with a wait of the caller's choosing (0: none; the next worker
  // then waits for this one on its own thread).
  void Stop(std::chrono::milliseconds wait) { EndWorker(wait); }
  // Stop, and a sweep of the stopped worker still on its way reaches neither
  // the series nor the listeners: the series shows something else until
  // PrepareSeries and the next Start (a recording opened in the window).
  void StopAndWithhold();
  // Stop for the window's destruction: waits at most the stop wait in all
  // (not at all for a receiver that no longer responds). Afterwards queued
  // publications and log lines of this engine reach neither the series, the
  // listeners nor the log pane; a worker that has not returned is abandoned.
  void StopForDestroy();

  // Called on the user-interface thread after each finished sweep of the
  // current scan range has been shown in the series (also without a
  // series), in the order added.
  int AddSweepListener(SweepListener fn);
  void RemoveSweepListener(int id);

  // True while a worker thread runs (false once it ended by itself after a
  // failed read, or hangs in the receiver).
  bool Running() const;
  // No worker of this engine is alive, stopped ones included: only then may
  // the receiver be closed or reconfigured without a read under way.
  bool Idle() const;
  // Waits at most `wait` (not at all once a worker hung) until Idle().
  bool WaitIdle(std::chrono::milliseconds wait);
  // A worker of this engine hung in the receiver: the receiver is lost.
  bool WorkerAbandoned() const;
  // Workers, of any engine, that hung or were abandoned and have not
  // returned yet. The receiver library must not be unloaded while this is
  // above zero.
  static int AbandonedWorkersAlive();
  // Waits at most `wait` until no abandoned worker is left; true then.
  static bool WaitAbandonedWorkers(std::chrono::milliseconds wait);

  void SetStopWait(std::chrono::milliseconds wait) { stopWait_ = wait; }

  // Sweep progress, for tests; read only while the engine is idle.
  int32_t StepIndex() const;
  size_t PointsInProgress() const;
  // Points of storage the engine holds for sweeps (under way and handed over).
  size_t HeldPointCapacity() const;

 private:
  void EndWorker() { EndWorker(stopWait_); }
  void EndWorker(std::chrono::milliseconds wait);
  void JoinFinished();
  void ScanValuesChanged();
  int64_t BoundedStop(int64_t start, int64_t stop) const;
  void Log(const std::string& text);

  int64_t start_ = kDefaultStart;
  int64_t stop_ = kDefaultStop;
  int32_t sampleRate_ = kDefaultSampleRate;
  double binWidth_ = static_cast<double>(kDefaultSampleRate) / kPointsPerStep;
  TraceMode traceMode_ = TraceMode::Live;
  // Counts changes of the values a sweep depends on; a finished sweep is
  // written only into a series prepared for the same count.
  uint64_t rangeEpoch_ = 0;
  std::chrono::milliseconds stopWait_ = kDefaultStopWait;

  std::shared_ptr<TSweepProgress> progress_;
  std::shared_ptr<TSweepHub> hub_;
  std::shared_ptr<TSweepWorker> worker_;
  std::thread thread_;
  // Stopped workers that had not returned when Stop gave up waiting.
  std::vector<std::pair<std::shared_ptr<TSweepWorker>, std::thread>> retiring_;
  std::unique_ptr<TSweepWatchdog> watchdog_;
};

}  // namespace wg
