// A recording opened in the real window over the simulated receiver: the
// newest sweep on the chart, every sweep in the waterfall, the slider and
// the keys, the markers on recorded data, damage named in the log, and live
// sweeping stopped until "Back to live".
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "tests/ui/FormFixture.h"
#include "ui/KeepWhatWasSeen.h"
#include "ui/ReadTheAir.h"
#include "ui/RecordingView.h"
#include "ui/MainWindow.h"
#include "ui/waterfall/Waterfall.h"
#include "ui/waterfall/WaterfallSplitter.h"

#include <QAction>
#include <QElapsedTimer>
#include <QMenu>
#include <QProgressBar>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kSweeps = 30;
constexpr int64_t kLow = 144000000;
constexpr int kBins = 8;           // per step
constexpr double kBin = 400000;    // 3.2 MHz steps
constexpr int kCarrierBin = 8 + 5;  // of the sweep's 16

// Sweep n: every level -100 + n, a carrier 30 dB above at one bin; two steps.
double Level(int n, int bin) { return -100.0 + n + (bin == kCarrierBin ? 30 : 0); }

class RecordingViewTest : public FormTest {
 protected:
  void WriteRecording(const std::filesystem::path& p, bool damaged) {
    std::ofstream out(p);
    for (int n = 0; n < kSweeps; ++n) {
      char when[32];
      std::snprintf(when, sizeof when, "2026-12-07, 11:%02d:%02d", n / 60, n % 60);
      for (int step = 0; step < 2; ++step) {
        const int64_t low = kLow + step * 3200000;
        out << when << ", " << low << ", " << low + 3200000 << ", 400000.00, 10";
        for (int i = 0; i <= kBins; ++i) out << ", " << Level(n, step * kBins + std::min(i, kBins - 1)) << ".00";
        out << "\n";
      }
      if (damaged && n == 10) out << "this is no line of a recording\n";
    }
  }
  template <class F>
  bool Until(F done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 20000) QTest::qWait(10);
    return done();
  }
  QString Log() const { return form_->reportLog->toPlainText(); }
};

