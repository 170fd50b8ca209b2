// The one window of Wideglass: the log pane on the left, the chart with the
// panoramic trace on the right, and the two scan-range editors on the chart.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace wg {
class TChart;
class TChartAxis;
class TCalibrateOnMarker;
class TChartMenu;
class TReadTheAir;
class TFastLineSeries;
class TKeepWhatWasSeen;
class TSettings;
class TReceiverMenu;
class TRecordingView;
class TReceiverSetup;
class TReceiverStrip;
class TSignalsPanel;
class TSpinEditDouble;
class TSweepEngine;
struct Options;
struct ReceiverReport;
class TWaterfall;
class TWaterfallSplitter;
}  // namespace wg

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // Nothing remembered, nothing chosen: the written window.
  explicit MainWindow(QWidget* parent = nullptr);
  // Starts from the remembered settings, overridden for this run by the
  // options given; changes the user makes are remembered.
  MainWindow(wg::TSettings& settings, const wg::Options& options, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Event handlers, named after the control and the event.
  void FormCreate(QObject* Sender);
  void FormDestroy(QObject* Sender);
  // Key is a virtual key code (see VirtualKeys.h); the key is not consumed.
  void FormKeyDown(QObject* Sender, int Key, Qt::KeyboardModifiers Shift);
  void RangeEditChange(QObject* Sender);
  // Enter, or the focus left a range editor.
  void RangeEditDone(QObject* Sender);
  void StartSweep();
  void StopSweep();
  void SetUpReceiver();  // opens the receiver and shows its report

  // The log pane's one operation: the text becomes the new last line(s);
  // "\r\n" inside it starts further lines.
  void LogAppend(const std::string& text);

  // Keyboard navigation helpers.
  static void ScrollAxisByPercent(wg::TChartAxis* Axis, double Percent);
  static void ScrollHorizontalAxes(wg::TChart* Chart, double Percent);
  static void ScrollVerticalAxes(wg::TChart* Chart, double Percent);

  // An editor value in MHz as whole Hz, through the 15-digit text form so
  // that 88.6 gives 88600000 and not 88599999.
  static int64_t MHzToHz(double mhz);

  wg::TSweepEngine& Sweep() { return *sweep_; }
  // Where features remember what the user chose, and what this run was
  // started with.
  wg::TSettings& Settings() { return *settings_; }
  const wg::Options& RunOptions() const { return *options_; }
  // The open receiver and its controls (gain, correction, rate, which one).
  wg::TReceiverSetup& Receiver() { return *receiver_; }

  // Controls, in creation order.
  QFrame* chartPanel = nullptr;
  wg::TChart* Chart1 = nullptr;
  QLabel* Label2 = nullptr;
  wg::TFastLineSeries* Series1 = nullptr;
  QFrame* Panel2 = nullptr;
  QPlainTextEdit* reportLog = nullptr;
  QPushButton* setUpButton = nullptr;
  QPushButton* startButton = nullptr;
  QPushButton* stopButton = nullptr;
  // Created by FormCreate on the chart, which destroys them with itself.
  wg::TSpinEditDouble* StartFreqEdit = nullptr;
  wg::TSpinEditDouble* StopFreqEdit = nullptr;
  // The chart's context menu (right-click without moving). Features add
  // their actions with their shortcuts; the shortcuts work in the whole
  // window.
  QMenu* ChartMenu = nullptr;

  // Cursor readout, markers and trace modes.
  wg::TReadTheAir& Air() { return *air_; }
  // The chart above the waterfall in the right panel; the waterfall is hidden
  // until its action (Ctrl+Shift+W) shows it.
  wg::TWaterfallSplitter* Splitter1 = nullptr;
  wg::TWaterfall* Waterfall1 = nullptr;
  // Saving the sweep and the image, recording.
  wg::TKeepWhatWasSeen& Keep() { return *keep_; }
  // The receiver at a glance, and the signals found.
  wg::TReceiverStrip& Strip() { return *strip_; }
  wg::TSignalsPanel& Signals() { return *signals_; }
  // The frequency correction found on a marker.
  wg::TCalibrateOnMarker& Calibration() { return *calibrate_; }
  // A recording opened in the window instead of the live sweep.
  wg::TRecordingView& Recording() { return *recording_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  class SeriesLink;

  MainWindow(wg::TSettings* settings, const wg::Options& options, QWidget* parent);
  void CreateControls();
  void NameButtons();
  // Remembered settings and options.
  void RestoreGeometry();
  void RestoreFeatures();
  void RememberOnClose();
  void ConfigureChart();
  void PlaceControls();
  wg::TSpinEditDouble* CreateFreqEdit(double minValue, double maxValue, const char* hint);
  // keepWantedStop: the stop editor was not the one changed, so a stop it
  // shows cut short by the rate stands for the stop asked for.
  void ApplyScanRange(bool keepWantedStop);
  // A rate moved the stop in force: the editor, the axis and the log follow.
  void FollowStopInForce();
  void ShowStopInForce();
  // One log line when the range in force is cut short, and one when it no
  // longer is.
  void SayCut();
  // The receiver report into the log pane, and the bottom axis on the range.
  void ShowReport(const wg::ReceiverReport& report);

  wg::TChartMenu* chartMenu_ = nullptr;
  wg::TReceiverMenu* receiverMenu_ = nullptr;  // a child of the window
  std::unique_ptr<wg::TSettings> ownSettings_;  // when none was given
  wg::TSettings* settings_ = nullptr;
  std::unique_ptr<wg::Options> options_;
  std::unique_ptr<SeriesLink> seriesLink_;
  std::unique_ptr<wg::TSweepEngine> sweep_;
  // Listens to the sweep: goes before it.
  std::unique_ptr<wg::TReadTheAir> air_;
  std::unique_ptr<wg::TReceiverSetup> receiver_;  // after sweep_: goes first
  std::unique_ptr<wg::TKeepWhatWasSeen> keep_;
  // Both listen to the sweep and read the receiver: go before them.
  std::unique_ptr<wg::TReceiverStrip> strip_;
  std::unique_ptr<wg::TSignalsPanel> signals_;
  std::unique_ptr<wg::TCalibrateOnMarker> calibrate_;
  std::unique_ptr<wg::TRecordingView> recording_;
  bool destroyed_ = false;
  bool inRangeChange_ = false;
  // The cut last said (stop in force and stop asked for); 0 when none is.
  int64_t saidCutStop_ = 0, saidCutWanted_ = 0;
  bool stopShownCut_ = false;  // the stop editor shows a stop cut short
};

extern MainWindow* Form1;
