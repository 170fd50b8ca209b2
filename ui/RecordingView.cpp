#include "ui/RecordingView.h"

#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "record/RecordingSource.h"
#include "sweep/SweepEngine.h"
#include "ui/ChartMenu.h"
#include "ui/SweepPoints.h"
#include "ui/waterfall/Waterfall.h"
#include "ui/waterfall/WaterfallHistory.h"
#include "ui/waterfall/WaterfallSplitter.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>

namespace wg {

const char* const kRecordingOpenedText = QT_TRANSLATE_NOOP("RecordingView", "Открыта запись: ");
const char* const kRecordingOpenFailedText = QT_TRANSLATE_NOOP("RecordingView", "Не удалось открыть запись: ");
const char* const kRecordingProblemText = QT_TRANSLATE_NOOP("RecordingView", "В записи пропущено: ");
const char* const kRecordingEmptyText = QT_TRANSLATE_NOOP("RecordingView", "Запись пуста: ");
const char* const kRecordingBadLevelsText = QT_TRANSLATE_NOOP(
    "RecordingView", "Уровни вне шкалы (бесконечные или за ±%1 дБ) показаны как неизмеренные: %2, уровней: %3");

namespace {

const char* const kSweepCountText = QT_TRANSLATE_NOOP("RecordingView", ", развёрток: ");

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }
std::string T(const char* text) { return Utf8(QCoreApplication::translate("RecordingView", text)); }

QString TimeText(const Sweep& s) {
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(s.finished.time_since_epoch()).count();
  return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace

TRecordingView::TRecordingView(QWidget& window, TChart& chart, TFastLineSeries& trace, TWaterfallSplitter& splitter,
                               TSweepEngine& sweep, TChartMenu& menu, std::function<void(const std::string&)> log)
    : QObject(&window), window_(window), chart_(chart), trace_(trace), splitter_(splitter), sweep_(sweep),
      log_(std::move(log)) {
  menu.Menu()->addSeparator();
  menu.AddEntry(QStringLiteral("Open recording…"), QKeySequence(QStringLiteral("Ctrl+Shift+P")), [this] {
        const QString path = AskFile ? AskFile()
                                     : QFileDialog::getOpenFileName(
                                           &window_, QStringLiteral("Open recording…"),
                                           QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
                                           QStringLiteral("rtl_power CSV (*.csv *.csv.gz *.gz);;All files (*)"));
        if (!path.isEmpty()) Open(path);
      })->setObjectName(QStringLiteral("open-recording"));
  backAction_ = menu.AddEntry(QStringLiteral("Back to live"), QKeySequence(QStringLiteral("Ctrl+Shift+B")), [this] {
    BackToLive();
  });
  backAction_->setObjectName(QStringLiteral("back-to-live"));
  backAction_->setEnabled(false);

  // Keys of their own, live only while a recording is open.
  const auto key = [this](Qt::Key k, int step) {
    auto* a = new QAction(this);
    a->setShortcut(QKeySequence(k));
    a->setShortcutContext(Qt::WindowShortcut);
    a->setEnabled(false);
    connect(a, &QAction::triggered, this, [this, step] {
      const uint64_t from = asked_ != UINT64_MAX ? asked_ : shownNumber_;
      if (step < 0 && from == 0) return;
      ShowSweep(from + static_cast<uint64_t>(static_cast<int64_t>(step)));
    });
    window_.addAction(a);
    return a;
  };
  newer_ = key(Qt::Key_PageUp, 1);
  older_ = key(Qt::Key_PageDown, -1);

  bar_ = new QWidget(&chart_);
  bar_->setObjectName(QStringLiteral("RecordingBar"));
  bar_->setAutoFillBackground(true);
  auto* row = new QHBoxLayout(bar_);
  row->setContentsMargins(4, 1, 4, 1);
  row->setSpacing(6);
  when_ = new QLabel(bar_);
  slider_ = new QSlider(Qt::Horizontal, bar_);
  slider_->setObjectName(QStringLiteral("RecordingSlider"));
  slider_->setFocusPolicy(Qt::NoFocus);
  progress_ = new QProgressBar(bar_);
  progress_->setRange(0, 1000);
  progress_->setMaximumWidth(90);
  progress_->setTextVisible(false);
  back_ = new QPushButton(QStringLiteral("Back to live"), bar_);
  back_->setFocusPolicy(Qt::NoFocus);
  row->addWidget(when_);
  row->addWidget(slider_, 1);
  row->addWidget(progress_);
  row->addWidget(back_);
  bar_->hide();
  connect(slider_, &QSlider::valueChanged, this, [this](int v) {
    followNewest_ = count_ > 0 && static_cast<uint64_t>(v) + 1 >= count_;
    ShowSweep(static_cast<uint64_t>(std::max(0, v)));
  });
  connect(back_, &QPushButton::clicked, this, [this] { BackToLive(); });
  chart_.installEventFilter(this);
  // Shown again by the user, the waterfall holds no rows: the recording's
  // are read once more.
  connect(splitter_.Action(), &QAction::toggled, this, [this](bool on) {
    if (on && source_) overviewReading_ = source_->ReadOverviewAgain();
  });

  // A live sweep while a recording is shown: the user started the sweep
  // again (a new range, a receiver setting); the recording gives way.
  listener_ = sweep_.AddSweepListener([this](const SweepPtr&) {
    if (IsOpen()) Close();
  });
}

TRecordingView::~TRecordingView() {
  sweep_.RemoveSweepListener(listener_);
  source_.reset();
}

bool TRecordingView::Open(const QString& path) {
  // Events of the recording shown so far count until this one is open.
  const uint64_t generation = generation_ + 1;
  TRecordingSource::Events events;
  events.progress = [this, generation](double done, uint64_t sweeps) {
    QMetaObject::invokeMethod(this, [this, generation, done, sweeps] {
      if (generation != generation_) return;
      progress_->setValue(static_cast<int>(done * 1000));
      if (sweeps == count_) return;
      count_ = sweeps;
      {
        const QSignalBlocker quiet(slider_);
        slider_->setRange(0, static_cast<int>(std::min<uint64_t>(count_ - 1, INT32_MAX)));
      }
      // The newest sweep found so far, until the user picks another.
      if (followNewest_) ShowSweep(count_ - 1);
    }, Qt::QueuedConnection);
  };
  events.shown = [this, generation](uint64_t n, const SweepPtr& s) {
    QMetaObject::invokeMethod(this, [this, generation, n, s] {
      if (generation == generation_) Display(n, s);
    }, Qt::QueuedConnection);
  };
  // Reduced to the waterfall's columns here, on the source's thread.
  events.overview = [this, generation, layout = std::shared_ptr<const TWaterfallHistory::Layout>()](
                        const SweepPtr& s, uint64_t reading) mutable {
    auto row = TWaterfallHistory::Reduce(*s, s->PointCount(), layout);
    layout = row.layout;
    QMetaObject::invokeMethod(this, [this, generation, reading, row = std::move(row)]() mutable {
      // Rows of a reading the waterfall let go when it was hidden stay out.
      if (generation == generation_ && reading == overviewReading_ && splitter_.WaterfallShown())
        splitter_.Waterfall()->AddReduced(std::move(row));
    }, Qt::QueuedConnection);
  };
  events.finished = [this, generation](bool complete) {
    QMetaObject::invokeMethod(this, [this, generation, complete] { Finished(complete, generation); },
                              Qt::QueuedConnection);
  };

  const bool wasOpen = IsOpen();
  std::string error;
  const std::string file = Utf8(path);
  auto source = TRecordingSource::Open(file, error, std::move(events), TWaterfallHistory::kMinRows);
  if (!source) {
    log_(T(kRecordingOpenFailedText) + file + ": " + error);
    return false;  // what was shown stays
  }
  generation_ = generation;
  if (!wasOpen) {
    liveTitle_ = window_.windowTitle();
    waterfallWasShown_ = splitter_.WaterfallShown();
    liveMarginTop_ = chart_.MarginTop();
  }
  sweep_.StopAndWithhold();
  // Hidden and shown again: the live rows, and any still on their way, go.
  splitter_.ShowWaterfall(false);
  splitter_.ShowWaterfall(true);
  source_ = std::move(source);
  overviewReading_ = 0;
  splitter_.Waterfall()->SetFillHeight(true);
  path_ = path;
  shown_.reset();
  shownNumber_ = count_ = 0;
  asked_ = UINT64_MAX;
  followNewest_ = true;
  scanned_ = false;
  shownLow_ = shownHigh_ = 0;
  {
    const QSignalBlocker quiet(slider_);
    slider_->setRange(0, 0);
  }
  progress_->setValue(0);
  progress_->show();
  when_->clear();
  for (QAction* a : {backAction_, newer_, older_}) a->setEnabled(true);
  Place();
  bar_->show();
  bar_->raise();
  Title();
  return true;
}

void TRecordingView::ShowSweep(uint64_t n) {
  if (!source_ || count_ == 0) return;
  n = std::min(n, count_ - 1);
  if (n == asked_) return;
  asked_ = n;
  source_->Show(n);
}

void TRecordingView::Display(uint64_t number, const SweepPtr& sweep) {
  shown_ = sweep;
  shownNumber_ = number;
  const int n = static_cast<int>(std::min<size_t>(sweep->PointCount(), TSweepEngine::kMostSeriesPoints));
  if (trace_.PointCount() != n) trace_.ResetPoints(n, 0.0, 0.0, clRed);
  trace_.ShowPoints(SweepPoints(sweep));
  const double low = static_cast<double>(sweep->start), high = static_cast<double>(sweep->stop);
  if (low != shownLow_ || high != shownHigh_) {
    shownLow_ = low;
    shownHigh_ = high;
    chart_.BottomAxis()->SetRange(low, high);
  }
  {
    const QSignalBlocker quiet(slider_);
    slider_->setValue(static_cast<int>(std::min<uint64_t>(number, INT32_MAX)));
  }
  when_->setText(TimeText(*sweep));
  Title();
  if (OnShown) OnShown(sweep);
}

void TRecordingView::Finished(bool complete, uint64_t generation) {
  if (generation != generation_ || !source_) return;
  scanned_ = true;
  progress_->hide();
  const std::string file = Utf8(path_);
  const uint64_t sweeps = source_->SweepCount();
  if (sweeps > 0) log_(T(kRecordingOpenedText) + file + T(kSweepCountText) + std::to_string(sweeps));
  // What could not be read (complete or not) is among the problems.
  (void)complete;
  for (const RecordingProblem& p : source_->Problems()) {
    if (p.kind == RecordingProblem::Kind::Empty) {
      log_(T(kRecordingEmptyText) + file);
    } else if (p.kind == RecordingProblem::Kind::BadLevels) {
      log_(Utf8(QCoreApplication::translate("RecordingView", kRecordingBadLevelsText)
                    .arg(QString::number(static_cast<int>(kMostRecordedLevelDb)), path_, QString::number(p.count))));
    } else {
      log_(T(kRecordingProblemText) + DescribeProblem(file, p));
    }
  }
  if (sweeps == 0) {
    BackToLive();
    return;
  }
  if (followNewest_) ShowSweep(count_ - 1);
}

void TRecordingView::Close() {
  if (!source_) return;
  source_.reset();
  ++generation_;
  bar_->hide();
  chart_.SetMarginTop(liveMarginTop_);
  for (QAction* a : {backAction_, newer_, older_}) a->setEnabled(false);
  window_.setWindowTitle(liveTitle_);
  splitter_.ShowWaterfall(false);
  splitter_.Waterfall()->SetFillHeight(false);
  splitter_.ShowWaterfall(waterfallWasShown_);
  const bool wasShown = shown_ != nullptr;
  shown_.reset();
  if (wasShown && OnShown) OnShown(nullptr);
}

void TRecordingView::BackToLive() {
  Close();
  chart_.BottomAxis()->SetRange(static_cast<double>(sweep_.StartFrequency()), static_cast<double>(sweep_.StopFrequency()));
  sweep_.Reset();
  sweep_.PrepareSeries();
  sweep_.Start();
}

void TRecordingView::Title() {
  QString t = liveTitle_ + QStringLiteral(" — ") + QFileInfo(path_).fileName();
  if (shown_)
    t += QStringLiteral(", %1 (%2/%3)").arg(TimeText(*shown_)).arg(shownNumber_ + 1).arg(std::max(count_, shownNumber_ + 1));
  window_.setWindowTitle(t);
}

void TRecordingView::Place() {
  // Beside the range editors, clear of the recording indicator's corner.
  const int left = 190, right = 70, top = 2, height = 22;
  bar_->setGeometry(left, top, std::max(120, chart_.width() - left - right), height);
  // The chart's title goes below the bar, and the plot with it: nothing
  // written is covered. The margin is a share of the chart's height.
  const int below = top + height + 2;
  const int share = chart_.height() > 0 ? (below * 100 + chart_.height() - 1) / chart_.height() : liveMarginTop_;
  chart_.SetMarginTop(std::clamp(share, liveMarginTop_, std::max(liveMarginTop_, 50)));
}

bool TRecordingView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &chart_ && event->type() == QEvent::Resize && bar_->isVisible()) Place();
  return false;
}

}  // namespace wg