TEST_F(RecordingViewTest, ShowsTheNewestSweepAndEveryOtherOnRequestThenGoesBackToLive) {
  MainWindow& f = OpenActive();
  ASSERT_TRUE(Until([&] { return f.Sweep().Running(); }));
  const QString live = f.windowTitle();
  const auto file = dir_ / "survey.csv";
  WriteRecording(file, true);
  wg::TRecordingView& view = f.Recording();
  ASSERT_TRUE(view.Open(QString::fromStdString(file.string())));
  ASSERT_TRUE(Until([&] { return view.Scanned() && view.Shown() && view.ShownNumber() == kSweeps - 1; }));
  EXPECT_FALSE(f.Sweep().Running());
  EXPECT_EQ(view.SweepCount(), static_cast<uint64_t>(kSweeps));

  // The newest sweep on the chart, on its own frequencies.
  ASSERT_EQ(f.Series1->PointCount(), 2 * kBins);
  for (int i = 0; i < 2 * kBins; ++i) {
    EXPECT_DOUBLE_EQ(f.Series1->XValues().ValueAt(i), static_cast<double>(kLow) + (i / kBins) * 3200000 + (i % kBins) * kBin);
    EXPECT_DOUBLE_EQ(f.Series1->YValues().ValueAt(i), Level(kSweeps - 1, i)) << i;
  }
  EXPECT_TRUE(f.windowTitle().contains(QStringLiteral("survey.csv, 2026-12-07 11:00:29"))) << f.windowTitle().toStdString();
  // The damage named with its line, once.
  EXPECT_EQ(Log().count(QStringLiteral("survey.csv, line 23")), 1) << Log().toStdString();
  EXPECT_TRUE(Log().contains(QStringLiteral("survey.csv"))) << Log().toStdString();

  // The whole recording in the waterfall, newest on top, filling its height;
  // hidden and shown again, it reads the recording anew.
  const auto whole = [&] { return f.Waterfall1->History().RowCount() == static_cast<size_t>(kSweeps); };
  ASSERT_TRUE(Until(whole));
  EXPECT_TRUE(f.Waterfall1->FillHeight());
  f.Splitter1->Action()->trigger();
  f.Splitter1->Action()->trigger();
  ASSERT_TRUE(Until(whole));
  EXPECT_TRUE(f.Waterfall1->isVisible());
  // The bar leaves the chart's title in sight, also once the waterfall
  // took its share of the height.
  const auto* bar = f.Chart1->findChild<QWidget*>(QStringLiteral("RecordingBar"));
  ASSERT_NE(bar, nullptr);
  (void)f.Chart1->grab();
  const wg::TRect title = f.Chart1->Title().TitleRect();
  EXPECT_GT(title.Bottom, title.Top);
  EXPECT_GE(title.Top, bar->geometry().bottom() + 1) << title.Top << " under a bar ending at " << bar->geometry().bottom();
  const auto& h = f.Waterfall1->History();
  EXPECT_DOUBLE_EQ(wg::TWaterfallHistory::Decode(h.Row(0)[0]), Level(kSweeps - 1, 0));
  EXPECT_DOUBLE_EQ(wg::TWaterfallHistory::Decode(h.Row(kSweeps - 1)[0]), Level(0, 0));

  // The peak marker finds the recorded carrier.
  f.Air().SetPeakMarker(true);
  const auto markers = f.Air().Markers();
  ASSERT_EQ(markers.size(), 1u);
  EXPECT_DOUBLE_EQ(markers[0].Hz, static_cast<double>(kLow) + 3200000 + 5 * kBin);
  EXPECT_DOUBLE_EQ(markers[0].Db, Level(kSweeps - 1, kCarrierBin));

  // Page Down goes back in time, Page Up forward; the slider goes anywhere.
  QTest::keyClick(&f, Qt::Key_PageDown);
  QTest::keyClick(&f, Qt::Key_PageDown);
  ASSERT_TRUE(Until([&] { return view.ShownNumber() == kSweeps - 3; }));
  EXPECT_DOUBLE_EQ(f.Series1->YValues().ValueAt(0), Level(kSweeps - 3, 0));
  QTest::keyClick(&f, Qt::Key_PageUp);
  ASSERT_TRUE(Until([&] { return view.ShownNumber() == kSweeps - 2; }));
  view.Slider()->setValue(0);
  ASSERT_TRUE(Until([&] { return view.ShownNumber() == 0; }));
  EXPECT_DOUBLE_EQ(f.Series1->YValues().ValueAt(3), Level(0, 3));
  EXPECT_TRUE(f.windowTitle().contains(QStringLiteral("11:00:00 (1/30)"))) << f.windowTitle().toStdString();
  EXPECT_EQ(view.Slider()->maximum(), kSweeps - 1);
  EXPECT_FALSE(f.Sweep().Running()) << "no live sweep while the recording is open";

  // Back to live: the sweep runs again over its own range.
  f.ChartMenu->findChild<QAction*>("back-to-live")->trigger();
  EXPECT_FALSE(view.IsOpen());
  EXPECT_EQ(f.windowTitle(), live);
  EXPECT_TRUE(f.Sweep().Running());
  ASSERT_TRUE(Until([&] { return f.Series1->PointCount() == f.Sweep().SeriesPointCount() && f.Series1->YValues().ValueAt(0) != 0; }));
  EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis()->Minimum(), static_cast<double>(f.Sweep().StartFrequency()));
  EXPECT_EQ(f.Chart1->MarginTop(), 4) << "the live chart as written";
  EXPECT_FALSE(f.Waterfall1->FillHeight()) << "live rows keep one pixel row each";
}

// While a recording is shown the chart's features act on it, not on the
// live sweep behind it: the saved sweep, the held line, the reset view.
TEST_F(RecordingViewTest, SaveHoldAndResetViewFollowTheRecordingShown) {
  MainWindow& f = OpenActive();
  ASSERT_TRUE(Until([&] { return f.Sweep().Running(); }));
  wg::TReadTheAir& air = f.Air();
  air.SetMode(wg::TraceMode::PeakHold);
  ASSERT_NE(air.HoldSeries(), nullptr);
  ASSERT_TRUE(Until([&] { return air.HoldSeries()->PointCount() > 0; }));
  const double liveLow = static_cast<double>(f.Sweep().StartFrequency());
  const double liveHigh = static_cast<double>(f.Sweep().StopFrequency());
  ASSERT_NE(liveLow, static_cast<double>(kLow)) << "the live range must differ from the recording's";

  const auto file = dir_ / "survey.csv";
  WriteRecording(file, false);
  wg::TRecordingView& view = f.Recording();
  ASSERT_TRUE(view.Open(QString::fromStdString(file.string())));
  ASSERT_TRUE(Until([&] { return view.Scanned() && view.Shown() && view.ShownNumber() == kSweeps - 1; }));

  // The sweep on the chart, in the recording's own lines.
  const auto saved = dir_ / "saved.csv";
  ASSERT_TRUE(f.Keep().SaveSweepCsv(QString::fromStdString(saved.string())));
  const auto lines = [](const std::filesystem::path& p) {
    std::ifstream in(p);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
  };
  const std::vector<std::string> recorded = lines(file);
  const std::vector<std::string> got = lines(saved), newest(recorded.end() - 2, recorded.end());
  EXPECT_TRUE(got == newest) << (got.empty() ? std::string("nothing") : got[0].substr(0, 80));

  // The live maxima are not drawn over the recording.
  ASSERT_NE(air.HoldSeries(), nullptr);
  EXPECT_FALSE(air.HoldSeries()->Active());

  // Reset view fits the recording, not the live range.
  f.Chart1->BottomAxis()->SetRange(kLow + 1e6, kLow + 2e6);
  f.ChartMenu->findChild<QAction*>("reset-view")->trigger();
  EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis()->Minimum(), static_cast<double>(kLow));
  EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis()->Maximum(), static_cast<double>(kLow + 2 * 3200000));

  // Live again: the held line and the live range come back.
  f.ChartMenu->findChild<QAction*>("back-to-live")->trigger();
  ASSERT_NE(air.HoldSeries(), nullptr);
  EXPECT_TRUE(air.HoldSeries()->Active());
  f.ChartMenu->findChild<QAction*>("reset-view")->trigger();
  EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis()->Minimum(), liveLow);
  EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis()->Maximum(), liveHigh);
}

