// The receiver set-up: lists the receivers, opens one, configures it, starts
// the sweep, and says what it found in a record that the window turns into the
// report of the log pane. Also the receiver controls the user changes while the
// sweep runs (gain, frequency correction, sample rate, which receiver), and the
// closing of the receiver when the window goes.
//
// Everything here is called from the user-interface thread. The open receiver
// is a Receiver the engine sweeps with; this class is the only one that gives
// the engine a receiver or takes it back.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "receiver/Receiver.h"
#include "receiver/ReceiverSettings.h"
#include "receiver/RtlTcpProtocol.h"
#include "sweep/ScanLimits.h"

namespace wg {

class TSweepEngine;

// One receiver chosen: a stick of this computer by its index, or one that
// rtl_tcp serves at an address.
struct ReceiverChoice {
  uint32_t index = 0;
  std::optional<RtlTcpAddress> remote;
};

// Whether two choices name the same receiver.
bool SameReceiver(const ReceiverChoice& a, const ReceiverChoice& b);

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

  uint32_t deviceCount = 0;     // as the library lists them
  std::vector<Device> devices;  // one per counted receiver, in index order

  uint32_t index = 0;  // the receiver opened, or tried
  int openResult = 0;  // rtlsdr_open's result (a remote one's: RtlTcpResult)
  // HOST:PORT of the rtl_tcp server when the receiver is a remote one;
  // empty for a stick of this computer.
  std::string servedFrom;

  // Opened: the receiver's values as the library reads them back.
  unsigned tuner = 0;           // rtlsdr_tuner value
  uint32_t sampleRate = 0;      // Hz
  std::vector<int> gains;       // the tuner's gains, tenths of a dB, table order
  int freqCorrection = 0;       // ppm
  double binWidth = 0;          // Hz, the read-back rate / 4096
  int fftSize = 0;              // points per step
  int64_t scanStart = 0, scanStop = 0;  // the range the sweep covers, Hz
  bool sweepStarted = false;
  // A remote receiver is still connecting: the whole report follows (see
  // TReceiverSetup::SetConnectInBackground).
  bool pending = false;

  // The sticks chosen besides the first (the one above), each sweeping a
  // share of the range, in the order chosen.
  struct Stick {
    uint32_t index = 0;
    std::string serial;
    std::string servedFrom;  // as above
    int openResult = 0;  // negative: not opened, it has no share
    unsigned tuner = 0;
    int freqCorrection = 0;
  };
  std::vector<Stick> others;
};

// The line that says why a remote receiver (served from HOST:PORT) did not
// open, in the log's language.
std::string RemoteOpenFailedText(const std::string& servedFrom, int openResult);

class TReceiverSetup {
 public:
  // How long a control waits for the receiver to apply its change between
  // two steps (64 ms at the lowest rate) before leaving it to be settled
  // later: the window is never held longer.
  static constexpr std::chrono::milliseconds kChangeWait{30};
  // How long the set-up waits for a stick to open, and a close for a read
  // that is merely slow.
  static constexpr std::chrono::milliseconds kOpenWait{1200};

  // The engine must outlive this object.
  explicit TReceiverSetup(TSweepEngine& engine);
  ~TReceiverSetup();  // as Close
  TReceiverSetup(const TReceiverSetup&) = delete;
  TReceiverSetup& operator=(const TReceiverSetup&) = delete;

  // The set-up (the hidden set-up button): stops the sweep and closes the
  // receiver a previous set-up opened, lists the receivers, opens the chosen
  // one (0 unless chosen otherwise) with the chosen settings, resets the
  // sweep, prepares the series and starts the sweep.
  ReceiverReport Run();

