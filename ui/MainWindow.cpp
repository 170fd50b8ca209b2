#include "ui/MainWindow.h"

#include <utility>

#include "app/Options.h"
#include "app/Settings.h"
#include "app/StartChoice.h"
#include "chart/Chart.h"
#include "chart/ChartSetup.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "receiver/api_rtl_sdr.h"
#include "runtime/Beep.h"
#include "runtime/NumText.h"
#include "sweep/QueuedEngine.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/ScanLimits.h"
#include "sweep/SweepEngine.h"
#include "ui/CalibrateOnMarker.h"
#include "ui/ChartMenu.h"
#include "ui/HandlerGuard.h"
#include "ui/KeepWhatWasSeen.h"
#include "ui/LanguageMenu.h"
#include "ui/ReadTheAir.h"
#include "ui/ReceiverAwayNotice.h"
#include "ui/ReceiverMenu.h"
#include "ui/ReceiverReport.h"
#include "ui/ReceiverStrip.h"
#include "ui/SignalsPanel.h"
#include "ui/RecordingView.h"
#include "ui/SweepPoints.h"
#include "ui/VirtualKeys.h"
#include "ui/waterfall/WaterfallColourMenu.h"
#include "ui/waterfall/WaterfallSplitter.h"

#include <QApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include <cmath>

MainWindow* Form1 = nullptr;

namespace {

constexpr int kClientWidth = 845;
constexpr int kClientHeight = 326;
constexpr int kLeftPanelWidth = 265;

// Fonts are given by their height in pixels at the designed 96 pixels per
// inch ("Tahoma" 8 points is 11 pixels high).
QFont TahomaPixels(int pixels) {
  QFont f(QStringLiteral("Tahoma"));
  f.setPixelSize(pixels);
  return f;
}

// The value an editor stands for in the scan range: text beyond its limits
// (typed or pasted, before the focus leaves) counts as the nearest limit, and
// text that is no number as the frequency in force.
double RangeValue(const wg::TSpinEditDouble& e, int64_t inForceHz) {
  const double v = e.Value();
  if (!e.HoldsNumber() || std::isnan(v)) return static_cast<double>(inForceHz) / 1000000;
  return e.ClampValue(v);
}

// Text from the user as one short log line: a paste may hold line breaks or
// a whole document.
std::string LoggedText(const QString& text) {
  constexpr qsizetype kMostShown = 40;
  QString t = text.left(kMostShown + 1);
  for (QChar& c : t)
    if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  if (t.size() > kMostShown) t = t.left(kMostShown) + QStringLiteral("…");
  return t.toStdString();
}

// The editors' values are MHz.
constexpr double MHz(int64_t hz) { return static_cast<double>(hz) / 1e6; }

// Exceptions from the controls' own handlers end up in the log pane.
void LogControlException(std::exception_ptr error) {
  if (Form1) Form1->LogAppend(wg::HandlerErrorLine(QT_TRANSLATE_NOOP("HandlerGuard", "обработке события"), error));
}

}  // namespace

// The chart's series as the sweep engine sees it.
class MainWindow::SeriesLink : public wg::TSweepSeries {
 public:
  explicit SeriesLink(wg::TFastLineSeries* s) : s_(s) {}
  void ResetPoints(int count) override { s_->ResetPoints(count, 0.0, 0.0, wg::clRed); }
  void ShowSweep(const wg::SweepPtr& sweep) override { s_->ShowPoints(wg::SweepPoints(sweep)); }

 private:
  wg::TFastLineSeries* s_;
};

MainWindow::MainWindow(QWidget* parent) : MainWindow(nullptr, wg::Options{}, parent) {}

MainWindow::MainWindow(wg::TSettings& settings, const wg::Options& options, QWidget* parent)
    : MainWindow(&settings, options, parent) {}

