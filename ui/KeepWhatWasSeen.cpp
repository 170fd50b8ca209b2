#include "ui/KeepWhatWasSeen.h"

#include "chart/Chart.h"
#include "record/RtlPowerCsv.h"
#include "record/SweepRecorder.h"
#include "runtime/FileWrite.h"
#include "sweep/SweepEngine.h"
#include "ui/ChartMenu.h"
#include "ui/ChartOverlay.h"
#include "ui/RecordChoice.h"
#include "app/Settings.h"

#include <QAction>
#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QStandardPaths>

namespace wg {

const char* const kRecordStartedText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Запись развёрток в файл: ");
const char* const kRecordStoppedText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Запись остановлена, файл: ");
const char* const kRecordFailedText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Запись прервана, файл: ");
const char* const kRecordOpenFailedText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Не удалось начать запись в файл: ");
const char* const kSavedText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Сохранено в файл: ");
const char* const kSaveFailedText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Не удалось сохранить файл: ");
const char* const kNoSweepYetText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Нет завершённой развёртки для сохранения");
const char* const kRecordAppendsText =
    QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Файл не пуст: новые развёртки дописываются в конец, прежние строки сохраняются");
const char* const kRecordFinestBinText =
    QT_TRANSLATE_NOOP("KeepWhatWasSeen", "Размер бина %1 Гц меньше самого узкого: записываются бины по %2 Гц");

namespace {

const char* const kSweepsText = QT_TRANSLATE_NOOP("KeepWhatWasSeen", ", развёрток записано: ");
const char* const kCsvFilter = "CSV (rtl_power) (*.csv)";

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

// One of the texts above in the language chosen for the log.
std::string T(const char* text) { return Utf8(QCoreApplication::translate("KeepWhatWasSeen", text)); }

}  // namespace

TKeepWhatWasSeen::TKeepWhatWasSeen(QWidget& window, TChart& chart, TChartMenu& menu, TSweepEngine& sweep,
                                   TChartOverlay* overlay, std::function<void(const std::string&)> log)
    : QObject(&window), window_(window), chart_(chart), sweep_(sweep), overlay_(overlay), log_(std::move(log)) {
  menu.AddEntry(QString::fromUtf8("Save sweep as CSV…"), QKeySequence(QStringLiteral("Ctrl+Shift+E")), [this] {
       const QString path = Ask(QString::fromUtf8("Save sweep as CSV…"), QStringLiteral(".csv"), kCsvFilter);
       if (!path.isEmpty()) SaveSweepCsv(path);
     })->setObjectName(QStringLiteral("save-csv"));
  menu.AddEntry(QString::fromUtf8("Save image…"), QKeySequence(QStringLiteral("Ctrl+Shift+I")), [this] {
       const QString path = Ask(QString::fromUtf8("Save image…"), QStringLiteral(".png"), QStringLiteral("PNG (*.png)"));
       if (!path.isEmpty()) SaveImage(path);
     })->setObjectName(QStringLiteral("save-image"));
  recordAction_ = menu.AddEntry(QString::fromUtf8("Record…"), QKeySequence(QStringLiteral("Ctrl+Shift+O")), [this] {
    if (Recording()) {
      StopRecording();
      return;
    }
    if (AskChoice || !AskFile) {
      const auto choice = AskChoice ? AskChoice(choice_) : AskRecordChoice(&window_, choice_);
      if (!choice) return;
      SetRecordChoice(*choice);
    }
    const QString path = Ask(QString::fromUtf8("Record…"), QStringLiteral(".csv"), kCsvFilter, Appends);
    if (!path.isEmpty()) StartRecording(path);
  });
  recordAction_->setObjectName(QStringLiteral("record"));

  indicator_ = new QLabel(&chart_);
  indicator_->setObjectName(QStringLiteral("RecordingIndicator"));
  indicator_->setStyleSheet(QStringLiteral("QLabel { color: white; background: #c00000; padding: 1px 4px; }"));
  indicator_->setAttribute(Qt::WA_TransparentForMouseEvents);
  indicator_->hide();
  chart_.installEventFilter(this);

  listener_ = sweep_.AddSweepListener([this](const SweepPtr& sweep) { OnSweep(sweep); });
}

TKeepWhatWasSeen::~TKeepWhatWasSeen() {
  sweep_.RemoveSweepListener(listener_);
  if (Recording()) StopRecording();
}

QString TKeepWhatWasSeen::Ask(const QString& caption, const QString& suffix, const QString& filter, bool appends) {
  const QString name = QStringLiteral("wideglass-") +
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + suffix;
  if (AskFile) return AskFile(caption, name, filter);
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  // A recording adds to what a file holds: asking whether to replace it would promise the opposite.
  return QFileDialog::getSaveFileName(&window_, caption, QDir(folder).filePath(name), filter, nullptr,
                                      appends ? QFileDialog::DontConfirmOverwrite : QFileDialog::Options());
}

void TKeepWhatWasSeen::OnSweep(const SweepPtr& sweep) {
  last_ = sweep;
  if (!recorder_) return;
  if (recorder_->Add(sweep)) ++handedOver_;
  ShowIndicator();
}

bool TKeepWhatWasSeen::SaveSweepCsv(const QString& path) {
  const SweepPtr& shown = recorded_ ? recorded_ : last_;
  if (!shown) {
    log_(T(kNoSweepYetText));
    return false;
  }
  std::string text;
  AppendRtlPowerLines(text, *shown);
  // Written beside and renamed over the old file: a failure leaves that
  // intact. A link keeps leading to it; a device or a pipe is written in place.
  std::string reason;
  if (!rt::WriteWholeFile(QFile::encodeName(path).toStdString(), text, &reason)) {
    log_(T(kSaveFailedText) + Utf8(path) + ": " + reason);
    return false;
  }
  log_(T(kSavedText) + Utf8(path));
  return true;
}

QImage TKeepWhatWasSeen::ChartImage() const {
  TChart* chart = &chart_;
  if (!chart->Canvas().HasImage() || chart->Canvas().Dirty()) chart->repaint();
  if (!chart->Canvas().HasImage()) return {};
  QImage img = chart->Canvas().Image().copy();
  if (overlay_) {
    QPainter p(&img);
    overlay_->render(&p, overlay_->geometry().topLeft(), QRegion(), QWidget::RenderFlags());
  }
  return img;
}

bool TKeepWhatWasSeen::SaveImage(const QString& path) {
  const QImage img = ChartImage();
  QByteArray png;
  QBuffer buffer(&png);
  std::string reason;
  if (img.isNull() || !buffer.open(QIODevice::WriteOnly) || !img.save(&buffer, "PNG")) {
    log_(T(kSaveFailedText) + Utf8(path) + ": " + Utf8(buffer.errorString()));
    return false;
  }
  if (!rt::WriteWholeFile(QFile::encodeName(path).toStdString(),
                          std::string_view(png.constData(), static_cast<size_t>(png.size())), &reason)) {
    log_(T(kSaveFailedText) + Utf8(path) + ": " + reason);
    return false;
  }
  log_(T(kSavedText) + Utf8(path));
  return true;
}

bool TKeepWhatWasSeen::StartRecording(const QString& path) {
  if (Recording()) StopRecording();
  std::string error;
  // The failure comes from the writer thread; the window hears of it on its own.
  auto onFailure = [this](const std::string& reason) {
    QMetaObject::invokeMethod(this, [this, reason] { RecordingFailed(reason); }, Qt::QueuedConnection);
  };
  const QFileInfo before(path);
  const bool appending = before.isFile() && before.size() > 0;
  TSweepRecorder::Options options;
  options.integration = choice_;
  recorder_ = TSweepRecorder::Open(Utf8(QDir::cleanPath(path)), error, onFailure, options);
  if (!recorder_) {
    log_(T(kRecordOpenFailedText) + Utf8(path) + ": " + error);
    return false;
  }
  handedOver_ = 0;
  log_(T(kRecordStartedText) + recorder_->Path());
  if (appending) log_(T(kRecordAppendsText));
  // A bin size below the finest bin cannot be had: the finest is written.
  if (choice_.binHz > 0 && choice_.binHz < sweep_.BinWidth())
    log_(Utf8(QCoreApplication::translate("KeepWhatWasSeen", kRecordFinestBinText)
                  .arg(choice_.binHz, 0, 'g', 10)
                  .arg(sweep_.BinWidth(), 0, 'g', 10)));
  recordAction_->setText(QStringLiteral("Stop recording"));
  ShowIndicator();
  return true;
}

void TKeepWhatWasSeen::SetRecordChoice(const IntegrationChoice& choice) {
  choice_ = choice;
  if (settings_) settings_->SetRecordChoice(choice.binHz, choice.intervalSeconds, choice.peakHold);
}

void TKeepWhatWasSeen::Remember(TSettings& settings) {
  const SettingsValues& v = settings.Values();
  choice_ = {v.recordBinHz, v.recordIntervalSeconds, v.recordPeakHold};
  settings_ = &settings;
}

uint64_t TKeepWhatWasSeen::RecordedSweeps() const { return recorder_ ? recorder_->SweepsWritten() : 0; }

void TKeepWhatWasSeen::StopRecording() {
  if (!recorder_) return;
  recorder_->Close();
  EndRecording(T(kRecordStoppedText) + recorder_->Path() + T(kSweepsText) + std::to_string(recorder_->SweepsWritten()));
}

void TKeepWhatWasSeen::RecordingFailed(const std::string& reason) {
  if (!recorder_ || !recorder_->Failed()) return;  // a recording that has ended since
  recorder_->Close();
  EndRecording(T(kRecordFailedText) + recorder_->Path() + ": " + reason + T(kSweepsText) +
               std::to_string(recorder_->SweepsWritten()));
}

void TKeepWhatWasSeen::EndRecording(const std::string& line) {
  recorder_.reset();
  recordAction_->setText(QString::fromUtf8("Record…"));
  indicator_->hide();
  log_(line);
}

void TKeepWhatWasSeen::ShowIndicator() {
  if (!recorder_) return;
  // The sweeps handed over so far: what the file holds once they are written.
  indicator_->setText(QString::fromUtf8("● REC %1").arg(handedOver_));
  indicator_->adjustSize();
  const int margin = 4;
  indicator_->move(chart_.width() - indicator_->width() - margin, margin);
  indicator_->show();
  indicator_->raise();
}

bool TKeepWhatWasSeen::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &chart_ && event->type() == QEvent::Resize) ShowIndicator();
  return false;
}

}  // namespace wg