  // Receiver controls. Each goes to the receiver, which applies it between
  // two steps, and the sweep starts again; each returns whether the receiver
  // took the value. A refused value leaves the previous one in force. Without
  // an open receiver a valid value is kept for the next set-up or
  // OpenReceiver, and the result is false. Nothing is applied (false) once
  // the receiver hung in a call.
  //
  // None of them waits longer than kChangeWait. A change not applied by then
  // returns false, LastChangeWaits() says so, and the change-settled
  // function hears its outcome later on this thread, in the order asked.
  bool SetGain(std::optional<int> tenthsDb);  // nullopt: the tuner's automatic gain
  bool SetFreqCorrection(int ppm);           // kMinPpm..kMaxPpm
  // Also the step width: the bin width, the series' point count and the sweep
  // follow; the scan range does not change.
  bool SetSampleRate(uint32_t rate);
  // Options as rtl_sdr names them (-T, -D, -O), for every receiver in use;
  // each is taken when every receiver took it.
  bool SetBiasTee(bool on);
  bool SetDirectSampling(int mode);  // 0 off, 1 the I branch, 2 the Q branch
  bool SetOffsetTuning(bool on);
  // Closes the open receiver first, then opens and configures receiver
  // `index` and restarts the sweep. The report record tells what was found.
  bool OpenReceiver(uint32_t index);
  // The same for several that share the range, the first as above: false
  // when the first does not open, and then those open before are opened
  // again. Others that do not open are said in the report and no longer
  // chosen.
  bool UseReceivers(std::vector<ReceiverChoice> chosen);
  // What the next set-up opens (or is open), the first first.
  std::vector<ReceiverChoice> Chosen() const;
  // The receiver the next set-up opens, without opening it now (a receiver
  // chosen before the window's set-up runs).
  void ChooseReceiver(uint32_t index);
  // Several that share the range, the first as above; the others open only
  // if the first does.
  void ChooseReceivers(std::vector<uint32_t> indices);
  void ChooseReceivers(std::vector<ReceiverChoice> chosen);
  // The settings a receiver opens with, by its key (the serial of a stick
  // of this computer, "rtl_tcp=HOST:PORT" for a remote one), made from those
  // of the set-up: its own gain, correction and options. Unset: the set-up's.
  using SettingsByKey = std::function<ReceiverSettings(const std::string& key, ReceiverSettings base)>;
  void SetSettingsByKey(SettingsByKey f) { byKey_ = std::move(f); }
  // The keys of the receivers open, the first first.
  std::vector<std::string> KeysInUse() const;
  // What every receiver open can do (nothing with none open).
  ReceiverAbilities Abilities() const;
  size_t OpenCount() const { return receivers_.size(); }
  // The tuner's gain nearest to a wanted one (the wanted one itself before a
  // receiver reported its gains), for gains typed in dB.
  int NearestGain(int tenthsDb) const;

  // The fast sweep (TSweepEngine::SetFast); a sweep under way starts again.
  void SetFast(bool on);
  bool Fast() const;
  // The DC spike at each step's centre kept as the stick delivers it
  // (TSweepEngine::SetKeepDcSpike); a sweep under way starts again.
  void SetKeepDcSpike(bool keep);
  bool KeepDcSpike() const;
  // The share of each step's edges left out (TSweepEngine::SetCrop); the
  // sweep starts again with its new layout.
  void SetCrop(double share);
  double Crop() const;

  // Whether the last control call left its change to be settled later.
  bool LastChangeWaits() const { return lastChangeWaits_; }
  // The last control found the receivers in use away (pulled out, or a
  // remote one reconnecting), or they went away before they could apply it:
  // its value was kept and is applied when they come back, though the
  // result was false.
  bool LastChangeKept() const { return lastChangeKept_; }
  // Hears, on this thread, whether each change that was left waiting was
  // taken, once the receiver has applied or refused it; LastChangeKept()
  // then tells whether one not taken was kept for the receiver's return.
  void SetChangeSettled(std::function<void(bool)> settled) { settled_ = std::move(settled); }
  // The receiver hung in a call: no change reaches it any more.
  bool ReceiverLost() const;
  // A remote receiver lost its connection and is being connected again; the
  // sweep resumes by itself once it is.
  bool RemoteReconnecting() const;
  // A receiver is away and looked for: a stick pulled out, or a remote one
  // reconnecting. Changes asked meanwhile are kept for its return.
  bool ReceiverAway() const;

