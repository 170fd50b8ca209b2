#include "ReceiverReport.h"

#include "api_rtl_sdr.h"
#include "numtext.h"
#include "sweep_engine.h"

namespace wg {

const char* const kNoReceiverText =
    "Приёмник не найден: подключите RTL-SDR к порту USB и перезапустите программу";
const char* const kOpenFailedText = "Не удалось открыть приёмник ";

std::vector<std::string> FormatReceiverReport(const ReceiverReport& r) {
  using Outcome = ReceiverReport::Outcome;
  std::vector<std::string> out;
  if (r.outcome == Outcome::LibraryMissing) {
    std::string text = r.loadFailure.empty()
                           ? kLibraryMissingText + r.libraryFile
                           : kLibraryUnloadableText + r.libraryFile + " (" + r.loadFailure + ")";
    if (r.libraryLoaded) text += " (нет функций: " + r.missingEntryPoints + ")";
    out.push_back(std::move(text));
    return out;
  }

  out.push_back("Кол-во донглов RTL в ОС: " + rt::FormatInt(static_cast<int32_t>(r.deviceCount)));
  for (const ReceiverReport::Device& d : r.devices) {
    out.push_back("Имя: " + d.name);
    out.push_back("Производитель: " + d.manufacturer + "\r\nПродукт: " + d.product + "\r\nСерийник: " + d.serial);
  }
  if (r.outcome == Outcome::NoReceiver) {
    out.push_back(kNoReceiverText);
    return out;
  }
  if (r.outcome == Outcome::OpenFailed) {
    out.push_back(kOpenFailedText + rt::FormatInt(r.index) + " (код ошибки rtlsdr_open: " +
                  rt::FormatInt(r.openResult) + ")");
    return out;
  }

  out.push_back("Чип: " + api_rtl_sdr::TunerName(r.tuner) + "\r\n");
  out.push_back("Полоса: " + rt::FormatInt(r.sampleRate) + " Hz");
  out.push_back("Доступные коэффициенты усиления, дБ:");
  std::string gainText;
  for (int g : r.gains) gainText += rt::FormatFixed(g / 10.0, 1) + " ";
  out.push_back(gainText + "\r\n");
  out.push_back("PPM: " + rt::FormatInt(r.freqCorrection));
  out.push_back("Шаг по частоте, Hz: " + rt::FormatFixed(r.binWidth, 2));
  out.push_back("Кол-во точек FFT: " + rt::FormatInt(r.fftSize));
  return out;
}

}  // namespace wg