// What cannot be shown is said in one line, and the window stays live.
TEST_F(RecordingViewTest, AFileThatIsNoRecordingLeavesTheSweepLive) {
  MainWindow& f = Open();
  ASSERT_TRUE(Until([&] { return f.Sweep().Running(); }));
  wg::TRecordingView& view = f.Recording();
  EXPECT_FALSE(view.Open(QString::fromStdString((dir_ / "missing.csv").string())));
  EXPECT_TRUE(Log().contains(QStringLiteral("missing.csv: No such file"))) << Log().toStdString();
  EXPECT_TRUE(f.Sweep().Running());

  const auto junk = dir_ / "junk.csv";
  {
    std::ofstream out(junk);
    for (int i = 0; i < 200; ++i) out << "not, a, recording, at all\n";
  }
  ASSERT_TRUE(view.Open(QString::fromStdString(junk.string())));
  ASSERT_TRUE(Until([&] { return !view.IsOpen(); }));
  EXPECT_TRUE(Log().contains(QStringLiteral("junk.csv: not an rtl_power recording (line 1"))) << Log().toStdString();
  EXPECT_FALSE(Log().contains(QString::fromUtf8(wg::kRecordingOpenedText))) << "nothing was opened";
  EXPECT_TRUE(f.Sweep().Running());
}

// A scan range typed while a recording is shown goes live at once; closing
// the window while a recording is read waits for nothing.
TEST_F(RecordingViewTest, ANewRangeGoesLiveAndClosingWhileReadingIsSafe) {
  MainWindow& f = Open();
  const auto file = dir_ / "survey.csv";
  WriteRecording(file, false);
  wg::TRecordingView& view = f.Recording();
  ASSERT_TRUE(view.Open(QString::fromStdString(file.string())));
  ASSERT_TRUE(Until([&] { return view.Shown() != nullptr; }));
  f.StopFreqEdit->SetValue(160);
  ASSERT_TRUE(Until([&] { return !view.IsOpen(); }));
  EXPECT_TRUE(f.Sweep().Running());
  ASSERT_TRUE(view.Open(QString::fromStdString(file.string())));
  form_.reset();
}

// An empty file and one without end go back to live, said in one log line;
// levels no receiver measures are counted in one.
TEST_F(RecordingViewTest, EmptyEndlessAndOutOfRangeFilesAreSaidInOneLine) {
  MainWindow& f = Open();
  wg::TRecordingView& view = f.Recording();
  const std::string empty = (dir_ / "empty.csv").string(), levels = (dir_ / "levels.csv").string();
  std::ofstream(empty).flush();
  WriteRecording(levels, false);
  std::ofstream(levels, std::ios::app)
      << "2026-12-07, 11:59:00, 144000000, 147200000, 400000.00, 10, inf, 1e23, -1e30, -60, -60, -60, -60, -60, -60\n";
  const QString badLevels = QString::fromUtf8(wg::kRecordingBadLevelsText)
                                .arg(QStringLiteral("200"), QString::fromStdString(levels), QStringLiteral("3"));
  for (const auto& [path, says] : {std::pair{empty, QString::fromUtf8(wg::kRecordingEmptyText) + QString::fromStdString(empty)},
                                   {std::string("/dev/zero"), QStringLiteral("/dev/zero: not an rtl_power recording (line 1")},
                                   {levels, badLevels}}) {
    ASSERT_TRUE(view.Open(QString::fromStdString(path)));
    ASSERT_TRUE(Until([&] { return !view.IsOpen() || view.Scanned(); })) << path;
    EXPECT_EQ(Log().count(says), 1) << Log().toStdString();
  }
}

}  // namespace
