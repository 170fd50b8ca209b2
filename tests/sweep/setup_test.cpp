// The receiver set-up and report against the scripted fake receiver, and with
// the library absent or incomplete.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <memory>

#include "api_rtl_sdr.h"
#include "fake_rtlsdr.h"
#include "numtext.h"
#include "sweep_engine.h"
#include "sweep_test_support.h"

using wg::TSweepEngine;

namespace {

const char* const kR820TGains =
    "0.0 0.9 1.4 2.7 3.7 7.7 8.7 12.5 14.4 15.7 16.6 19.7 20.7 22.9 25.4 28.0 29.7 32.8 33.8 36.4 "
    "37.2 38.6 40.2 42.1 43.4 43.9 44.5 48.0 49.6 \r\n";

class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetDecimalSeparator('.');
    fake::Install();
    engine = std::make_unique<TSweepEngine>(&series, ui.Poster(),
                                            [this](const std::string& s) { log.push_back(s); });
  }
  void TearDown() override {
    engine.reset();
    fake::Uninstall();
    api_rtl_sdr::Unload();
  }
  std::vector<std::string> SetupCalls() {
    std::vector<std::string> out;
    for (const auto& c : fake::Calls()) {
      if (c.rfind("center", 0) == 0) break;  // the sweep has begun
      out.push_back(c);
    }
    return out;
  }

  wgtest::UiQueue ui;
  wgtest::TestSeries series;
  wgtest::TestAxis axis;
  std::vector<std::string> log;
  std::unique_ptr<TSweepEngine> engine;
};

TEST_F(Setup, OneReceiverReportOpensConfiguresAndStartsTheSweep) {
  engine->ReceiverSetup(axis);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "Кол-во донглов RTL в ОС: 1",
                     "Имя: Generic RTL2832U OEM",
                     "Производитель: Realtek\r\nПродукт: RTL2838UHIDIR\r\nСерийник: 00000001",
                     "Чип: RTLSDR_TUNER_R820T\r\n",
                     "Полоса: 3200000 Hz",
                     "Доступные коэффициенты усиления, дБ:",
                     kR820TGains,
                     "PPM: 2700",
                     "Шаг по частоте, Hz: 781.25",
                     "Кол-во точек FFT: 4096",
                 }));
  EXPECT_TRUE(engine->Running());
  ASSERT_TRUE(fake::WaitReads(1, std::chrono::seconds(5)));
  engine->Stop();
  EXPECT_EQ(SetupCalls(), (std::vector<std::string>{"count", "name 0", "usb 0", "open 0", "tuner",
                                                    "rate 3200000", "get_rate", "gains", "gain_mode 364",
                                                    "set_ppm 2700", "get_ppm"}));
  EXPECT_EQ(fake::Centres().at(0), 139600000u);
  EXPECT_EQ(api_rtl_sdr::dev, fake::Handle());
  EXPECT_EQ(api_rtl_sdr::device_count, 1u);
  EXPECT_EQ(engine->BinWidth(), 781.25);
  ASSERT_EQ(series.PointCount(), 19200);
  EXPECT_EQ(series.colours[0], wg::kSweepRed);
  EXPECT_EQ(axis.calls,
            (std::vector<std::string>{"Automatic false", "Maximum 153000000", "Minimum 138000000"}));
}

TEST_F(Setup, TwoReceiversAreBothListedAndOnlyTheFirstIsOpened) {
  fake::script().devices.push_back({"Second stick", "NooElec", "NESDR SMArt", "00000777"});
  engine->ReceiverSetup(axis);
  engine->Stop();
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[0], "Кол-во донглов RTL в ОС: 2");
  EXPECT_EQ(log[1], "Имя: Generic RTL2832U OEM");
  EXPECT_EQ(log[3], "Имя: Second stick");
  EXPECT_EQ(log[4], "Производитель: NooElec\r\nПродукт: NESDR SMArt\r\nСерийник: 00000777");
  EXPECT_EQ(log[5], "Чип: RTLSDR_TUNER_R820T\r\n");
  const auto calls = SetupCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "open 0"), 1);
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("open", 0) == 0; }), 1);
}

TEST_F(Setup, NoReceiverWritesTheCountOnly) {
  fake::script().devices.clear();
  engine->ReceiverSetup(axis);
  EXPECT_EQ(log, std::vector<std::string>{"Кол-во донглов RTL в ОС: 0"});
  EXPECT_FALSE(engine->Running());
  EXPECT_TRUE(axis.calls.empty());
  EXPECT_EQ(series.PointCount(), 0);
  EXPECT_EQ(SetupCalls(), std::vector<std::string>{"count"});
}

