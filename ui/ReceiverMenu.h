// The receiver's controls in the chart menu: gain ("Auto" or one of the
// tuner's gains), frequency correction, sample rate, and which receiver when
// more than one is plugged in. Each change is applied to the open receiver,
// said in one log line and remembered.
#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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
  bool ChooseReceiver(uint32_t index);
  // Asks for a correction in a small dialog (F7).
  void AskCorrection();

  QMenu* GainMenu() const { return gainMenu_; }
  QMenu* RateMenu() const { return rateMenu_; }
  QMenu* ReceiverListMenu() const { return receiverMenu_; }
  QAction* CorrectionAction() const { return correction_; }
  QAction* FastAction() const { return fast_; }
  QAction* CropAction() const { return crop_; }

 private:
  void PopUp(QMenu* m);
  void AddCropEntry(QMenu* menu);
  // After a choice: whether it waits for the receiver; `say` then writes its
  // line once it is settled.
  bool Waits(std::function<void(bool)> say);
  void Settled(bool taken);
  // What follows a value the receiver did not take: refused, or never sent
  // because the receiver no longer responds.
  std::string NotTaken(const std::string& refused) const;
  void SayGain(std::optional<int> tenthsDb, bool ok);
  void SayCorrection(int ppm, bool ok);
  void SayRate(uint32_t rate, bool ok);
  void SayReceiver(uint32_t index, bool ok);
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
  double cropShare_;  // what "Crop step edges" leaves out when checked
  std::vector<int> builtGains_;
  std::vector<std::string> builtDevices_;
  // The lines of the choices that wait, in the order they were made.
  std::deque<std::function<void(bool)>> waiting_;
};

}  // namespace wg
