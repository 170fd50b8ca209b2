// The sweep engine: one worker thread tunes the receiver step by step over the
// scan range, turns each sample block into 4096 levels and hands every
// finished sweep to the user-interface thread, which writes it into the
// chart's series by index. Also the receiver set-up and report that opens the
// receiver at start-up and starts the first sweep.
//
// Everything here is called from the user-interface thread. The engine reaches
// the window only through the narrow interfaces below, so it runs without one.
#pragma once

#include <rtl-sdr.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace wg {

// $00BBGGRR colour value, as the chart takes it.
using TSweepColour = uint32_t;  // $00BBGGRR
constexpr TSweepColour kSweepRed = 0x0000FF;

// What the engine needs of the chart's line series. The chart's TChartSeries
// has exactly these operations; the window adapts it.
class TSweepSeries {
 public:
  virtual ~TSweepSeries() = default;
  virtual int PointCount() const = 0;
  virtual void ClearPoints() = 0;
  // Returns the new point's index, or -1 when the series refused it.
  virtual int AddPoint(double x, double y, const std::string& label, TSweepColour colour) = 0;
  virtual void SetPointX(int index, double v) = 0;
  virtual void SetPointY(int index, double v) = 0;
};

// What the receiver set-up needs of the chart's bottom axis.
class TSweepAxis {
 public:
  virtual ~TSweepAxis() = default;
  virtual void SetAutomatic(bool v) = 0;
  virtual void SetMaximum(double v) = 0;
  virtual void SetMinimum(double v) = 0;
};

// Queues a call to run later on the user-interface thread and returns at once
// (in the program: Qt's queued invocation). Called from the sweep worker.
using PostToUi = std::function<void(std::function<void()>)>;
// Appends one text to the log pane; "\r\n" inside starts further lines.
using LogSink = std::function<void(const std::string&)>;

struct SpectrumPoint {
  double X;  // frequency, Hz
  double Y;  // level, dB
};

// Log lines of the engine itself (the receiver report's lines are in the
// set-up). Kept here so that tests and the window can recognise them.
extern const char* const kReadFailedText;     // followed by details
extern const char* const kReceiverLostText;
extern const char* const kLibraryMissingText;  // followed by the file name
extern const char* const kReceiverNotOpenText;

// The receiver library file that was (or will be) looked for: the loader's
// path once it ran, else plugins/librtlsdr.so beside the executable.
std::string ReceiverLibraryFile();

class TSweepEngine {
 public:
  static constexpr int64_t kDefaultStart = 138000000;
  static constexpr int64_t kDefaultStop = 153000000;
  static constexpr int32_t kDefaultSampleRate = 3200000;
  static constexpr int32_t kBlockSize = 131072;
  static constexpr int kPointsPerStep = 4096;
  // Publication writes a later point in place of one whose frequency is
  // below this (a point never measured still holds X = 0).
  static constexpr double kLowestPublishedX = 10000.0;
  static constexpr std::chrono::milliseconds kDefaultStopWait{2000};

  // series may be null (nothing is prepared or published then). post and log
  // must be callable; post is never called after Stop, StopForDestroy or the
  // destructor has returned.
  TSweepEngine(TSweepSeries* series, PostToUi post, LogSink log);
  ~TSweepEngine();  // as StopForDestroy
  TSweepEngine(const TSweepEngine&) = delete;
  TSweepEngine& operator=(const TSweepEngine&) = delete;

  // Scan range in Hz (64-bit, so the editors' whole range up to 4000 MHz
  // works), sample rate and bin width. A running worker keeps the values it
  // started with; changes take effect at the next Start.
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

  // Step index 1 and an empty point list, so that the next start begins a new
  // sweep at the start frequency. Does nothing (false) while a worker runs.
  bool Reset();
  // Clears the series and adds one zero point per bin of the scan range.
  void PrepareSeries();
  // Starts one worker (the start button). It continues the sweep where the
  // previous worker left it unless Reset ran in between. Refused (false) when
  // a worker runs already, the receiver was lost to a hung worker, or the
  // library lacks an entry point the sweep calls (one log line then).
  bool Start();
  // Sets the stop flag and waits for the worker, at most the stop wait. A
  // worker that does not return by then (stuck in a read) is abandoned: the
  // receiver is marked lost, one log line says so, and no worker is started
  // on it again.
  void Stop();
  // Stop for the window's destruction; afterwards queued publications and log
  // lines of this engine reach neither the series nor the log pane.
  void StopForDestroy();

  // The receiver set-up and report (the hidden set-up button): lists the
  // receivers in the log pane, opens and configures receiver 0, resets the
  // sweep, prepares the series, starts the worker and puts the bottom axis on
  // the scan range.
  void ReceiverSetup(TSweepAxis& bottomAxis);

  // True while a worker thread runs (false once it ended by itself after a
  // failed read).
  bool Running() const;
  // This engine abandoned a hung worker: its receiver is lost.
  bool WorkerAbandoned() const { return receiverLost_; }
  // Abandoned workers, of any engine, that have not returned yet. The
  // receiver library must not be unloaded while this is above zero.
  static int AbandonedWorkersAlive();

  void SetStopWait(std::chrono::milliseconds wait) { stopWait_ = wait; }

  // Sweep progress, for tests; read only while no worker runs.
  int32_t StepIndex() const;
  const std::vector<SpectrumPoint>& PointList() const;

  struct Progress;
  struct Hub;
  struct Worker;

 private:
  void EndWorker();
  void JoinFinished();
  void Log(const std::string& text);

  int64_t start_ = kDefaultStart;
  int64_t stop_ = kDefaultStop;
  int32_t sampleRate_ = kDefaultSampleRate;
  double binWidth_ = kDefaultSampleRate / 4096.0;
  // Counts changes of the values a sweep depends on; a finished sweep is
  // written only into a series prepared for the same count.
  uint64_t rangeEpoch_ = 0;
  std::chrono::milliseconds stopWait_ = kDefaultStopWait;
  bool receiverLost_ = false;

  std::shared_ptr<Progress> progress_;
  std::shared_ptr<Hub> hub_;
  std::shared_ptr<Worker> worker_;
  std::thread thread_;
};

}  // namespace wg
