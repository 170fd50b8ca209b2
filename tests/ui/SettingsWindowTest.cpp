// The window with remembered settings and options: what it starts with, what
// it remembers, and that a broken settings file never stops it.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReadTheAir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

class SettingsWindowTest : public FormTest {
 protected:
  void SetUp() override { ASSERT_TRUE(config_.isValid()); }
  QString Path() const { return config_.filePath(QStringLiteral("wideglass.ini")); }
  MainWindow& OpenWith(const wg::Options& options = {}, const QString& file = {}) {
    Bind(WG_SIM_LIB);
    settings_ = std::make_unique<wg::TSettings>(file.isEmpty() ? Path() : file);
    form_ = std::make_unique<MainWindow>(*settings_, options);
    form_->show();
    QApplication::processEvents();
    return *form_;
  }
  void Close() {
    form_.reset();
    settings_.reset();
    UnloadReceiverLibraryWhenFree();
  }
  void TearDown() override {
    FormTest::TearDown();
    settings_.reset();
  }
  QTemporaryDir config_;
  std::unique_ptr<wg::TSettings> settings_;
};

TEST_F(SettingsWindowTest, TheRememberedRangeComesBackAndOptionsWinForOneRun) {
  {
    MainWindow& f = OpenWith();
    EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("138"));  // a first start is the written one
    f.StartFreqEdit->SetValue(88);
    f.StopFreqEdit->SetValue(108);
    Close();
  }
  {
    MainWindow& f = OpenWith();
    EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("88"));
    EXPECT_EQ(f.StopFreqEdit->text(), QStringLiteral("108"));
    EXPECT_EQ(f.Chart1->BottomAxis()->Minimum(), 88000000);
    EXPECT_EQ(f.Chart1->BottomAxis()->Maximum(), 108000000);
    EXPECT_EQ(f.Series1->PointCount(), 25600);
    EXPECT_EQ(f.Sweep().GetTraceMode(), wg::TraceMode::Live);
    EXPECT_TRUE(f.Sweep().Running());
    Close();
  }
  {
    wg::Options o;
    o.start = 146000000;
    o.stop = 147000000;
    o.mode = wg::TraceMode::Average;
    MainWindow& f = OpenWith(o);
    EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("146"));
    EXPECT_EQ(f.Sweep().GetTraceMode(), wg::TraceMode::Average);
    EXPECT_EQ(f.Series1->PointCount(), 1280);
    Close();
  }
  // The option was for that run only.
  EXPECT_EQ(wg::TSettings(Path()).Values().range, (wg::ScanRange{88000000, 108000000}));
}

TEST_F(SettingsWindowTest, TheWindowAndItsMarkersComeBackWhereTheyWere) {
  {
    MainWindow& f = OpenWith();
    f.setGeometry(40, 50, 1000, 500);
    f.Air().SetPeakMarker(true);
    f.Air().SetFixedMarkers({146520000, 150000000});
    QApplication::processEvents();
    Close();
  }
  MainWindow& f = OpenWith();
  EXPECT_EQ(f.size(), QSize(1000, 500));
  // The log pane and the chart follow the restored size as on any resize.
  EXPECT_EQ(f.Chart1->width(), 1000 - 265);
  // The markers stand where they were put.
  EXPECT_TRUE(f.Air().PeakMarker());
  EXPECT_EQ(f.Air().FixedMarkers(), (std::vector<double>{146520000, 150000000}));
}

TEST_F(SettingsWindowTest, ABrokenSettingsFileLeavesTheReportWholeAndSaysWhatFellBack) {
  {
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[scan]\nstart=abc\nstop=153000000\n[receiver]\nppm=twelve\n[window]\ngeometry=@ByteArray(xyz)\n[sca");
  }
  MainWindow& f = OpenWith();
  const QStringList lines = Lines();
  ASSERT_GE(lines.size(), 14);
  EXPECT_EQ(lines[0], QString::fromUtf8("Кол-во донглов RTL в ОС: 1"));
  EXPECT_EQ(lines[11], QString::fromUtf8("PPM: 2700"));
  EXPECT_EQ(lines[13], QString::fromUtf8("Кол-во точек FFT: 4096"));
  const QStringList notes = lines.mid(14);
  EXPECT_GE(notes.size(), 3) << f.reportLog->toPlainText().toStdString();
  for (const QString& n : notes) EXPECT_TRUE(n.startsWith(QString::fromUtf8("Настройки: "))) << n.toStdString();
  EXPECT_EQ(f.StartFreqEdit->text(), QStringLiteral("138"));
  EXPECT_TRUE(f.Sweep().Running());
}

TEST_F(SettingsWindowTest, ASettingsFileThatCannotBeWrittenIsSaidOnceWhileTheWindowIsOpen) {
  // A plain file where the settings folder belongs stops root too.
  QFile blocker(config_.filePath(QStringLiteral("wideglass")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  MainWindow& f = OpenWith({}, config_.filePath(QStringLiteral("wideglass/wideglass.ini")));
  const auto said = [&] { return Lines().filter(QString::fromUtf8("не удалось сохранить")).size(); };
  EXPECT_EQ(said(), 0) << "nothing was written yet";
  for (double start : {100.0, 101.0, 102.0}) {
    f.StartFreqEdit->SetValue(start);
    QApplication::processEvents();
    EXPECT_EQ(said(), 1) << "after " << start << " MHz:\n" << f.reportLog->toPlainText().toStdString();
  }
  EXPECT_EQ(f.Sweep().StartFrequency(), 102000000) << "the run goes on";
}

}  // namespace