TEST_F(Setup, FailedOpenWritesTheListOnlyAndStartsNothing) {
  for (int result : {-1, -3}) {
    fake::Install();
    log.clear();
    fake::script().openResult = result;
    engine->ReceiverSetup(axis);
    EXPECT_EQ(log.size(), 3u) << result;
    EXPECT_FALSE(engine->Running());
    EXPECT_TRUE(axis.calls.empty());
    EXPECT_EQ(SetupCalls().back(), "open 0");
  }
}

TEST_F(Setup, LibraryAbsentNamesTheFileAndCallsNothing) {
  fake::Uninstall();
  engine->ReceiverSetup(axis);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind(wg::kLibraryMissingText, 0), 0u);
  const std::string file = log[0].substr(std::string(wg::kLibraryMissingText).size());
  EXPECT_EQ(file, wg::ReceiverLibraryFile());
  EXPECT_TRUE(file.ends_with("/plugins/librtlsdr.so")) << file;
  EXPECT_FALSE(engine->Running());
  EXPECT_TRUE(axis.calls.empty());
}

TEST_F(Setup, MissingEntryPointStopsBeforeTheFirstCall) {
  api_rtl_sdr::rtlsdr_read_sync = nullptr;
  engine->ReceiverSetup(axis);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind(wg::kLibraryMissingText, 0), 0u);
  EXPECT_TRUE(fake::Calls().empty());
}

// A real file that exports only a few of the names: loaded, but incomplete.
TEST_F(Setup, LibraryLackingNamesSaysWhichAreMissing) {
  fake::Uninstall();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("wg-setup-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(WG_LACKING_LIB, dir / "librtlsdr.so",
                             std::filesystem::copy_options::overwrite_existing);
  const auto cwd = std::filesystem::current_path();
  api_rtl_sdr::LoadFrom(dir.string());
  ASSERT_TRUE(api_rtl_sdr::Loaded());
  engine->ReceiverSetup(axis);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], std::string(wg::kLibraryMissingText) + (dir / "librtlsdr.so").string() +
                        " (нет функций: rtlsdr_get_device_usb_strings, rtlsdr_open, "
                        "rtlsdr_set_center_freq, rtlsdr_set_freq_correction, "
                        "rtlsdr_get_freq_correction, rtlsdr_get_tuner_type, "
                        "rtlsdr_get_tuner_gains, rtlsdr_set_tuner_gain_mode, "
                        "rtlsdr_set_sample_rate, rtlsdr_get_sample_rate, rtlsdr_read_sync)");
  EXPECT_FALSE(engine->Running());
  api_rtl_sdr::Unload();
  std::filesystem::current_path(cwd);
  std::filesystem::remove_all(dir);
}

TEST_F(Setup, TunerNumbersGainsAndReadBackRateAsTheLibraryGivesThem) {
  fake::script().tunerType = 9;
  fake::script().gains = {-10, 15, 402};
  fake::script().rateReadBack = 2400000;
  engine->ReceiverSetup(axis);
  engine->Stop();
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[3], "Чип: 9\r\n");
  EXPECT_EQ(log[4], "Полоса: 2400000 Hz");
  EXPECT_EQ(log[6], "-1.0 1.5 40.2 \r\n");
  EXPECT_EQ(log[8], "Шаг по частоте, Hz: 585.94");
  EXPECT_EQ(engine->BinWidth(), 585.9375);

  for (int result : {0, -1}) {
    fake::Install();
    log.clear();
    fake::script().gainsResult = result;
    engine->ReceiverSetup(axis);
    engine->Stop();
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(log[6], "\r\n") << result;
  }
}

// Under a locale whose decimal separator is a comma the report still prints
// points.
TEST_F(Setup, CommaLocaleStillPrintsPoints) {
  const char* got = std::setlocale(LC_ALL, "ru_RU.UTF-8");
  if (!got) got = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (!got) GTEST_SKIP() << "no comma locale installed";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.1f", 1.5);
  ASSERT_STREQ(buf, "1,5");  // the locale really is a comma one
  fake::script().rateReadBack = 2400000;
  engine->ReceiverSetup(axis);
  engine->Stop();
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[6], kR820TGains);
  EXPECT_EQ(log[8], "Шаг по частоте, Hz: 585.94");
}

}  // namespace