  // Remote receivers connect on their own threads, never holding this one:
  // a set-up with one chosen returns at once with the report pending, and
  // `reported` hears the whole report on this thread once every receiver
  // chosen has connected or failed (the sweep has started then). Unset, the
  // set-up waits for them, as a survey does.
  void SetConnectInBackground(std::function<void(const ReceiverReport&)> reported);

  // Stops the sweep and closes the open receiver (the window's last act). A
  // read under way is waited out while it is merely slow; a receiver hung in
  // a call closes its stick on its own thread once the call returns.
  void Close();

  // The settings in force (or chosen for the next open).
  GainMode CurrentGainMode() const { return gainMode_; }
  int ManualGain() const { return gain_; }  // tenths of a dB, with GainMode::Manual
  int FreqCorrection() const { return ppm_; }
  uint32_t SampleRate() const { return rate_; }
  uint32_t ReceiverIndex() const { return index_; }
  bool BiasTee() const { return biasTee_; }
  int DirectSampling() const { return directSampling_; }
  bool OffsetTuning() const { return offsetTuning_; }
  bool IsOpen() const;
  // The record of the last set-up, updated by OpenReceiver and the controls.
  const ReceiverReport& Report() const { return report_; }

  struct Mailbox;

 private:
  bool OpenAndConfigure(const ReceiverChoice& choice);
  // The first receiver's open, begun on its thread and finished once tried:
  // its values go into the report, or it is taken out (false).
  bool BeginFirst(const ReceiverChoice& choice);
  bool FinishFirst();
  // Opens the chosen sticks after the first; those that do not open are
  // said in the report and left out.
  void OpenOthers();
  void BeginOthers();
  void FinishOthers();
  // A background set-up goes on as its receivers' opens are tried.
  void Advance();
  bool Settled(ReceiverId id) const;
  // A value chosen while the first receiver is away: kept by those away for
  // their return, applied by the others.
  void KeepWhileAway(const std::function<void(Receiver&)>& keep, bool firstOnly = false);
  bool OpenReceiverNow(uint32_t index);
  ReceiverSettings SettingsFor(const std::string& key) const;
  // Sends an option to every receiver; `keep` takes it in once taken.
  bool ChangeOption(std::function<void(Receiver&, Receiver::Done)> ask, std::function<void()> keep);
  // The library checked and the receivers listed into a new report; false
  // (the report saying why) when there is nothing to open.
  bool ListChosen();
  // Opens the chosen receivers; false when the first does not open.
  bool OpenChosen();
  Receiver* Open() const;
  // Sends one change to the receiver; `settle` runs on this thread with its
  // outcome (true also when kept for the receiver's return), now or later.
  bool Change(std::function<void(Receiver&, Receiver::Done)> ask, std::function<void(bool)> settle,
              bool firstOnly = false);
  void Restart(bool newLayout);

  TSweepEngine& engine_;
  GainMode gainMode_ = GainMode::Written;
  int gain_ = 0;
  int ppm_ = kDefaultPpm;
  uint32_t rate_ = kDefaultSampleRate;
  uint32_t index_ = 0;
  std::optional<RtlTcpAddress> remote_;  // the first is served from there
  std::vector<ReceiverChoice> others_;
  bool biasTee_ = false;
  int directSampling_ = 0;
  bool offsetTuning_ = false;
  SettingsByKey byKey_;
  ReceiverId receiver_ = 0;  // the first, whose values the report shows
  std::vector<ReceiverId> receivers_;  // every one open, the first first
  std::vector<ReceiverId> remotes_;    // those of them served by rtl_tcp
  // Receivers whose open is under way, first the first, and the set-up's
  // phase while it waits for them in the background.
  struct Opening {
    ReceiverId id = 0;
    bool remote = false;
    size_t stick = 0;  // in report_.others
  };
  Opening first_;
  std::vector<Opening> opening_;
  enum class Phase { Idle, First, Others } phase_ = Phase::Idle;
  std::function<void(const ReceiverReport&)> reported_;
  int noteListener_ = -1;
  ReceiverReport report_;
  bool lastChangeWaits_ = false;
  bool lastChangeKept_ = false;
  std::function<void(bool)> settled_;
  std::shared_ptr<Mailbox> mailbox_;
};

}  // namespace wg
