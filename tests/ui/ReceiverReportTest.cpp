// The receiver report as the window writes it, formatted from the set-up's
// record against the scripted receiver: the text of the written program, byte
// for byte, plus one line where the set-up used to stop in silence.
#include <gtest/gtest.h>

#include <clocale>
#include <functional>

#include "receiver/RtlTcpDevice.h"
#include "receiver/api_rtl_sdr.h"
#include "runtime/NumText.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "tests/sweep/FakeRtlSdr.h"
#include "tests/sweep/SweepTestSupport.h"
#include "ui/ReceiverReport.h"

namespace {

using Lines = std::vector<std::string>;

const std::string kR820TGains =
    "0.0 0.9 1.4 2.7 3.7 7.7 8.7 12.5 14.4 15.7 16.6 19.7 20.7 22.9 25.4 28.0 29.7 32.8 33.8 36.4 "
    "37.2 38.6 40.2 42.1 43.4 43.9 44.5 48.0 49.6 \r\n";
const Lines kOneReceiver{
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
};

Lines With(Lines lines, size_t at, const Lines& put, size_t replace = 0) {
  lines.erase(lines.begin() + at, lines.begin() + at + replace);
  lines.insert(lines.begin() + at, put.begin(), put.end());
  return lines;
}

class Report : public ::testing::Test {
 protected:
  void SetUp() override { rt::SetDecimalSeparator('.'); }
  void TearDown() override {
    setup.reset();
    engine.reset();
    fake::Uninstall();
  }
  Lines Run(const std::function<void(fake::Script&)>& edit) {
    fake::Install();
    if (edit) edit(fake::script());
    setup.reset();  // before the engine it stops
    engine = std::make_unique<wg::TSweepEngine>(&series, ui.Poster(), [](const std::string&) {});
    setup = std::make_unique<wg::TReceiverSetup>(*engine);
    const Lines lines = wg::FormatReceiverReport(setup->Run());
    engine->Stop();
    return lines;
  }
  wgtest::UiQueue ui;
  wgtest::TestSeries series;
  std::unique_ptr<wg::TSweepEngine> engine;
  std::unique_ptr<wg::TReceiverSetup> setup;
};

TEST_F(Report, TextAsTheWrittenProgramWroteIt) {
  const struct {
    const char* name;
    std::function<void(fake::Script&)> edit;
    Lines expected;
  } rows[] = {
      {"one receiver", {}, kOneReceiver},
      {"two receivers",
       [](fake::Script& s) { s.devices.push_back({"Second stick", "NooElec", "NESDR SMArt", "00000777"}); },
       With(With(kOneReceiver, 3, {"Имя: Second stick", "Производитель: NooElec\r\nПродукт: NESDR SMArt\r\nСерийник: 00000777"}),
            0, {"Кол-во донглов RTL в ОС: 2"}, 1)},
      {"no receiver", [](fake::Script& s) { s.devices.clear(); },
       {"Кол-во донглов RTL в ОС: 0", wg::kNoReceiverText}},
      {"open refused", [](fake::Script& s) { s.openResult = -6; },
       With(Lines(kOneReceiver.begin(), kOneReceiver.begin() + 3), 3,
            {"Не удалось открыть приёмник 0 (код ошибки rtlsdr_open: -6)"})},
      {"unnamed tuner, own gains and rate",
       [](fake::Script& s) {
         s.tunerType = 9;
         s.gains = {-10, 15, 402};
         s.rateReadBack = 2400000;
       },
       With(kOneReceiver, 3,
            {"Чип: 9\r\n", "Полоса: 2400000 Hz", "Доступные коэффициенты усиления, дБ:", "-1.0 1.5 40.2 \r\n",
             "PPM: 2700", "Шаг по частоте, Hz: 585.94"},
            6)},
      {"no gains", [](fake::Script& s) { s.gainsResult = -1; }, With(kOneReceiver, 6, {"\r\n"}, 1)},
      {"empty USB strings", [](fake::Script& s) { s.devices = {{"", "", "", ""}}; },
       With(kOneReceiver, 1, {"Имя: ", "Производитель: \r\nПродукт: \r\nСерийник: "}, 2)},
  };
  for (const auto& row : rows) EXPECT_EQ(Run(row.edit), row.expected) << row.name;

  fake::Uninstall();
  const Lines missing = wg::FormatReceiverReport(setup->Run());
  EXPECT_EQ(missing, Lines{wg::kLibraryMissingText + wg::ReceiverLibraryFile()});
}

// A stick served by rtl_tcp: the written lines with one saying where from;
// not reached, one line saying why; beside a local one, a line of its own.
TEST_F(Report, ARemoteReceiverSaysWhereItIsServedFrom) {
  Run({});
  wg::ReceiverReport r = setup->Report();
  r.servedFrom = "pi.local:1234";
  EXPECT_EQ(wg::FormatReceiverReport(r), With(kOneReceiver, 3, {"Приёмник по сети, сервер rtl_tcp: pi.local:1234"}));
  wg::ReceiverReport failed = r;
  failed.outcome = wg::ReceiverReport::Outcome::OpenFailed;
  failed.openResult = wg::kRtlTcpRefused;
  EXPECT_EQ(wg::FormatReceiverReport(failed),
            With(Lines(kOneReceiver.begin(), kOneReceiver.begin() + 3), 3,
                 {"Не удалось подключиться к приёмнику rtl_tcp=pi.local:1234: там никто не слушает"}));
  wg::ReceiverReport beside = setup->Report();
  beside.others = {{0, "rtl_tcp=pi.local:1234", "pi.local:1234", 0, 6, 0},
                   {0, "rtl_tcp=roof:1234", "roof:1234", wg::kRtlTcpNotRtlTcp, 0, 0}};
  EXPECT_EQ(wg::FormatReceiverReport(beside),
            With(kOneReceiver, kOneReceiver.size(),
                 {"Приёмник rtl_tcp=pi.local:1234: RTLSDR_TUNER_R828D, PPM: 0",
                  "Не удалось подключиться к приёмнику rtl_tcp=roof:1234: это не сервер rtl_tcp"}));
}

TEST_F(Report, CommaLocaleStillPrintsPoints) {
  const char* got = std::setlocale(LC_ALL, "ru_RU.UTF-8");
  if (!got) got = std::setlocale(LC_ALL, "de_DE.UTF-8");
  if (!got) GTEST_SKIP() << "no comma locale installed";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.1f", 1.5);
  ASSERT_STREQ(buf, "1,5");  // the locale really is a comma one
  const Lines lines = Run([](fake::Script& s) { s.rateReadBack = 2400000; });
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[6], kR820TGains);
  EXPECT_EQ(lines[8], "Шаг по частоте, Hz: 585.94");
}

}  // namespace
