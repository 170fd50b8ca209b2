// The main window as a user meets it: start-up report, editors, scan range
// changes, keys and resizing.
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "receiver/api_rtl_sdr.h"
#include "runtime/Beep.h"
#include "runtime/NumText.h"
#include "sweep/SweepEngine.h"
#include "tests/ui/FormFixture.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <unistd.h>
#include <memory>

namespace {

using WindowTest = FormTest;

TEST_F(WindowTest, StartUpWritesTheReportAndStartsSweeping) {
  MainWindow& f = Open();
  const QStringList lines = Lines();
  ASSERT_GE(lines.size(), 14) << f.reportLog->toPlainText().toStdString();
  EXPECT_EQ(lines[0], QString::fromUtf8("Кол-во донглов RTL в ОС: 1"));
  EXPECT_EQ(lines[1], QString::fromUtf8("Имя: Generic RTL2832U OEM"));
  EXPECT_EQ(lines[2], QString::fromUtf8("Производитель: Realtek"));
  EXPECT_EQ(lines[3], QString::fromUtf8("Продукт: RTL2838UHIDIR"));
  EXPECT_EQ(lines[4], QString::fromUtf8("Серийник: 00000001"));
  EXPECT_EQ(lines[5], QString::fromUtf8("Чип: RTLSDR_TUNER_R820T"));
  EXPECT_EQ(lines[6], QString());
  EXPECT_EQ(lines[7], QString::fromUtf8("Полоса: 3200000 Hz"));
  EXPECT_EQ(lines[8], QString::fromUtf8("Доступные коэффициенты усиления, дБ:"));
  EXPECT_TRUE(lines[9].startsWith("0.0 0.9 1.4 2.7 ")) << lines[9].toStdString();
  EXPECT_TRUE(lines[9].endsWith("48.0 49.6 ")) << lines[9].toStdString();
  EXPECT_EQ(lines[10], QString());
  EXPECT_EQ(lines[11], QString::fromUtf8("PPM: 2700"));
  EXPECT_EQ(lines[12], QString::fromUtf8("Шаг по частоте, Hz: 781.25"));
  EXPECT_EQ(lines[13], QString::fromUtf8("Кол-во точек FFT: 4096"));

  EXPECT_EQ(f.windowTitle(), QStringLiteral("  vodr_Wideglass for RTL-SDR"));
  EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("138"));
  EXPECT_EQ(f.StopFreqEdit->text(), QStringLiteral("153"));
  EXPECT_EQ(f.StartFreqEdit->geometry(), QRect(49, 7, 65, 19));
  EXPECT_EQ(f.StopFreqEdit->geometry(), QRect(117, 7, 65, 19));
  EXPECT_EQ(f.Series1->PointCount(), 19200);
  EXPECT_FALSE(f.Chart1->BottomAxis()->Automatic());
  EXPECT_EQ(f.Chart1->BottomAxis()->Minimum(), 138000000);
  EXPECT_EQ(f.Chart1->BottomAxis()->Maximum(), 153000000);
  EXPECT_TRUE(f.Sweep().Running());

  // A few sweeps reach the series: the first point sits at the range's start.
  for (int i = 0; i < 100 && f.Series1->PointX(0) == 0; ++i) QTest::qWait(20);
  EXPECT_EQ(f.Series1->PointX(0), 138000000);
  EXPECT_EQ(f.Series1->PointX(19199), 138000000 + 19199 * 781.25);
}

TEST_F(WindowTest, WithoutTheLibraryTheWindowStillOpens) {
  MainWindow& f = Open(nullptr);
  const QString text = f.reportLog->toPlainText();
  EXPECT_TRUE(text.contains("librtlsdr.so")) << text.toStdString();
  EXPECT_EQ(text.count('\n'), 0) << "one line only";
  ASSERT_NE(f.StartFreqEdit, nullptr);
  EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("138"));
  EXPECT_FALSE(f.Sweep().Running());
  // Editing the range does not start a sweep without a receiver.
  f.StartFreqEdit->SetValue(140);
  EXPECT_FALSE(f.Sweep().Running());
  EXPECT_EQ(f.Chart1->BottomAxis()->Minimum(), 140000000);
}

