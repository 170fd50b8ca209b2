// The sweep as the window shows it on the simulated receiver: frequencies the
// tuner cannot reach, and a receiver that stops responding.
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "sweep/SweepEngine.h"
#include "tests/ui/FormFixture.h"

#include <QTest>

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;
using SweepWindowTest = FormTest;

template <class F>
std::chrono::steady_clock::duration Timed(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::steady_clock::now() - t0;
}

// The simulated tuner locks up to 1766 MHz: of 1760-1775 MHz the steps at
// 1761.6 and 1764.8 MHz are measured, those at 1768, 1771.2 and 1774.4 MHz
// are a gap, and the log says so once for the range.
TEST_F(SweepWindowTest, UntunableStepsAreAGapWithOneLogLine) {
  MainWindow& f = Open();
  const int before = static_cast<int>(Lines().size());
  f.StopFreqEdit->SetValue(1775);
  f.StartFreqEdit->SetValue(1760);
  ASSERT_EQ(f.Series1->PointCount(), 19200);
  const auto shown = [&] { return f.Series1->PointX(0) == 1760000000 && std::isnan(f.Series1->PointY(19199)); };
  for (int i = 0; i < 200 && !shown(); ++i) QTest::qWait(20);
  ASSERT_TRUE(shown());
  QTest::qWait(300);  // more sweeps of the same range
  for (int i = 0; i < 19200; ++i) {
    ASSERT_EQ(f.Series1->PointX(i), 1760000000 + i * 781.25) << i;
    ASSERT_EQ(std::isnan(f.Series1->PointY(i)), i >= 8192) << i;
  }
  const QStringList lines = Lines();
  ASSERT_EQ(lines.size(), before + 1) << f.reportLog->toPlainText().toStdString();
  EXPECT_EQ(lines.back(), QString::fromUtf8(wg::kUntunedText) + QString::fromUtf8("1766.4–1775"));
  EXPECT_TRUE(f.Sweep().Running());
}

// The read hangs from the fourth block on: edits before and after the
// watchdog noticed, and the close, each keep the window's thread under
// 100 ms, and one line says the receiver does not respond.
TEST_F(SweepWindowTest, AHungReceiverNeverHoldsTheWindow) {
  ::setenv("RTLSDR_SIM_FAULT", "hang", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "3", 1);
  MainWindow& f = Open();
  ::unsetenv("RTLSDR_SIM_FAULT");
  ::unsetenv("RTLSDR_SIM_FAULT_AFTER");
  QTest::qWait(200);  // three blocks of 20.48 ms, then the read that hangs
  EXPECT_LT(Timed([&] { f.StartFreqEdit->SetValue(140); }), 100ms);
  EXPECT_LT(Timed([&] { f.StartFreqEdit->SetValue(141); }), 100ms);
  const QString lost = QString::fromUtf8(wg::kReceiverLostText);
  for (int i = 0; i < 150 && !Lines().contains(lost); ++i) QTest::qWait(20);
  EXPECT_EQ(Lines().count(lost), 1) << f.reportLog->toPlainText().toStdString();
  EXPECT_TRUE(f.Sweep().WorkerAbandoned());
  EXPECT_LT(Timed([&] { f.StopFreqEdit->SetValue(160); }), 100ms);
  EXPECT_FALSE(f.Sweep().Running());
  EXPECT_EQ(f.Series1->PointCount(), 24320);
  EXPECT_LT(Timed([&] { form_.reset(); }), 100ms);
}

}  // namespace
