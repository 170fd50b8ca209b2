#include "ui/ReceiverReport.h"

#include "receiver/api_rtl_sdr.h"
#include "runtime/NumText.h"
#include "sweep/SweepEngine.h"

#include <QCoreApplication>

namespace wg {

const char* const kNoReceiverText = QT_TRANSLATE_NOOP(
    "ReceiverReport", "Приёмник не найден: подключите RTL-SDR к порту USB и перезапустите программу");
const char* const kOpenFailedText = QT_TRANSLATE_NOOP("ReceiverReport", "Не удалось открыть приёмник ");

namespace {

// The report's own words in the chosen language; the values beside them go
// in as the receiver gave them.
struct Text {
  Q_DECLARE_TR_FUNCTIONS(ReceiverReport)
};

std::string U(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

std::vector<std::string> FormatReceiverReport(const ReceiverReport& r) {
  using Outcome = ReceiverReport::Outcome;
  std::vector<std::string> out;
  if (r.outcome == Outcome::LibraryMissing) {
    std::string text = r.loadFailure.empty()
                           ? EngineText(kLibraryMissingText) + r.libraryFile
                           : EngineText(kLibraryUnloadableText) + r.libraryFile + " (" + r.loadFailure + ")";
    if (r.libraryLoaded) text += U(Text::tr(" (нет функций: ")) + r.missingEntryPoints + ")";
    out.push_back(std::move(text));
    return out;
  }

  out.push_back(U(Text::tr("Кол-во донглов RTL в ОС: ")) + rt::FormatInt(static_cast<int32_t>(r.deviceCount)));
  for (const ReceiverReport::Device& d : r.devices) {
    out.push_back(U(Text::tr("Имя: ")) + d.name);
    out.push_back(U(Text::tr("Производитель: ")) + d.manufacturer + "\r\n" + U(Text::tr("Продукт: ")) + d.product +
                  "\r\n" + U(Text::tr("Серийник: ")) + d.serial);
  }
  if (r.outcome == Outcome::NoReceiver) {
    out.push_back(U(Text::tr(kNoReceiverText)));
    return out;
  }
  if (r.outcome == Outcome::OpenFailed && !r.servedFrom.empty()) {
    out.push_back(RemoteOpenFailedText(r.servedFrom, r.openResult));
    return out;
  }
  if (r.outcome == Outcome::OpenFailed) {
    out.push_back(U(Text::tr(kOpenFailedText)) + rt::FormatInt(r.index) + U(Text::tr(" (код ошибки rtlsdr_open: ")) +
                  rt::FormatInt(r.openResult) + ")");
    return out;
  }

  // Where a remote stick is: the values below are what its server says.
  if (!r.servedFrom.empty()) out.push_back(U(Text::tr("Приёмник по сети, сервер rtl_tcp: ")) + r.servedFrom);
  out.push_back(U(Text::tr("Чип: ")) + api_rtl_sdr::TunerName(r.tuner) + "\r\n");
  out.push_back(U(Text::tr("Полоса: ")) + rt::FormatInt(r.sampleRate) + " Hz");
  out.push_back(U(Text::tr("Доступные коэффициенты усиления, дБ:")));
  std::string gainText;
  for (int g : r.gains) gainText += rt::FormatFixed(g / 10.0, 1) + " ";
  out.push_back(gainText + "\r\n");
  out.push_back("PPM: " + rt::FormatInt(r.freqCorrection));
  out.push_back(U(Text::tr("Шаг по частоте, Hz: ")) + rt::FormatFixed(r.binWidth, 2));
  out.push_back(U(Text::tr("Кол-во точек FFT: ")) + rt::FormatInt(r.fftSize));
  // Sticks that share the range with the first, each on a line of its own.
  for (std::string& line : FormatSharingSticks(r)) out.push_back(std::move(line));
  return out;
}

std::vector<std::string> FormatSharingSticks(const ReceiverReport& r) {
  std::vector<std::string> out;
  for (const ReceiverReport::Stick& s : r.others) {
    const QString index = QString::number(s.index), serial = QString::fromStdString(s.serial);
    if (!s.servedFrom.empty() && s.openResult < 0)
      out.push_back(RemoteOpenFailedText(s.servedFrom, s.openResult));
    else if (!s.servedFrom.empty())
      out.push_back(U(Text::tr("Приёмник %1: %2, PPM: %3")
                          .arg(serial, QString::fromStdString(api_rtl_sdr::TunerName(s.tuner)),
                               QString::number(s.freqCorrection))));
    else if (s.openResult < 0)
      out.push_back(U(Text::tr("Приёмник %1, серийник %2: не открылся (код ошибки rtlsdr_open: %3)")
                          .arg(index, serial, QString::number(s.openResult))));
    else
      out.push_back(U(Text::tr("Приёмник %1, серийник %2: %3, PPM: %4")
                          .arg(index, serial, QString::fromStdString(api_rtl_sdr::TunerName(s.tuner)),
                               QString::number(s.freqCorrection))));
  }
  return out;
}

}  // namespace wg