// A file that is there but is no library says so, with the system's reason,
// instead of claiming that nothing was found; a range change says it again.
TEST_F(WindowTest, AnUnloadableLibraryIsNamedWithTheReason) {
  char tmpl[] = "/tmp/wg-not-a-library-XXXXXX";
  const int fd = ::mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "not a library\n", 14), 14);
  ::close(fd);
  MainWindow& f = Open(tmpl);
  std::remove(tmpl);
  const std::string file = (dir_ / "plugins" / "librtlsdr.so").string();
  const QStringList lines = Lines();
  ASSERT_EQ(lines.size(), 1) << f.reportLog->toPlainText().toStdString();
  EXPECT_EQ(lines[0].toStdString(), "Библиотека приёмника не может быть загружена: " + file + " (" +
                                        api_rtl_sdr::FailureReason() + ")");
  EXPECT_FALSE(api_rtl_sdr::FailureReason().empty());
  f.StartFreqEdit->SetValue(140);
  EXPECT_EQ(Lines().size(), 2);
  EXPECT_EQ(Lines().last(), lines[0]);
}

TEST_F(WindowTest, ALibraryLackingNamesIsNeverCalledThroughANullEntry) {
  MainWindow& f = Open(WG_PARTIAL_LIB);
  EXPECT_TRUE(f.reportLog->toPlainText().contains("librtlsdr.so"));
  EXPECT_FALSE(f.Sweep().Running());
}

TEST_F(WindowTest, CommaLocaleStillShowsPoints) {
  if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") && !std::setlocale(LC_ALL, "de_DE.UTF-8"))
    GTEST_SKIP() << "no comma locale installed";
  QLocale::setDefault(QLocale(QLocale::Russian));
  MainWindow& f = Open();
  EXPECT_TRUE(f.reportLog->toPlainText().contains(QString::fromUtf8("Шаг по частоте, Hz: 781.25")));
  EXPECT_TRUE(f.reportLog->toPlainText().contains("0.0 0.9 1.4"));
  f.StartFreqEdit->SetValue(88.6);
  EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("88.6"));
  EXPECT_EQ(f.Sweep().StartFrequency(), 88600000);
  std::setlocale(LC_ALL, "C");
  QLocale::setDefault(QLocale::c());
}

TEST_F(WindowTest, RangeEditsFollowTheWorkedValues) {
  MainWindow& f = Open();
  int runs = 0;
  f.Series1->OnClearValues = [&](wg::TChartSeries&) { ++runs; };

  f.StartFreqEdit->SetValue(152.5);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(f.StopFreqEdit->text(), QStringLiteral("153.5"));
  EXPECT_EQ(f.Sweep().StartFrequency(), 152500000);
  EXPECT_EQ(f.Sweep().StopFrequency(), 153500000);
  EXPECT_EQ(f.Series1->PointCount(), 1280);
  EXPECT_EQ(f.Chart1->BottomAxis()->Minimum(), 152500000);
  EXPECT_EQ(f.Chart1->BottomAxis()->Maximum(), 153500000);
  EXPECT_TRUE(f.Sweep().Running());

  f.StopFreqEdit->SetValue(153);
  f.StartFreqEdit->SetValue(160);
  EXPECT_EQ(f.StopFreqEdit->text(), QStringLiteral("161"));
  EXPECT_EQ(f.Sweep().StartFrequency(), 160000000);
  EXPECT_EQ(f.Sweep().StopFrequency(), 161000000);
  EXPECT_TRUE(f.Sweep().Running());

  f.StartFreqEdit->SetValue(88.6);
  EXPECT_EQ(f.Sweep().StartFrequency(), 88600000);

  // Text that is no number changes nothing.
  f.StartFreqEdit->setText(QString());
  EXPECT_EQ(f.Sweep().StartFrequency(), 88600000);

  // The whole editor range works, up to 4000 MHz.
  f.StopFreqEdit->SetValue(4000);
  f.StartFreqEdit->SetValue(3990);
  EXPECT_EQ(f.Sweep().StartFrequency(), 3990000000LL);
  EXPECT_EQ(f.Sweep().StopFrequency(), 4000000000LL);
  EXPECT_EQ(f.Series1->PointCount(), 12800);

  // One handler run per up-arrow step.
  f.StartFreqEdit->SetValue(138);
  f.StopFreqEdit->SetValue(153);
  runs = 0;
  f.StartFreqEdit->setFocus();
  QTest::keyClick(f.StartFreqEdit, Qt::Key_Up);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("138.1"));
  EXPECT_EQ(f.Sweep().StartFrequency(), 138100000);
}

