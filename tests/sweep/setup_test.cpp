// The receiver set-up and report against the scripted fake receiver, and with
// the library absent or incomplete.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <memory>

#include "api_rtl_sdr.h"
#include "fake_rtlsdr.h"
#include "numtext.h"
#include "sweep_engine.h"
#include "sweep_test_support.h"

using wg::TSweepEngine;
using wgtest::kOneReceiverReport;

namespace {

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
  // A fresh fake with the script as `edit` leaves it, then the set-up.
  void RunSetup(const std::function<void(fake::Script&)>& edit = {}) {
    fake::Install();
    log.clear();
    axis.calls.clear();
    if (edit) edit(fake::script());
    engine->ReceiverSetup(axis);
    engine->Stop();
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
  EXPECT_EQ(log, kOneReceiverReport);
  EXPECT_TRUE(engine->Running());
  ASSERT_TRUE(fake::WaitReads(1, std::chrono::seconds(5)));
  engine->Stop();
  EXPECT_EQ(SetupCalls(), (std::vector<std::string>{"count", "name 0", "usb 0", "open 0", "tuner",
                                                    "rate 3200000", "get_rate", "gains", "gain_mode 364",
                                                    "set_ppm 2700", "get_ppm"}));
  EXPECT_EQ(fake::Centres().at(0), 139600000u);
  EXPECT_EQ(api_rtl_sdr::dev, fake::Handle());
  EXPECT_EQ(api_rtl_sdr::device_count, 1u);
  EXPECT_EQ(series.PointCount(), 19200);
  EXPECT_EQ(axis.calls, wgtest::kDefaultAxisCalls);
}

TEST_F(Setup, TwoNoneOrAFailingOpen) {
  RunSetup([](fake::Script& s) { s.devices.push_back({"Second stick", "NooElec", "NESDR SMArt", "00000777"}); });
  ASSERT_EQ(log.size(), 12u);
  EXPECT_EQ(log[0], "Кол-во донглов RTL в ОС: 2");
  EXPECT_EQ(log[3], "Имя: Second stick");
  EXPECT_EQ(log[4], "Производитель: NooElec\r\nПродукт: NESDR SMArt\r\nСерийник: 00000777");
  EXPECT_EQ(log[5], "Чип: RTLSDR_TUNER_R820T\r\n");
  const auto calls = SetupCalls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("open", 0) == 0; }), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "open 0"), 1);

  series.ResetPoints(0);
  RunSetup([](fake::Script& s) { s.devices.clear(); });
  EXPECT_EQ(log, std::vector<std::string>{"Кол-во донглов RTL в ОС: 0"});
  EXPECT_EQ(SetupCalls(), std::vector<std::string>{"count"});
  EXPECT_TRUE(axis.calls.empty());
  EXPECT_EQ(series.PointCount(), 0);

  for (int result : {-1, -3}) {
    RunSetup([result](fake::Script& s) { s.openResult = result; });
    EXPECT_EQ(log.size(), 3u) << result;
    EXPECT_EQ(SetupCalls().back(), "open 0");
    EXPECT_TRUE(axis.calls.empty());
    EXPECT_FALSE(engine->Running());
  }
}

// Absent, short of one entry point, or a real file that exports only a few
// names: one line naming the file, and no entry point is called.
TEST_F(Setup, MissingLibraryOrEntryPointsNameTheFileAndCallNothing) {
  fake::Uninstall();
  engine->ReceiverSetup(axis);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], wg::kLibraryMissingText + wg::ReceiverLibraryFile());
  EXPECT_TRUE(wg::ReceiverLibraryFile().ends_with("/plugins/librtlsdr.so")) << wg::ReceiverLibraryFile();

  fake::Install();
  log.clear();
  api_rtl_sdr::rtlsdr_read_sync = nullptr;
  engine->ReceiverSetup(axis);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind(wg::kLibraryMissingText, 0), 0u);
  EXPECT_TRUE(fake::Calls().empty());

  fake::Uninstall();
  log.clear();
  const auto dir = std::filesystem::temp_directory_path() / ("wg-setup-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(WG_LACKING_LIB, dir / "librtlsdr.so", std::filesystem::copy_options::overwrite_existing);
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
  EXPECT_TRUE(axis.calls.empty());
  api_rtl_sdr::Unload();
  std::filesystem::current_path(cwd);
  std::filesystem::remove_all(dir);
}

TEST_F(Setup, TunerNumbersGainsAndReadBackRateAsTheLibraryGivesThem) {
  RunSetup([](fake::Script& s) {
    s.tunerType = 9;
    s.gains = {-10, 15, 402};
    s.rateReadBack = 2400000;
  });
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[3], "Чип: 9\r\n");
  EXPECT_EQ(log[4], "Полоса: 2400000 Hz");
  EXPECT_EQ(log[6], "-1.0 1.5 40.2 \r\n");
  EXPECT_EQ(log[8], "Шаг по частоте, Hz: 585.94");
  EXPECT_EQ(engine->BinWidth(), 585.9375);
  for (int result : {0, -1}) {
    RunSetup([result](fake::Script& s) { s.gainsResult = result; });
    ASSERT_EQ(log.size(), 10u);
    EXPECT_EQ(log[6], "\r\n") << result;
  }
}

TEST_F(Setup, CommaLocaleStillPrintsPoints) {
  const char* got = std::setlocale(LC_ALL, "ru_RU.UTF-8");
  if (!got) got = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (!got) GTEST_SKIP() << "no comma locale installed";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.1f", 1.5);
  ASSERT_STREQ(buf, "1,5");  // the locale really is a comma one
  RunSetup([](fake::Script& s) { s.rateReadBack = 2400000; });
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(log.size(), 10u);
  EXPECT_EQ(log[6], kOneReceiverReport[6]);
  EXPECT_EQ(log[8], "Шаг по частоте, Hz: 585.94");
}

}  // namespace