MainWindow::MainWindow(wg::TSettings* settings, const wg::Options& options, QWidget* parent)
    : QWidget(parent),
      ownSettings_(settings ? nullptr : std::make_unique<wg::TSettings>()),
      settings_(settings ? settings : ownSettings_.get()),
      options_(std::make_unique<wg::Options>(options)) {
  Form1 = this;
  setWindowTitle(QStringLiteral("  vodr_Wideglass for RTL-SDR"));
  setFont(TahomaPixels(11));
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));  // clBtnFace
  setPalette(pal);
  resize(kClientWidth, kClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect avail = screen->availableGeometry();
    move(avail.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
  CreateControls();
  RestoreGeometry();
  // Key preview: the window sees every key before the focused control does.
  qApp->installEventFilter(this);
  wg::SetExceptionSink(&LogControlException);
  FormCreate(this);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  FormDestroy(this);
  // The receiver menu tells the set-up it goes; children are deleted only
  // after the members, the set-up among them.
  delete std::exchange(receiverMenu_, nullptr);
  // Focus moves while the controls are torn down; no handler may run on a
  // window whose members are gone.
  for (wg::TSpinEditDouble* e : {StartFreqEdit, StopFreqEdit}) {
    if (!e) continue;
    e->OnChange = nullptr;
    e->OnEditingDone = nullptr;
  }
  if (Form1 == this) {
    Form1 = nullptr;
    wg::SetExceptionSink(nullptr);
  }
}

void MainWindow::CreateControls() {
  chartPanel = new QFrame(this);
  chartPanel->setObjectName(QStringLiteral("chartPanel"));
  chartPanel->setFrameShape(QFrame::NoFrame);
  chartPanel->setAutoFillBackground(true);
  {
    QPalette p = chartPanel->palette();
    p.setColor(QPalette::Window, Qt::white);
    chartPanel->setPalette(p);
  }

  Chart1 = new wg::TChart(chartPanel);
  Chart1->setObjectName(QStringLiteral("Chart1"));
  // A click on the chart takes the keyboard focus there, so that plus and
  // minus zoom it instead of going into whatever had the focus before.
  Chart1->setFocusPolicy(Qt::ClickFocus);
  Splitter1 = new wg::TWaterfallSplitter(Chart1, chartPanel);
  Waterfall1 = Splitter1->Waterfall();

  Label2 = new QLabel(QStringLiteral("Freq, MHz:"), Chart1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setFont(TahomaPixels(9));
  {
    QPalette p = Label2->palette();
    p.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    Label2->setPalette(p);
  }

  // The chart owns its series.
  Series1 = Chart1->AddSeries(std::make_unique<wg::TFastLineSeries>());
  ConfigureChart();

  Panel2 = new QFrame(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameShape(QFrame::NoFrame);
  Panel2->setAutoFillBackground(true);
  {
    QPalette p = Panel2->palette();
    p.setColor(QPalette::Window, Qt::white);
    Panel2->setPalette(p);
  }

  reportLog = new QPlainTextEdit(Panel2);
  reportLog->setObjectName(QStringLiteral("reportLog"));
  reportLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reportLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  reportLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // The report is for reading and copying; keys meant for the chart must
  // never be typed into it.
  reportLog->setReadOnly(true);
  reportLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

  // The three buttons are never shown; they stand for the operations behind them.
  setUpButton = new QPushButton(Panel2);
  startButton = new QPushButton(Panel2);
  stopButton = new QPushButton(Panel2);
  NameButtons();
  for (QPushButton* b : {setUpButton, startButton, stopButton}) b->hide();
  connect(setUpButton, &QPushButton::clicked, this, [this] { SetUpReceiver(); });
  connect(startButton, &QPushButton::clicked, this, [this] { StartSweep(); });
  connect(stopButton, &QPushButton::clicked, this, [this] { StopSweep(); });

  chartMenu_ = new wg::TChartMenu(this, Chart1);
  chartMenu_->OnError = [this](const std::string& line) { LogAppend(line); };
  ChartMenu = chartMenu_->Menu();
  ChartMenu->addAction(Splitter1->Action());

  // Tab order: the chart side first, then the log pane.
  setTabOrder(Chart1, reportLog);
  PlaceControls();

  // The features get what they use; none of them reaches back into the window.
  const auto log = [this](const std::string& line) { LogAppend(line); };
  seriesLink_ = std::make_unique<SeriesLink>(Series1);
  sweep_ = wg::MakeQueuedEngine(*this, seriesLink_.get(), log);
  air_ = std::make_unique<wg::TReadTheAir>(*Chart1, *Series1, Sweep(), *chartMenu_);
  receiver_ = std::make_unique<wg::TReceiverSetup>(*sweep_);
  // A remote receiver's report comes when it has connected: the window
  // never waits for the network.
  receiver_->SetConnectInBackground([this](const wg::ReceiverReport& report) {
    ShowReport(report);
    if (receiverMenu_) receiverMenu_->Refresh();
  });
  Splitter1->Follow(Sweep(), *Series1);
  keep_ = std::make_unique<wg::TKeepWhatWasSeen>(*this, *Chart1, *chartMenu_, Sweep(), air_->Overlay(), log);
  recording_ = std::make_unique<wg::TRecordingView>(*this, *Chart1, *Series1, *Splitter1, Sweep(), *chartMenu_, log);
  recording_->OnShown = [this](const wg::SweepPtr& shown) {
    air_->ShowRecorded(shown);
    keep_->ShowRecorded(shown);
  };
  new wg::TLanguageMenu(this, *chartMenu_, Settings(), RunOptions().language, log);
  strip_ = std::make_unique<wg::TReceiverStrip>(*Chart1, *air_->Overlay(), *receiver_, Sweep(), *chartMenu_,
                                                [this] { return Air().Mode(); });
  air_->StripRect = [this] { return strip_->Rect(); };
  signals_ = std::make_unique<wg::TSignalsPanel>(this, *Chart1, Sweep(), *chartMenu_, Settings());
  signals_->Log = log;
  air_->OnListen = [this](double hz) { signals_->ListenAt(hz); };
  calibrate_ = std::make_unique<wg::TCalibrateOnMarker>(*this, *air_, Sweep(), *receiver_, Settings(), log);
  new wg::TReceiverAwayNotice(*Chart1, *air_->Overlay(), Sweep());
}

void MainWindow::NameButtons() {
  setUpButton->setText(tr("инициализация"));
  startButton->setText(tr("получить выборки"));
  stopButton->setText(tr("остановить"));
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::LanguageChange) NameButtons();
}

void MainWindow::ConfigureChart() { wg::ConfigureSpectrumChart(*Chart1, *Series1); }

void MainWindow::PlaceControls() {
  const int w = width(), h = height();
  const int dh = h - kClientHeight;
  Panel2->setGeometry(0, 0, kLeftPanelWidth, h);
  chartPanel->setGeometry(kLeftPanelWidth, 0, std::max(0, w - kLeftPanelWidth), h);
  Splitter1->setGeometry(0, 0, chartPanel->width(), chartPanel->height());
  // Anchored left and bottom: keeps its distance from the chart's bottom edge.
  Label2->setGeometry(0, 11 + dh, 47, 11);
  // Anchored left, top and bottom: grows and shrinks with the window.
  reportLog->setGeometry(8, 12, 249, std::max(0, 311 + dh));
  setUpButton->setGeometry(8, 267 + dh, 249, 25);
  startButton->setGeometry(8, 298 + dh, 129, 25);
  stopButton->setGeometry(143, 298 + dh, 114, 25);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceControls();
}

wg::TSpinEditDouble* MainWindow::CreateFreqEdit(double minValue, double maxValue, const char* hint) {
  auto* e = new wg::TSpinEditDouble();
  e->SetIncrement(0.1);
  e->SetMinValue(minValue);
  e->SetMaxValue(maxValue);
  QFont f = font();
  f.setPixelSize(rt::MulDiv(7, 96, 72));  // 7 points at the designed resolution
  e->setFont(f);
  e->SetFontColor(QColor(0x80, 0x80, 0x80));
  e->SetHint(QString::fromUtf8(hint));
  e->SetColor(Qt::white);
  e->setCursor(Qt::PointingHandCursor);
  e->resize(65, 19);
  return e;
}

void MainWindow::FormCreate(QObject* /*Sender*/) {
  rt::SetDecimalSeparator('.');
  wg::ApplyScanChoice(Sweep(), RunOptions(), Settings());

  StartFreqEdit = CreateFreqEdit(MHz(wg::kMinStartHz), MHz(wg::kMaxStartHz), "Start scanning, MHz");
  StartFreqEdit->move(Label2->x() + Label2->width() + 2, Label2->y() - 4);
  StartFreqEdit->SetCtl3D(false);
  StartFreqEdit->SetValue(static_cast<double>(Sweep().StartFrequency()) / 1000000);
  StartFreqEdit->OnChange = [this](QObject* s) { RangeEditChange(s); };
  StartFreqEdit->OnEditingDone = [this](QObject* s) { RangeEditDone(s); };
  StartFreqEdit->setParent(Chart1);
  StartFreqEdit->show();

  StopFreqEdit = CreateFreqEdit(MHz(wg::kMinStopHz), MHz(wg::kMaxStopHz), "Stop scanning, MHz");
  StopFreqEdit->move(StartFreqEdit->x() + StartFreqEdit->width() + 3, StartFreqEdit->y());
  StopFreqEdit->SetCtl3D(false);
  StopFreqEdit->SetValue(static_cast<double>(Sweep().StopFrequency()) / 1000000);
  StopFreqEdit->OnChange = [this](QObject* s) { RangeEditChange(s); };
  StopFreqEdit->OnEditingDone = [this](QObject* s) { RangeEditDone(s); };
  StopFreqEdit->setParent(Chart1);
  StopFreqEdit->show();

  // The set-up below sets the rate, which may cut the range short already.
  Sweep().SetStopMoved([this] { FollowStopInForce(); });
  wg::ApplyReceiverChoice(Receiver(), RunOptions(), Settings());
  SetUpReceiver();
  receiverMenu_ = new wg::TReceiverMenu(this, ChartMenu, Receiver(), Settings(),
                                        [this](const std::string& line) { LogAppend(line); });
  RestoreFeatures();
  // What the settings have to say from now on (a file that cannot be
  // written) comes as it happens.
  Settings().SetMessageSink([this](const std::string& line) { LogAppend(line); });
  if (RunOptions().open) Recording().Open(QString::fromLocal8Bit(RunOptions().open->c_str()));
}

void MainWindow::FormDestroy(QObject* /*Sender*/) {
  if (destroyed_) return;
  destroyed_ = true;
  RememberOnClose();
  if (sweep_) {
    sweep_->SetStopMoved(nullptr);
    sweep_->StopForDestroy();
  }
  // The receiver is closed only once no worker reads from it.
  if (receiver_) receiver_->Close();
}

void MainWindow::StartSweep() { Sweep().Start(); }
void MainWindow::StopSweep() { Sweep().Stop(); }

void MainWindow::SetUpReceiver() { ShowReport(Receiver().Run()); }

void MainWindow::ShowReport(const wg::ReceiverReport& report) {
  if (report.pending) return;  // it comes when the remote receiver has connected
  for (const std::string& text : wg::FormatReceiverReport(report)) LogAppend(text);
  if (report.outcome != wg::ReceiverReport::Outcome::Opened) return;
  // Property by property, as the axis checks each bound against the other.
  wg::TChartAxis* bottom = Chart1->BottomAxis();
  bottom->SetAutomatic(false);
  bottom->SetMaximum(static_cast<double>(report.scanStop));
  bottom->SetMinimum(static_cast<double>(report.scanStart));
}

void MainWindow::LogAppend(const std::string& text) {
  QString t = QString::fromStdString(text);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  reportLog->appendPlainText(t);
}

int64_t MainWindow::MHzToHz(double mhz) {
  const long double product = static_cast<long double>(mhz) * 1000000.0L;
  double rounded = 0;
  if (!rt::TryStrToFloat(rt::FloatToStr(static_cast<double>(product)), rounded)) return 0;
  return rt::Trunc(rounded);
}

void MainWindow::RangeEditChange(QObject* Sender) {
  // The stop editor written below changes its text like any edit; the run in
  // progress completes the whole change by itself.
  if (inRangeChange_) return;
  // Text that is no number (anything pasted, an editor emptied before the
  // next number is typed) leaves the sweep as it is; RangeEditDone puts the
  // value in force back once the user is done.
  if (Sender == StartFreqEdit || Sender == StopFreqEdit)
    if (!static_cast<wg::TSpinEditDouble*>(Sender)->HoldsNumber()) return;
  wg::TFlagGuard guard(inRangeChange_);
  // A failure leaves the sweep stopped; the next edit starts it again.
  wg::RunReported(QT_TRANSLATE_NOOP("HandlerGuard", "смене диапазона"),
                  [this, Sender] { ApplyScanRange(Sender != StopFreqEdit); },
                  [this](const std::string& line) { LogAppend(line); });
}

void MainWindow::RangeEditDone(QObject* Sender) {
  wg::TSpinEditDouble* e = Sender == StartFreqEdit ? StartFreqEdit : StopFreqEdit;
  if (!e->HoldsNumber()) {
    const int64_t inForce = e == StartFreqEdit ? Sweep().StartFrequency() : Sweep().StopFrequency();
    const std::string typed = LoggedText(e->text());
    {
      // Shows what the sweep runs on, without running the change again.
      wg::TFlagGuard guard(inRangeChange_);
      e->SetValue(static_cast<double>(inForce) / 1000000);
    }
    LogAppend((e == StartFreqEdit ? tr("Начало сканирования, МГц: ") : tr("Конец сканирования, МГц: ")).toStdString() +
              "\"" + typed + "\"" + tr(" — не число, остаётся ").toStdString() + e->text().toStdString());
    return;
  }
  // Typing may leave the stop below start + 1 for a while (see
  // ApplyScanRange); once the user is done, the range rule applies.
  if (e == StopFreqEdit &&
      RangeValue(*StartFreqEdit, Sweep().StartFrequency()) + 1.0 >= RangeValue(*StopFreqEdit, Sweep().StopFrequency()))
    RangeEditChange(Sender);
  // A typed stop beyond what the rate reaches shows as the stop in force
  // once the user is done with it.
  ShowStopInForce();
  SayCut();
}

void MainWindow::ApplyScanRange(bool keepWantedStop) {
  // The worker finishes its block on its own: the next one waits for it on
  // its own thread, the window does not (a change per keystroke).
  Sweep().Stop(std::chrono::milliseconds(0));
  rt::SetDecimalSeparator('.');
  const double startMHz = RangeValue(*StartFreqEdit, Sweep().StartFrequency());
  double stopMHz = RangeValue(*StopFreqEdit, Sweep().StopFrequency());
  // While the rate cuts the range, the stop editor shows the stop in force;
  // moving the start must not make that the stop the user asked for.
  if (keepWantedStop && Sweep().RangeCut() && MHzToHz(stopMHz) == Sweep().StopFrequency())
    stopMHz = MHz(Sweep().WantedStopFrequency());
  const int64_t start = MHzToHz(startMHz);
  if (startMHz + 1.0 >= stopMHz) {
    if (StopFreqEdit->Typing() && StopFreqEdit->hasFocus()) {
      // Typing "108" passes through "1" and "10": writing start + 1 into the
      // text then would turn the number into another. The sweep takes
      // start + 1 until the user is done with the editor.
      stopMHz = StopFreqEdit->ClampValue(startMHz + 1.0);
    } else {
      StopFreqEdit->SetValue(startMHz + 1.0);
      stopMHz = RangeValue(*StopFreqEdit, Sweep().StopFrequency());
    }
  }
  const int64_t stop = MHzToHz(stopMHz);
  Sweep().SetScanRange(start, stop);
  Chart1->BottomAxis()->SetRange(static_cast<double>(start),
                                 static_cast<double>(Sweep().RangeCut() ? Sweep().StopFrequency() : stop));
  Settings().SetScanRange({start, stop});
  Sweep().Reset();
  Sweep().PrepareSeries();
  if (air_) air_->ScanRangeChanged();
  StartSweep();
  ShowStopInForce();
  // Typing or stepping in an editor says the cut once the user is done.
  if (!StartFreqEdit->hasFocus() && !StopFreqEdit->hasFocus()) SayCut();
}

void MainWindow::FollowStopInForce() {
  if (!StopFreqEdit) return;
  ShowStopInForce();
  Chart1->BottomAxis()->SetRange(static_cast<double>(Sweep().StartFrequency()),
                                 static_cast<double>(Sweep().StopFrequency()));
  if (air_) air_->ScanRangeChanged();
  // After the line that names the new rate.
  QMetaObject::invokeMethod(this, [this] { SayCut(); }, Qt::QueuedConnection);
}

void MainWindow::ShowStopInForce() {
  // Text under the user's fingers stays; it shows once they are done.
  if (StopFreqEdit->Typing() && StopFreqEdit->hasFocus()) return;
  const bool cut = Sweep().RangeCut();
  if (!cut && !stopShownCut_) return;
  stopShownCut_ = cut;
  const int64_t stop = Sweep().StopFrequency();
  if (MHzToHz(RangeValue(*StopFreqEdit, stop)) == stop) return;
  wg::TFlagGuard guard(inRangeChange_);
  StopFreqEdit->SetValue(MHz(stop));
}

void MainWindow::SayCut() {
  const int64_t stop = Sweep().StopFrequency(), wanted = Sweep().WantedStopFrequency();
  if (Sweep().RangeCut()) {
    if (stop == saidCutStop_ && wanted == saidCutWanted_) return;
    saidCutStop_ = stop;
    saidCutWanted_ = wanted;
    LogAppend(tr("Конец сканирования, МГц: %1 вместо %2 — при полосе %3 Hz развёртка не шире %4 МГц")
                  .arg(QString::fromStdString(rt::FloatToStr(MHz(stop))),
                       QString::fromStdString(rt::FloatToStr(MHz(wanted))), QString::number(Sweep().SampleRate()),
                       QString::fromStdString(rt::FloatToStr(MHz(Sweep().WidestRange()))))
                  .toStdString());
  } else if (saidCutStop_ != 0) {
    saidCutStop_ = saidCutWanted_ = 0;
    LogAppend(tr("Конец сканирования, МГц: %1 — диапазон больше не сокращён")
                  .arg(QString::fromStdString(rt::FloatToStr(MHz(stop))))
                  .toStdString());
  }
}

void MainWindow::ScrollAxisByPercent(wg::TChartAxis* Axis, double Percent) {
  const double shift =
      static_cast<double>((static_cast<long double>(Axis->Maximum()) - Axis->Minimum()) / (100.0L / Percent));
  Axis->SetRange(Axis->Minimum() + shift, Axis->Maximum() + shift);
}

void MainWindow::ScrollHorizontalAxes(wg::TChart* Chart, double Percent) {
  ScrollAxisByPercent(Chart->TopAxis(), Percent);
  ScrollAxisByPercent(Chart->BottomAxis(), Percent);
}

void MainWindow::ScrollVerticalAxes(wg::TChart* Chart, double Percent) {
  ScrollAxisByPercent(Chart->LeftAxis(), Percent);
  ScrollAxisByPercent(Chart->RightAxis(), Percent);
}

void MainWindow::FormKeyDown(QObject* /*Sender*/, int Key, Qt::KeyboardModifiers /*Shift*/) {
  if (Key == vk::Left) ScrollHorizontalAxes(Chart1, -5);
  if (Key == vk::Right) ScrollHorizontalAxes(Chart1, 5);
  if (Key == vk::Down) ScrollVerticalAxes(Chart1, -5);
  if (Key == vk::Up) ScrollVerticalAxes(Chart1, 5);
  if (Key == vk::Add || Key == vk::OemPlus) Chart1->ZoomCentred(120);
  if (Key == vk::Subtract || Key == vk::OemMinus) Chart1->ZoomCentred(80);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Anchored to the chart's bottom edge, which the waterfall's splitter moves too.
  if (watched == Chart1 && event->type() == QEvent::Resize) Label2->move(0, 11 + Chart1->height() - kClientHeight);
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    // A key press goes first to the focused control (to the window when none
    // has the focus) and may then travel up to its parents: take it once, at
    // its first stop.
    auto* w = static_cast<QWidget*>(watched);
    QWidget* first = QApplication::focusWidget();
    if (!first) first = this;
    if (w == first && (w == this || isAncestorOf(w))) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (const int code = vk::FromQt(*key)) {
        wg::RunReported(QT_TRANSLATE_NOOP("HandlerGuard", "обработке клавиши"), [&] { FormKeyDown(this, code, key->modifiers()); },
                        [this](const std::string& line) { LogAppend(line); });
      }
    }
  }
  return QWidget::eventFilter(watched, event);  // the key goes on to the control
}

