// Keeping what was seen, on the real window over the simulated receiver:
// the sweep as CSV, the chart as PNG, and a recording with its indicator,
// its log lines and its end when the disk refuses a write.
#include "app/Settings.h"
#include "chart/Chart.h"
#include "tests/ui/FormFixture.h"
#include "ui/KeepWhatWasSeen.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The lines of an rtl_power file, split into fields at ", ".
std::vector<std::vector<std::string>> ReadCsv(const std::filesystem::path& p) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(p);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    for (size_t at = 0;;) {
      const size_t next = line.find(", ", at);
      f.push_back(line.substr(at, next - at));
      if (next == std::string::npos) break;
      at = next + 2;
    }
    rows.push_back(f);
  }
  return rows;
}

class KeepTest : public FormTest {
 protected:
  MainWindow& OpenKeeping() {
    MainWindow& f = Open();
    f.Keep().AskFile = [this](const QString&, const QString&, const QString&) { return asked; };
    return f;
  }
  QAction* Entry(const char* name) { return form_->ChartMenu->findChild<QAction*>(name); }
  // Runs the event loop until `done` or 10 s.
  template <class F>
  bool Until(F done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000) QTest::qWait(10);
    return done();
  }
  bool LogHas(const std::string& text) { return form_->reportLog->toPlainText().contains(QString::fromStdString(text)); }
  QString asked;
};

TEST_F(KeepTest, RecordingAppendsWholeSweepsUntilStoppedWithAnIndicatorMeanwhile) {
  MainWindow& f = OpenKeeping();
  const auto file = dir_ / "survey.csv";
  asked = QString::fromStdString(file.string());
  QAction* record = Entry("record");
  record->trigger();
  ASSERT_TRUE(f.Keep().Recording());
  EXPECT_TRUE(f.Keep().Indicator()->isVisible());
  EXPECT_EQ(record->text(), "Stop recording");
  EXPECT_TRUE(LogHas(wg::kRecordStartedText + file.string()));
  ASSERT_TRUE(Until([&] { return f.Keep().RecordedSweeps() >= 3; }));
  record->trigger();
  EXPECT_FALSE(f.Keep().Recording());
  EXPECT_FALSE(f.Keep().Indicator()->isVisible());
  EXPECT_EQ(record->text(), QString::fromUtf8("Record…"));

  EXPECT_FALSE(LogHas(wg::kRecordAppendsText)) << "a new file holds nothing to append to";

  const auto rows = ReadCsv(file);
  ASSERT_GE(rows.size(), 15u);
  ASSERT_EQ(rows.size() % 5, 0u) << "five steps per sweep, none split";
  EXPECT_TRUE(LogHas(wg::kRecordStoppedText + file.string() + ", развёрток записано: " +
                     std::to_string(rows.size() / 5)));
  for (size_t r = 0; r < rows.size(); ++r) {
    ASSERT_EQ(rows[r].size(), 6u + 4097u) << r;
    EXPECT_EQ(rows[r][2], std::to_string(138000000 + 3200000 * (r % 5))) << r;
    EXPECT_EQ(rows[r][4], "781.25");
    EXPECT_EQ(rows[r][5], "1");
  }

  // A second recording into the same file keeps the first one's lines and says so.
  record->trigger();
  EXPECT_TRUE(LogHas(wg::kRecordAppendsText));
  ASSERT_TRUE(Until([&] { return f.Keep().RecordedSweeps() >= 1; }));
  record->trigger();
  const auto more = ReadCsv(file);
  ASSERT_GT(more.size(), rows.size());
  EXPECT_EQ(std::vector(more.begin(), more.begin() + static_cast<long>(rows.size())), rows);
}

// Record…'s choices: asked before the file, cancelled without a recording,
// remembered, and the lines shaped as the survey's -f START:STOP:BIN shapes them.
TEST_F(KeepTest, RecordingTakesTheChosenBinSizeAndRemembersIt) {
  MainWindow& f = OpenKeeping();
  std::optional<wg::IntegrationChoice> answer;
  int asks = 0;
  f.Keep().AskChoice = [&](const wg::IntegrationChoice&) {
    ++asks;
    return answer;
  };
  const auto file = dir_ / "binned.csv";
  asked = QString::fromStdString(file.string());
  QAction* record = Entry("record");
  record->trigger();
  EXPECT_EQ(asks, 1);
  EXPECT_FALSE(f.Keep().Recording()) << "cancelled";
  answer = wg::IntegrationChoice{10000, 0, false};
  record->trigger();
  ASSERT_TRUE(f.Keep().Recording());
  EXPECT_EQ(f.Settings().Values().recordBinHz, 10000);
  EXPECT_EQ(f.Settings().Values().recordIntervalSeconds, 0);
  ASSERT_TRUE(Until([&] { return f.Keep().RecordedSweeps() >= 2; }));
  record->trigger();
  // 138-153 MHz in bins of 9375 Hz: lines of 341, the last cut at the stop.
  const auto rows = ReadCsv(file);
  ASSERT_GE(rows.size(), 10u);
  for (const auto& r : rows) {
    EXPECT_EQ(r[4], "9375.00");
    EXPECT_EQ(r.size(), r[3] == "152994922" ? 6u + 235 + 1 : 6u + 341 + 1) << r[2];
  }
  // A bin size below the finest bin: said, and the finest written.
  answer = wg::IntegrationChoice{500, 0, false};
  record->trigger();
  ASSERT_TRUE(f.Keep().Recording());
  EXPECT_TRUE(LogHas("Размер бина 500 Гц меньше самого узкого: записываются бины по 781.25 Гц"));
  record->trigger();
}

