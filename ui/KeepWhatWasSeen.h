// Keeping what the chart showed: the last complete sweep saved as an
// rtl_power CSV file, the chart saved as a PNG image, and a recording that
// appends every published sweep to a CSV file until it is stopped, with an
// indicator on the chart while it runs. All reached through the chart menu.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "record/SweepIntegrator.h"
#include "sweep/Sweep.h"

class QAction;
class QImage;
class QLabel;
class QWidget;

namespace wg {

class TChart;
class TChartMenu;
class TChartOverlay;
class TSweepEngine;
class TSettings;
class TSweepRecorder;

// Log lines, each followed by its details.
extern const char* const kRecordStartedText;     // the file
extern const char* const kRecordStoppedText;     // the file, then the sweep count
extern const char* const kRecordFailedText;      // the file, the reason, the sweep count
extern const char* const kRecordOpenFailedText;  // the file, the reason
extern const char* const kSavedText;             // the file
extern const char* const kSaveFailedText;        // the file, the reason
extern const char* const kNoSweepYetText;
extern const char* const kRecordAppendsText;     // the file already held sweeps
extern const char* const kRecordFinestBinText;   // %1 the bin size chosen, %2 the finest bin, Hz

class TKeepWhatWasSeen : public QObject {
  Q_OBJECT

 public:
  // window: the dialogs' parent and this object's; overlay (may be null): what
  // is drawn over the chart, kept in its image; log: one line for the log pane.
  // The engine must outlive this object.
  TKeepWhatWasSeen(QWidget& window, TChart& chart, TChartMenu& menu, TSweepEngine& sweep, TChartOverlay* overlay,
                   std::function<void(const std::string&)> log);
  ~TKeepWhatWasSeen() override;  // ends a recording as Stop does

  // Asks where to save: the file chosen, or empty when the user cancelled.
  // A save dialog unless replaced (tests do).
  std::function<QString(const QString& caption, const QString& suggestedName, const QString& filter)>
      AskFile;
  // Asks Record…'s choices before the file: those made, or nothing when the
  // user cancelled. A dialog unless replaced; with AskFile replaced and this
  // not, the choices in force are taken without asking.
  std::function<std::optional<IntegrationChoice>(const IntegrationChoice& initial)> AskChoice;
  // What a recording started next combines and integrates (nothing chosen:
  // every sweep as it is).
  const IntegrationChoice& RecordChoice() const { return choice_; }
  void SetRecordChoice(const IntegrationChoice& choice);
  // Takes the remembered choices, and remembers every later one in settings.
  void Remember(TSettings& settings);

  // A recorded sweep on the chart instead of the live one (null: live
  // again); Save sweep as CSV saves what the chart shows.
  void ShowRecorded(const SweepPtr& sweep) { recorded_ = sweep; }

  // Each says what went wrong in one log line and returns false then.
  bool SaveSweepCsv(const QString& path);
  bool SaveImage(const QString& path);
  bool StartRecording(const QString& path);
  void StopRecording();

  // The chart's image as last drawn, with the readout and markers over it.
  QImage ChartImage() const;

  bool Recording() const { return recorder_ != nullptr; }
  uint64_t RecordedSweeps() const;
  QLabel* Indicator() const { return indicator_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnSweep(const SweepPtr& sweep);
  void RecordingFailed(const std::string& reason);
  void EndRecording(const std::string& line);
  void ShowIndicator();
  static constexpr bool Appends = true;
  QString Ask(const QString& caption, const QString& suffix, const QString& filter, bool appends = false);

  QWidget& window_;
  TChart& chart_;
  TSweepEngine& sweep_;
  TChartOverlay* overlay_;
  std::function<void(const std::string&)> log_;
  QAction* recordAction_ = nullptr;
  QLabel* indicator_ = nullptr;
  int listener_ = -1;
  SweepPtr last_;  // the last complete sweep, shared with the trace
  SweepPtr recorded_;
  std::unique_ptr<TSweepRecorder> recorder_;
  uint64_t handedOver_ = 0;
  IntegrationChoice choice_;
  TSettings* settings_ = nullptr;
};

}  // namespace wg
