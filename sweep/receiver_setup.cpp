// The receiver set-up and report: lists the receivers, opens receiver 0,
// configures it, writes the report to the log pane and starts the sweep.
#include <algorithm>
#include <cstring>

#include "api_rtl_sdr.h"
#include "numtext.h"
#include "fft_levels.h"
#include "sweep_engine.h"

namespace wg {
namespace {

namespace api = api_rtl_sdr;

// A USB text buffer read up to its first zero byte, never past its end.
std::string BufferText(const char (&buf)[256]) { return std::string(buf, strnlen(buf, sizeof buf)); }

// Names of the entry points that the set-up and the sweep call but the
// library did not provide.
std::string MissingEntryPoints() {
  const struct {
    const char* name;
    bool present;
  } needed[] = {
      {"rtlsdr_get_device_count", api::rtlsdr_get_device_count != nullptr},
      {"rtlsdr_get_device_name", api::rtlsdr_get_device_name != nullptr},
      {"rtlsdr_get_device_usb_strings", api::rtlsdr_get_device_usb_strings != nullptr},
      {"rtlsdr_open", api::rtlsdr_open != nullptr},
      {"rtlsdr_set_center_freq", api::rtlsdr_set_center_freq != nullptr},
      {"rtlsdr_set_freq_correction", api::rtlsdr_set_freq_correction != nullptr},
      {"rtlsdr_get_freq_correction", api::rtlsdr_get_freq_correction != nullptr},
      {"rtlsdr_get_tuner_type", api::rtlsdr_get_tuner_type != nullptr},
      {"rtlsdr_get_tuner_gains", api::rtlsdr_get_tuner_gains != nullptr},
      {"rtlsdr_set_tuner_gain_mode", api::rtlsdr_set_tuner_gain_mode != nullptr},
      {"rtlsdr_set_sample_rate", api::rtlsdr_set_sample_rate != nullptr},
      {"rtlsdr_get_sample_rate", api::rtlsdr_get_sample_rate != nullptr},
      {"rtlsdr_reset_buffer", api::rtlsdr_reset_buffer != nullptr},
      {"rtlsdr_read_sync", api::rtlsdr_read_sync != nullptr},
  };
  std::string missing;
  for (const auto& n : needed) {
    if (n.present) continue;
    if (!missing.empty()) missing += ", ";
    missing += n.name;
  }
  return missing;
}

}  // namespace

void TSweepEngine::ReceiverSetup(TSweepAxis& bottomAxis) {
  // Without every entry point it calls, the set-up says which file it looked
  // for and stops before touching the library.
  const std::string missing = MissingEntryPoints();
  if (!missing.empty()) {
    std::string text = kLibraryMissingText + ReceiverLibraryFile();
    if (api::Loaded()) text += " (нет функций: " + missing + ")";
    Log(text);
    return;
  }

  api::device_count = api::rtlsdr_get_device_count();
  Log("Кол-во донглов RTL в ОС: " + rt::FormatInt(static_cast<int32_t>(api::device_count)));
  for (uint32_t i = 0; i < api::device_count; ++i) {
    const char* name = api::rtlsdr_get_device_name(i);
    Log("Имя: " + std::string(name ? name : ""));
    // Cleared first so that a failed call shows nothing rather than the
    // previous receiver's strings.
    std::memset(api::manufact, 0, sizeof api::manufact);
    std::memset(api::product, 0, sizeof api::product);
    std::memset(api::serial, 0, sizeof api::serial);
    api::rtlsdr_get_device_usb_strings(i, api::manufact, api::product, api::serial);
    Log("Производитель: " + BufferText(api::manufact) + "\r\nПродукт: " + BufferText(api::product) +
        "\r\nСерийник: " + BufferText(api::serial));
  }
  if (api::device_count == 0) return;

  // Any failure to open ends the set-up; the library is never called with a
  // handle it did not give.
  if (api::rtlsdr_open(&api::dev, 0) < 0 || !api::dev) return;

  const auto tuner = static_cast<uint8_t>(api::rtlsdr_get_tuner_type(api::dev));
  Log("Чип: " + api::TunerName(tuner) + "\r\n");

  SetSampleRate(kDefaultSampleRate);
  api::rtlsdr_set_sample_rate(api::dev, static_cast<uint32_t>(sampleRate_));
  const uint32_t readBack = api::rtlsdr_get_sample_rate(api::dev);
  Log("Полоса: " + rt::FormatInt(readBack) + " Hz");

  Log("Доступные коэффициенты усиления, дБ:");
  const int gainCount = api::rtlsdr_get_tuner_gains(api::dev, api::gains);
  const int shown = std::min(gainCount, static_cast<int>(std::size(api::gains)));
  std::string gainText;
  for (int i = 0; i < shown; ++i) gainText += rt::FormatFixed(api::gains[i] / 10.0, 1) + " ";
  Log(gainText + "\r\n");

  api::rtlsdr_set_tuner_gain_mode(api::dev, 364);
  api::rtlsdr_set_freq_correction(api::dev, 2700);
  Log("PPM: " + rt::FormatInt(api::rtlsdr_get_freq_correction(api::dev)));

  SetBinWidth(readBack / 4096.0);
  Log("Шаг по частоте, Hz: " + rt::FormatFixed(binWidth_, 2));
  Log("Кол-во точек FFT: " + rt::FormatInt(kFftSize));

  EndWorker();  // the set-up normally runs before any worker; never two
  Reset();
  PrepareSeries();
  Start();

  bottomAxis.SetAutomatic(false);
  bottomAxis.SetMaximum(static_cast<double>(stop_));
  bottomAxis.SetMinimum(static_cast<double>(start_));
}

}  // namespace wg