TEST_F(WindowTest, ANewRangeMovesTheAxisBackFromAnywhere) {
  MainWindow& f = Open();
  for (int i = 0; i < 40; ++i) MainWindow::ScrollHorizontalAxes(f.Chart1, 5);
  ASSERT_GT(f.Chart1->BottomAxis()->Minimum(), 153000000);
  f.StartFreqEdit->StepDown();
  EXPECT_EQ(f.Chart1->BottomAxis()->Minimum(), 137900000);
  EXPECT_EQ(f.Chart1->BottomAxis()->Maximum(), 153000000);
  EXPECT_TRUE(f.Sweep().Running());
}

TEST_F(WindowTest, KeysReachTheWindowFromEveryControl) {
  MainWindow& f = Open();
  wg::TChartAxis* bottom = f.Chart1->BottomAxis();
  f.reportLog->setFocus();
  QTest::keyClick(f.reportLog, Qt::Key_Right);
  EXPECT_EQ(bottom->Minimum(), 138750000);
  EXPECT_EQ(bottom->Maximum(), 153750000);
  QTest::keyClick(f.reportLog, Qt::Key_Left);
  EXPECT_EQ(bottom->Minimum(), 138000000);

  // In an editor the arrow scrolls the level axis and steps the editor too.
  wg::TChartAxis* left = f.Chart1->LeftAxis();
  f.StopFreqEdit->setFocus();
  QTest::keyClick(f.StopFreqEdit, Qt::Key_Up);
  EXPECT_EQ(left->Minimum(), -112.75);
  EXPECT_EQ(left->Maximum(), 32.25);
  EXPECT_EQ(f.StopFreqEdit->text(), QStringLiteral("153.1"));
}

TEST_F(WindowTest, PlusInAnEditorZoomsTheChartAndTheWheelThereScrollsIt) {
  MainWindow& f = Open();
  wg::TChartAxis* left = f.Chart1->LeftAxis();
  wg::TChartAxis* bottom = f.Chart1->BottomAxis();
  rt::ResetBeepCount();
  f.StopFreqEdit->setFocus();
  f.StopFreqEdit->setCursorPosition(0);
  QTest::keyClick(f.StopFreqEdit, Qt::Key_Plus, Qt::KeypadModifier);
  EXPECT_EQ(left->Minimum(), -91);
  EXPECT_EQ(left->Maximum(), -4);
  // The editor takes the sign too, without a beep; its change puts the
  // frequency axis back on the scan range.
  EXPECT_EQ(f.StopFreqEdit->text(), QStringLiteral("+153"));
  EXPECT_EQ(rt::BeepCount(), 0);
  EXPECT_EQ(bottom->Minimum(), 138000000);
  EXPECT_EQ(bottom->Maximum(), 153000000);

  // The editor leaves the wheel to the chart it sits on. Qt passes a wheel
  // on to the parent only when it comes from the window system, so it goes
  // in as one, past sendEvent (which would mark it as the program's own).
  const QPointF at(10, 10);
  QWheelEvent wheel(at, f.StopFreqEdit->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QSpontaneKeyEvent::setSpontaneous(&wheel);
  qApp->notify(f.StopFreqEdit, &wheel);
  const double step = (-4.0 - -91.0) * 3 * 0.01;
  EXPECT_EQ(left->Minimum(), -91 + step);
  EXPECT_EQ(left->Maximum(), -4 + step);
}

TEST_F(WindowTest, ResizingKeepsTheLeftPanelAndMovesTheLabel) {
  MainWindow& f = Open();
  f.resize(1000, 500);
  QApplication::processEvents();
  EXPECT_EQ(f.Panel2->geometry(), QRect(0, 0, 265, 500));
  EXPECT_EQ(f.reportLog->geometry(), QRect(8, 12, 249, 485));
  EXPECT_EQ(f.Chart1->size(), QSize(735, 500));
  EXPECT_EQ(f.Label2->geometry(), QRect(0, 185, 47, 11));
  EXPECT_EQ(f.StartFreqEdit->geometry(), QRect(49, 7, 65, 19));
  EXPECT_EQ(f.StopFreqEdit->geometry(), QRect(117, 7, 65, 19));
}

}  // namespace
