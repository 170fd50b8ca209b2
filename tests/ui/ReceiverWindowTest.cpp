// The window's receiver set-up on the simulated receiver: the failures it
// now names, a second set-up, and the receiver closed when the window goes.
#include "chart/Chart.h"
#include "sweep/ReceiverSetup.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReceiverReport.h"

#include <QTest>

namespace {

using ReceiverWindowTest = FormTest;

TEST_F(ReceiverWindowTest, NoReceiverOrAFailedOpenSaysSoInTheLog) {
  const struct {
    const char* variable;
    QStringList lines;
  } rows[] = {
      {"RTLSDR_SIM_DEVICES",
       {QString::fromUtf8("Кол-во донглов RTL в ОС: 0"), QString::fromUtf8(wg::kNoReceiverText)}},
      {"RTLSDR_SIM_OPEN_FAIL",
       {QString::fromUtf8("Кол-во донглов RTL в ОС: 1"), QString::fromUtf8("Имя: Generic RTL2832U OEM"),
        QString::fromUtf8("Производитель: Realtek"), QString::fromUtf8("Продукт: RTL2838UHIDIR"),
        QString::fromUtf8("Серийник: 00000001"),
        QString::fromUtf8("Не удалось открыть приёмник 0 (код ошибки rtlsdr_open: -1)")}},
  };
  for (const auto& row : rows) {
    qputenv(row.variable, row.variable == std::string("RTLSDR_SIM_DEVICES") ? "0" : "1");
    MainWindow& f = Open();
    qunsetenv(row.variable);
    EXPECT_EQ(Lines(), row.lines) << row.variable;
    EXPECT_FALSE(f.Sweep().Running());
    EXPECT_TRUE(f.Chart1->BottomAxis()->Automatic());
    TearDown();
    dir_.clear();
  }
}

TEST_F(ReceiverWindowTest, ASecondSetUpReopensAndClosingTheWindowClosesTheReceiver) {
  MainWindow& f = Open();
  f.SetUpReceiver();
  const QStringList lines = Lines();
  ASSERT_EQ(lines.size(), 28) << f.reportLog->toPlainText().toStdString();
  EXPECT_EQ(lines.mid(14), lines.mid(0, 14)) << "the same report again";
  EXPECT_TRUE(f.Sweep().Running());
  EXPECT_EQ(f.Receiver().Report().outcome, wg::ReceiverReport::Outcome::Opened);

  form_.reset();
  rtlsdr_dev_t* d = nullptr;
  ASSERT_EQ(api_rtl_sdr::rtlsdr_open(&d, 0), 0) << "the stick is free again";
  api_rtl_sdr::rtlsdr_close(d);
}

}  // namespace
