// A recording opened in the window ("Open recording…", or --open FILE): the
// chart shows one of its sweeps (the newest at first) and the waterfall the
// whole recording, newest on top, both taking the recorded sweeps as Sweep
// values as they take live ones, so the readout and markers read them the
// same way. A bar on the chart holds a time slider (Page Up: newer, Page
// Down: older), the progress of reading and "Back to live". Live sweeping
// stops while a recording is open and resumes with "Back to live"; a scan
// range changed meanwhile goes live at once.
//
// The file is read off the window's thread (TRecordingSource); with nothing
// opened the window looks and acts as without this feature.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sweep/Sweep.h"

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QWidget;

namespace wg {

class TChart;
class TChartMenu;
class TFastLineSeries;
class TRecordingSource;
class TSweepEngine;
class TWaterfallSplitter;

extern const char* const kRecordingOpenedText;      // the file, then the sweep count
extern const char* const kRecordingOpenFailedText;  // the file, the reason
extern const char* const kRecordingProblemText;     // the file, line and what
extern const char* const kRecordingEmptyText;       // the file
extern const char* const kRecordingBadLevelsText;   // %1 the dB bound, %2 the file, %3 how many

class TRecordingView : public QObject {
  Q_OBJECT

 public:
  TRecordingView(QWidget& window, TChart& chart, TFastLineSeries& trace, TWaterfallSplitter& splitter,
                 TSweepEngine& sweep, TChartMenu& menu, std::function<void(const std::string&)> log);
  ~TRecordingView() override;

  // Stops live sweeping and starts reading the file; false (one log line)
  // when it cannot be opened.
  bool Open(const QString& path);
  // Closes the recording and starts live sweeping again.
  void BackToLive();
  bool IsOpen() const { return source_ != nullptr; }

  // The sweep shown (null before the first one is read), its number and
  // the sweeps found so far.
  const SweepPtr& Shown() const { return shown_; }
  uint64_t ShownNumber() const { return shownNumber_; }
  uint64_t SweepCount() const { return count_; }
  bool Scanned() const { return scanned_; }
  // Asks for sweep n (kept within the recording); shown once read.
  void ShowSweep(uint64_t n);
  QSlider* Slider() const { return slider_; }
  QProgressBar* Progress() const { return progress_; }

  // Asks which file to open: the file chosen, or empty when the user
  // cancelled. Tests replace the dialog.
  std::function<QString()> AskFile;
  // The recorded sweep put on the chart, and null once the chart is live
  // again: what reads or keeps the chart follows it.
  std::function<void(const SweepPtr& shown)> OnShown;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Close();
  void Place();
  void Display(uint64_t number, const SweepPtr& sweep);
  void Finished(bool complete, uint64_t generation);
  void Title();

  QWidget& window_;
  TChart& chart_;
  TFastLineSeries& trace_;
  TWaterfallSplitter& splitter_;
  TSweepEngine& sweep_;
  std::function<void(const std::string&)> log_;
  QAction* backAction_ = nullptr;
  QAction* newer_ = nullptr;
  QAction* older_ = nullptr;
  QWidget* bar_ = nullptr;
  QLabel* when_ = nullptr;
  QSlider* slider_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* back_ = nullptr;

  std::unique_ptr<TRecordingSource> source_;
  uint64_t generation_ = 0;  // of the recording open: events of an earlier one are ignored
  uint64_t overviewReading_ = 0;  // the waterfall takes the rows of this reading only
  QString path_, liveTitle_;
  bool waterfallWasShown_ = false;
  int liveMarginTop_ = 0;  // the chart's, restored with the live view
  SweepPtr shown_;
  uint64_t shownNumber_ = 0, count_ = 0, asked_ = UINT64_MAX;
  bool followNewest_ = true, scanned_ = false;
  double shownLow_ = 0, shownHigh_ = 0;
  std::chrono::steady_clock::time_point lastProgress_;
  int listener_ = -1;
};

}  // namespace wg
