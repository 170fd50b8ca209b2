// The receiver's controls in the chart menu: gain ("Auto" or one of the
// tuner's gains), frequency correction, sample rate, and the Receiver
// submenu: the sticks of this computer and the remote receivers remembered,
// ticked when in use (several share the range), remote receivers added by
// hand, and the options bias-T, direct sampling and offset tuning. Each
// change is applied to the receivers in use, said in one log line and
// remembered, for each receiver by its key.
#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ReceiverStore.h"
#include "sweep/ReceiverSetup.h"

class QAction;
class QMenu;
class QWidget;

namespace wg {

class TReceiverSetup;
class TSettings;

class TReceiverMenu : public QObject {
  Q_OBJECT

 public:
  // window: where the shortcuts live; menu: the chart menu the entries join.
  TReceiverMenu(QWidget* window, QMenu* menu, TReceiverSetup& receiver, TSettings& settings,
                std::function<void(const std::string&)> log);
  ~TReceiverMenu() override;

  // Fills the gain and receiver lists from what the set-up last found and
  // checks the values in force. Called after every set-up or receiver change.
  void Refresh();

  // The choices, as the menu makes them: each returns whether the receiver
  // took the value, writes one log line and, when taken, remembers it. A
  // choice made while the worker is still inside the receiver waits for it
  // (false now); its line comes when it has been applied, or given up.
  bool ChooseGain(std::optional<int> tenthsDb);  // nullopt: "Auto"
  bool ChooseCorrection(int ppm);
  bool ChooseRate(uint32_t rate);
  // Switches to receiver `index` alone; one that does not open leaves those
  // in use before.
  bool ChooseReceiver(uint32_t index);
  // Adds a receiver to those sharing the range, or takes one away (never
  // the last).
  bool TickReceiver(const ReceiverChoice& choice, bool on);
  // A remote receiver at HOST:PORT remembered and added.
  bool AddRemote(const std::string& hostPort);
  bool ChooseBiasTee(bool on);
  bool ChooseDirectSampling(int mode);
  bool ChooseOffsetTuning(bool on);
  // Asks for a correction in a small dialog (F7).
  void AskCorrection();
  // Asks for a remote receiver's host and port in a small dialog.
  void AskRemote();

  QMenu* GainMenu() const { return gainMenu_; }
  QMenu* RateMenu() const { return rateMenu_; }
  QMenu* ReceiverListMenu() const { return receiverMenu_; }
  QAction* CorrectionAction() const { return correction_; }
  QAction* FastAction() const { return fast_; }
  QAction* CropAction() const { return crop_; }
  QAction* DcSpikeAction() const { return dcSpike_; }
  // The entries of the receivers: sticks first, then remote ones.
  std::vector<QAction*> ReceiverEntries() const { return listed_; }
  QAction* AddRemoteAction() const { return addRemote_; }
  QAction* BiasTeeAction() const { return biasTee_; }
  QMenu* DirectSamplingMenu() const { return directMenu_; }
  QAction* OffsetTuningAction() const { return offset_; }

 private:
  void PopUp(QMenu* m);
  void AddCropEntry(QMenu* menu);
  // After a choice: whether it waits for the receiver; `say` then writes its
  // line once it is settled (taken, or kept for a receiver gone meanwhile).
  bool Waits(std::function<void(bool taken, bool kept)> say);
  void Settled(bool taken);
  // What follows a value the receiver did not take: refused, or never sent
  // because the receiver no longer responds.
  std::string NotTaken(const std::string& refused) const;
  std::string Kept(bool kept) const;
  // kept: taken for receivers away, applied when they come back.
  void SayGain(std::optional<int> tenthsDb, bool ok, bool kept = false);
  void SayCorrection(int ppm, bool ok, bool kept = false);
  void SayRate(uint32_t rate, bool ok, bool kept = false);
  void SayReceiver(uint32_t index, bool ok);
  void SayTick(const ReceiverChoice& choice, bool on, bool ok);
  // After an option was sent (`ok` as the set-up said): its line, now or
  // once settled, and what each receiver keeps when taken.
  bool ChooseOption(bool ok, const QString& name, const QString& value, const ReceiverOwn& own);
  void SayOption(const QString& name, const QString& value, bool ok, bool kept = false);
  void RefreshReceivers();
  // The receivers in use, the first first; none when none is open.
  std::vector<ReceiverChoice> InUseChoices() const;
  // A choice's name in the log and its entry: the index, or rtl_tcp=HOST:PORT.
  static std::string Named(const ReceiverChoice& c);
  // Takes a value into what each receiver in use keeps of its own.
  void KeepForEach(const ReceiverOwn& own, bool firstOnly = false);
  // The first receiver in use as the log names it: its index, or where
  // rtl_tcp serves it from.
  std::string InUse() const;

  QWidget* window_;
  TReceiverSetup& receiver_;
  TSettings& settings_;
  std::function<void(const std::string&)> log_;
  QMenu* gainMenu_;
  QMenu* rateMenu_;
  QMenu* receiverMenu_;
  QAction* correction_;
  QAction* fast_;
  QAction* crop_;
  QAction* dcSpike_;
  double cropShare_;  // what "Crop step edges" leaves out when checked
  std::vector<int> builtGains_;
  std::vector<std::string> builtEntries_;
  std::vector<QAction*> listed_;
  QAction* listEnd_;
  QAction* addRemote_;
  QAction* biasTee_;
  QMenu* directMenu_;
  QAction* offset_;
  // Entry points found missing, each said once.
  bool saidBiasTee_ = false, saidDirect_ = false, saidOffset_ = false;
  // The lines of the choices that wait, in the order they were made.
  std::deque<std::function<void(bool taken, bool kept)>> waiting_;
};

}  // namespace wg
