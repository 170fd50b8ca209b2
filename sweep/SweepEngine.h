// The sweep engine: its receivers (each a Receiver with a thread and a
// watchdog of its own) tune step by step over their shares of the scan range,
// each sample block becomes 4096 levels, and every finished sweep, an
// immutable Sweep, goes to the user-interface thread, which shows it in the
// chart's series and passes it on to the sweep listeners, all by pointer.
// The receiver set-up (ReceiverSetup.h) opens the receivers, gives them to
// the engine and starts the first sweep.
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
#include <vector>

#include "receiver/ReceiverPool.h"
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

struct TSweepHub;

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
// A stick pulled out and back (%1: its serial), a remote one's connection
// lost and made again (%1: rtl_tcp=HOST:PORT); see ReceiverAwayLine.
extern const char* const kReceiverGoneText;
extern const char* const kReceiverBackText;
extern const char* const kRemoteGoneText;
extern const char* const kRemoteBackText;
// One stick of several hung (%1: its serial or address), or failed a read
// (%2 of %3 bytes read, result %4), while the others sweep on.
extern const char* const kReceiverHungAmongText;
extern const char* const kReadFailedAmongText;
extern const char* const kLibraryMissingText;  // followed by the file name
extern const char* const kLibraryUnloadableText;  // followed by the file name and the reason
extern const char* const kReceiverNotOpenText;
extern const char* const kUntunedText;        // followed by the MHz ranges
extern const char* const kStepFailedText;     // followed by the failure
extern const char* const kDeliveryFailedText; // followed by the failure
// One of the texts above as the log writes it: in the language the user
// chose, the text itself when no translation is installed.
std::string EngineText(const char* text);

