// The receiver set-up: lists the receivers, opens one, configures it, starts
// the sweep, and says what it found in a record that the window turns into the
// report of the log pane. Also the receiver controls the user changes while the
// sweep runs (gain, frequency correction, sample rate, which receiver), and the
// closing of the receiver when the window goes.
//
// Everything here is called from the user-interface thread. The open receiver
// is api_rtl_sdr::dev; this class is the only one that opens or closes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sweep/ScanLimits.h"
#include "receiver/ReceiverSettings.h"

namespace wg {

class TSweepEngine;

// What one set-up found, in the order the report shows it.
struct ReceiverReport {
  enum class Outcome {
    LibraryMissing,  // the library, or an entry point the set-up or sweep calls, is absent
    NoReceiver,      // the library counts no receiver
    OpenFailed,      // rtlsdr_open refused the receiver
    Opened,          // opened and configured; the bottom axis goes on the scan range
  };
  struct Device {
    std::string name, manufacturer, product, serial;
  };

  Outcome outcome = Outcome::LibraryMissing;
  // LibraryMissing: the file looked for, whether it loaded, and the names it
  // lacks ("a, b, c"; empty when it did not load at all).
  std::string libraryFile;
  bool libraryLoaded = false;
  std::string missingEntryPoints;
  // The system's reason when the file is there but would not load; empty
  // when it is missing or loaded.
  std::string loadFailure;

  uint32_t deviceCount = 0;     // as the library counts them
  std::vector<Device> devices;  // one per counted receiver, in index order

  uint32_t index = 0;  // the receiver opened, or tried
  int openResult = 0;  // rtlsdr_open's result

  // Opened: the receiver's values as the library reads them back.
  unsigned tuner = 0;           // rtlsdr_tuner value
  uint32_t sampleRate = 0;      // Hz
  std::vector<int> gains;       // the tuner's gains, tenths of a dB, table order
  int freqCorrection = 0;       // ppm
  double binWidth = 0;          // Hz, the read-back rate / 4096
  int fftSize = 0;              // points per step
  int64_t scanStart = 0, scanStop = 0;  // the range the sweep covers, Hz
  bool sweepStarted = false;
};

class TReceiverSetup {
 public:
  static constexpr int kWrittenGainMode = 364;  // any non-zero value selects manual gain
  // How long a control waits, after the engine's own stop wait, for the
  // worker to return from its block (64 ms at the lowest rate): together
  // they stay under the 100 ms the window may be held.
  static constexpr std::chrono::milliseconds kChangeWait{30};
  // How long a waiting change may wait before it is given up.
  static constexpr std::chrono::milliseconds kMostChangeWait{2500};

  // The engine must outlive this object.
  explicit TReceiverSetup(TSweepEngine& engine);
  ~TReceiverSetup();  // as Close
  TReceiverSetup(const TReceiverSetup&) = delete;
  TReceiverSetup& operator=(const TReceiverSetup&) = delete;

  // The set-up (the hidden set-up button): stops the sweep and closes the
  // receiver a previous set-up opened, lists the receivers, opens the chosen
  // one (0 unless chosen otherwise) with the chosen settings, resets the
  // sweep, prepares the series and starts the worker.
  ReceiverReport Run();

  // Receiver controls. Each stops the worker, applies the value to the open
  // receiver and restarts the sweep, and returns whether the library accepted
  // it. A refused value leaves the previous one in force. Without an open
  // receiver a valid value is kept for the next set-up or OpenReceiver, and
  // the result is false. Nothing is applied (false) once a worker was
  // abandoned in a read: the receiver is lost.
  //
  // None of them waits longer than kChangeWait for the worker to leave the
  // receiver. A worker still reading then (a slow read, or one that hangs
  // before the watchdog says so) makes the change wait: the call returns
  // false, LastChangeWaits() says so, and RetryWaiting() applies it later.
  bool SetGain(std::optional<int> tenthsDb);  // nullopt: the tuner's automatic gain
  bool SetFreqCorrection(int ppm);           // kMinPpm..kMaxPpm
  // Also the step width: the bin width, the series' point count and the sweep
  // follow; the scan range does not change.
  bool SetSampleRate(uint32_t rate);
  // Closes the open receiver first, then opens and configures receiver
  // `index` and restarts the sweep. The report record tells what was found.
  bool OpenReceiver(uint32_t index);
  // The receiver the next set-up opens, without opening it now (a receiver
  // chosen before the window's set-up runs).
  void ChooseReceiver(uint32_t index);
  // The tuner's gain nearest to a wanted one (the wanted one itself before a
  // receiver reported its gains), for gains typed in dB.
  int NearestGain(int tenthsDb) const;

  // Whether the last control call left its change waiting for the receiver.
  bool LastChangeWaits() const { return lastChangeWaits_; }
  int ChangesWaiting() const { return static_cast<int>(waiting_.size()); }
  // Applies the first waiting change once no worker is inside the library,
  // without waiting for one, and returns whether it was taken; nullopt while
  // it still waits or none does. Once the receiver no longer responds (or
  // stays busy past kMostChangeWait) each waiting change ends as not taken.
  std::optional<bool> RetryWaiting();
  // A worker hung in the receiver: no change reaches it any more.
  bool ReceiverLost() const;

  // Stops the worker and closes the open receiver (the window's last act,
  // after the sweep has stopped) once no worker is inside the library with
  // it; a receiver under a worker stuck there is left as it is. A read still
  // under way that was already left to finish on its own (the window's
  // close) is not waited for here: the handle is closed on a thread of its
  // own once that read is back.
  void Close();
  // Waits until handles left to close that way are closed or given up: the
  // next open needs the receiver free, the library's unload needs no call in it.
  static bool WaitPendingCloses(std::chrono::milliseconds wait);

  // The settings in force (or chosen for the next open).
  GainMode CurrentGainMode() const { return gainMode_; }
  int ManualGain() const { return gain_; }  // tenths of a dB, with GainMode::Manual
  int FreqCorrection() const { return ppm_; }
  uint32_t SampleRate() const { return rate_; }
  uint32_t ReceiverIndex() const { return index_; }
  bool IsOpen() const;
  // The record of the last set-up, updated by OpenReceiver and the controls.
  const ReceiverReport& Report() const { return report_; }

 private:
  bool OpenAndConfigure(uint32_t index);
  bool OpenReceiverNow(uint32_t index);
  bool ApplyGain(GainMode mode, int tenths);
  bool WaitUntilReceiverFree(std::chrono::milliseconds wait);
  bool StopForChange();
  // Applies a change at once when the receiver is free, else keeps it waiting.
  bool Change(std::function<bool()> apply);
  void Restart(bool newLayout);

  TSweepEngine& engine_;
  GainMode gainMode_ = GainMode::Written;
  int gain_ = 0;
  int ppm_ = kDefaultPpm;
  uint32_t rate_ = kDefaultSampleRate;
  uint32_t index_ = 0;
  ReceiverReport report_;
  std::vector<std::function<bool()>> waiting_;
  std::chrono::steady_clock::time_point waitingSince_;
  bool lastChangeWaits_ = false;
};

}  // namespace wg