TEST_F(KeepTest, AFailedWriteEndsTheRecordingWithOneLineAndTheSweepGoesOn) {
  MainWindow& f = OpenKeeping();
  asked = "/dev/full";
  Entry("record")->trigger();
  ASSERT_TRUE(Until([&] { return !f.Keep().Recording(); }));
  EXPECT_FALSE(f.Keep().Indicator()->isVisible());
  const QStringList failed = Lines().filter(QString::fromUtf8(wg::kRecordFailedText));
  ASSERT_EQ(failed.size(), 1);
  EXPECT_TRUE(failed[0].contains(QString::fromUtf8(std::strerror(ENOSPC)))) << failed[0].toStdString();
  EXPECT_TRUE(f.Sweep().Running());

  asked = QString::fromStdString((dir_ / "no-such-folder" / "x.csv").string());
  Entry("record")->trigger();
  EXPECT_FALSE(f.Keep().Recording());
  EXPECT_EQ(Lines().filter(QString::fromUtf8(wg::kRecordOpenFailedText)).size(), 1);
}

TEST_F(KeepTest, SavesTheLastSweepAsCsvAndTheChartsPixelsAsPng) {
  MainWindow& f = OpenKeeping();
  asked = QString::fromStdString((dir_ / "early.csv").string());
  Entry("save-csv")->trigger();
  // Too early (nothing published yet) or a whole sweep, never a part.
  const auto early = ReadCsv(dir_ / "early.csv");
  EXPECT_TRUE(early.empty() ? LogHas(wg::kNoSweepYetText) : early.size() == 5u);

  long sweeps = 0;
  f.Sweep().AddSweepListener([&](const wg::SweepPtr&) { ++sweeps; });
  ASSERT_TRUE(Until([&] { return sweeps >= 1; }));
  asked = QString::fromStdString((dir_ / "sweep.csv").string());
  Entry("save-csv")->trigger();
  const auto rows = ReadCsv(dir_ / "sweep.csv");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][2], "138000000");
  EXPECT_EQ(rows[4][3], "154000000");

  asked = QString::fromStdString((dir_ / "chart.png").string());
  f.Chart1->repaint();
  Entry("save-image")->trigger();
  QImage saved(asked);
  ASSERT_FALSE(saved.isNull());
  // No marker and no pointer over the chart: exactly the chart's own image.
  EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), f.Chart1->Canvas().Image().convertToFormat(QImage::Format_RGB32));
  EXPECT_TRUE(LogHas(wg::kSavedText + (dir_ / "chart.png").string()));
}

}  // namespace

namespace {

// Saving through a link keeps the link; a failure says why.
TEST_F(KeepTest, SavingFollowsLinksAndSaysWhyItFailed) {
  MainWindow& f = OpenKeeping();
  long sweeps = 0;
  f.Sweep().AddSweepListener([&](const wg::SweepPtr&) { ++sweeps; });
  ASSERT_TRUE(Until([&] { return sweeps >= 1; }));
  std::filesystem::create_symlink("chart.png", dir_ / "png-link");
  const struct {
    const char* entry;
    const char* name;
    const char* says;
  } cases[] = {{"save-image", "png-link", wg::kSavedText}, {"save-csv", "absent/x.csv", std::strerror(ENOENT)}};
  for (const auto& c : cases) {
    asked = QString::fromStdString((dir_ / c.name).string());
    Entry(c.entry)->trigger();
    EXPECT_EQ(Lines().filter(asked).filter(QString::fromUtf8(c.says)).size(), 1) << c.name;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "png-link"));
  EXPECT_FALSE(QImage(QString::fromStdString((dir_ / "chart.png").string())).isNull());
}

}  // namespace