// The log line for a receiver gone away (Gone) or back (Back), or one of
// several that hung or failed a read while others sweep on, in the language
// chosen; empty for the other notes.
std::string ReceiverAwayLine(const PoolNote& note);
// Whether the note is of a receiver served by rtl_tcp.
bool FromRemote(const PoolNote& note);

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
  // How long the destructor waits for a receiver to close before leaving it
  // to close on its own; a block at the default rate takes 20.48 ms.
  static constexpr std::chrono::milliseconds kDefaultStopWait{50};
  // A receiver call that has not returned after this long means the receiver
  // no longer responds (50 block times).
  static constexpr std::chrono::milliseconds kHangTime = Receiver::kHangTime;
  // Steps in a row that fail with an exception before the worker gives up.
  static constexpr int kMostFailedSteps = 8;

  // series may be null (nothing is prepared or written then; listeners are
  // still called). post and log must be callable; post is called from the
  // receivers' threads and never after StopForDestroy or the destructor has
  // returned, and after Stop only to write a log line or tell of a receiver.
  TSweepEngine(TSweepSeries* series, PostToUi post, LogSink log);
  ~TSweepEngine();  // as StopForDestroy
  TSweepEngine(const TSweepEngine&) = delete;
  TSweepEngine& operator=(const TSweepEngine&) = delete;

  // Scan range in Hz (64-bit, so the editors' whole range up to 4000 MHz
  // works), sample rate and bin width. The range is kept within
  // kLowestFrequency..kHighestFrequency; the stop in force also within
  // kMostSeriesPoints of the start at the current rate. A running worker
  // keeps the values it started with; changes take effect at the next Start.
  int64_t StartFrequency() const { return start_; }
  int64_t StopFrequency() const { return stop_; }
  void SetScanRange(int64_t start, int64_t stop);
  // The stop that was asked for: a rate whose points cannot reach it cuts
  // the range in force short, and a rate that can gives it back.
  int64_t WantedStopFrequency() const { return wantedStop_; }
  bool RangeCut() const { return stop_ < wantedStop_; }
  // The widest range the points reach at the current rate, Hz.
  int64_t WidestRange() const;
  int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(int32_t rate);
  // Hears each change of the stop in force that a new rate made (the range
  // cut, or given back), when it is made.
  void SetStopMoved(std::function<void()> heard) { stopMoved_ = std::move(heard); }
  double BinWidth() const { return binWidth_; }
  void SetBinWidth(double width);
  // Points the series gets for the scan range: Round((stop - start) /
  // sample rate * 4096), halves to even; 0 for an empty or inverted range.
  int SeriesPointCount() const;
  // Takes effect at the next Start; anything but Average computes live levels.
  void SetTraceMode(TraceMode m) { traceMode_ = m; }
  TraceMode GetTraceMode() const { return traceMode_; }
  // The fast sweep: each step waits out the tuning and reads only the bytes
  // that may be stale and those its levels use, instead of the written
  // block. Takes effect at the next Start.
  void SetFast(bool on, int settleBytes = ReadPlan::kSettleBytes) {
    fast_ = on;
    settleBytes_ = settleBytes;
  }
  bool Fast() const { return fast_; }
  // The share of each step's edges left out (0 to kMostCrop, as rtl_power's
  // -c; 0: every bin drawn, the written sweep): the steps advance by what
  // they keep, and each step's centre bins, lit by the stick's DC offset,
  // are mended (MendCentre). A share outside 0..kMostCrop counts as the
  // nearest. Takes effect at the next Start, with a new layout.
  void SetCrop(double share);
  double Crop() const { return crop_; }
  // The few bins at each step's centre that the stick's DC offset lights
  // are mended from their neighbours unless the spike is kept (as the stick
  // delivers it); with a crop they are always mended. Takes effect at the
  // next Start.
  void SetKeepDcSpike(bool keep) { keepDcSpike_ = keep; }
  bool KeepDcSpike() const { return keepDcSpike_; }

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

  // The receivers that sweep, each a contiguous share of the range in the
  // order added. The engine starts a receiver it is given (not started yet)
  // and closes it when it is removed, waiting at most `wait`.
  ReceiverId AddReceiver(std::unique_ptr<Receiver> receiver);
  void RemoveReceiver(ReceiverId id, std::chrono::milliseconds wait);
  Receiver* FindReceiver(ReceiverId id) const;
  std::vector<ReceiverId> Receivers() const;

  // Step index 1 and an empty sweep under way, so that the next start begins a
  // new sweep at the start frequency. Does nothing (false) while it sweeps.
  bool Reset();
  // Gives the series one zero point per bin of the scan range, in one step
  // and without time per point.
  void PrepareSeries();
  // Starts the sweep (the start button). It continues the sweep where it was
  // stopped unless Reset ran or the range changed in between. Refused (false)
  // when it sweeps already, the receiver no longer responds, or no receiver
  // is open (one log line then).
  bool Start();
  // No more steps are begun and no sweep is handed over once it returns; a
  // step under way finishes on its receiver's thread.
  void Stop();
  void Stop(std::chrono::milliseconds) { Stop(); }
  // Stop, and a sweep of the stopped receivers still on its way reaches
  // neither the series nor the listeners: the series shows something else
  // until PrepareSeries and the next Start (a recording opened in the window).
  void StopAndWithhold();
  // Stop for the window's destruction: closes the receivers, waiting at most
  // the stop wait in all (not at all for one that no longer responds).
  // Afterwards queued publications and log lines of this engine reach
  // neither the series, the listeners nor the log pane; a receiver that has
  // not closed by then closes on its own thread.
  void StopForDestroy();

  // Called on the user-interface thread after each finished sweep of the
  // current scan range has been shown in the series (also without a
  // series), in the order added.
  int AddSweepListener(SweepListener fn);
  void RemoveSweepListener(int id);

  // Told on the user-interface thread of what happened to the receivers
  // (opened, gone, back, ...), after the engine's own log line for it.
  using ReceiverNoteListener = std::function<void(const PoolNote&)>;
  int AddReceiverListener(ReceiverNoteListener fn);
  void RemoveReceiverListener(int id);
  // A receiver of the sweep is away and looked for: a stick pulled out, or
  // a remote one whose connection is being made again. Its share of the
  // range is a gap meanwhile; the others go on.
  bool ReceiverAway() const;

  // True while it sweeps (false once it stopped by itself after a failed
  // read, or a receiver hangs).
  bool Running() const;
  // Not sweeping, and no step under way.
  bool Idle() const;
  // Waits at most `wait` (not at all once a receiver hung) until Idle().
  bool WaitIdle(std::chrono::milliseconds wait);
  // A receiver of this engine hung in a call: it is lost.
  bool WorkerAbandoned() const;
  // Receiver threads, of any engine, left in a call that has not returned.
  static int AbandonedWorkersAlive();
  // Waits at most `wait` until none is left; true then.
  static bool WaitAbandonedWorkers(std::chrono::milliseconds wait);

  void SetStopWait(std::chrono::milliseconds wait) { stopWait_ = wait; }
  // The engine's way to the user-interface thread, for those that drive its
  // receivers.
  const PostToUi& Poster() const;

  // Sweep progress, for tests; read only while the engine is idle.
  int32_t StepIndex() const;
  size_t PointsInProgress() const;
  // Points of storage the engine holds for sweeps (under way and handed over).
  size_t HeldPointCapacity() const;

 private:
  ScanPlan MakePlan() const;
  void ScanValuesChanged();
  int64_t BoundedStop(int64_t start, int64_t stop) const;
  void Log(const std::string& text);

  int64_t start_ = kDefaultStart;
  int64_t stop_ = kDefaultStop;
  int64_t wantedStop_ = kDefaultStop;
  std::function<void()> stopMoved_;
  int32_t sampleRate_ = kDefaultSampleRate;
  double binWidth_ = static_cast<double>(kDefaultSampleRate) / kPointsPerStep;
  TraceMode traceMode_ = TraceMode::Live;
  // Counts changes of the values a sweep depends on; a finished sweep is
  // written only into a series prepared for the same count.
  uint64_t rangeEpoch_ = 0;
  std::chrono::milliseconds stopWait_ = kDefaultStopWait;

  std::shared_ptr<TSweepHub> hub_;
  std::unique_ptr<ReceiverPool> pool_;
  bool sweeping_ = false;
  bool planGiven_ = false;  // the pool has the plan of rangeEpoch_ and traceMode_
  uint64_t planEpoch_ = 0;
  size_t planSteps_ = 0;
  TraceMode planMode_ = TraceMode::Live;
  bool fast_ = false, planFast_ = false;
  bool keepDcSpike_ = false, planKeepDcSpike_ = false;
  double crop_ = 0;
  int planPoints_ = kPointsPerStep;
  int settleBytes_ = ReadPlan::kSettleBytes;
};

}  // namespace wg