// ---- remembered settings ----------------------------------------------------
// The options win over the settings for this run and are never written back:
// only what the user changes in the window is remembered.

void MainWindow::RestoreGeometry() {
  const QByteArray& g = Settings().Values().geometry;
  if (g.isEmpty()) return;  // the written placement: centred on the screen
  if (!restoreGeometry(g))
    Settings().Note(QT_TRANSLATE_NOOP("Settings", "неверное значение window/geometry, взято положение по умолчанию"));
}

// The trace mode (peak hold included) and the markers come back, and every
// later change of them is remembered as it is made; markers are also written
// as the window closes.
void MainWindow::RestoreFeatures() {
  Air().Remember(Settings(), RunOptions().mode);
  Keep().Remember(Settings());
  // The waterfall and its share of the right panel, remembered as they change.
  const wg::SettingsValues& v = Settings().Values();
  Splitter1->SetShare(v.waterfallShare);
  if (v.waterfallShown) Splitter1->ShowWaterfall(true);
  Splitter1->OnShownChanged = [this](bool shown) { Settings().SetWaterfallShown(shown); };
  Splitter1->OnShareChanged = [this](double share) { Settings().SetWaterfallShare(share); };
  wg::AddWaterfallColourMenu(*ChartMenu, *Waterfall1, Settings());
  Strip().SetShown(v.receiverStrip);
  Strip().OnShownChanged = [this](bool shown) { Settings().SetReceiverStrip(shown); };
}

void MainWindow::RememberOnClose() {
  // The log goes with the window.
  Settings().SetMessageSink(nullptr);
  Settings().SetWindowGeometry(saveGeometry());
  if (air_) {
    Settings().SetPeakMarker(Air().PeakMarker());
    Settings().SetMarkers(Air().FixedMarkers());
  }
}
