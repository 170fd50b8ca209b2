// Remembered settings on a temporary configuration folder: the first start is
// the written one, values come back, and no file content, however broken,
// gives a value outside its limits or more than one line per bad value.
#include "app/Settings.h"
#include "sweep/CroppedPlan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
  }
  QString Path() const { return dir_.filePath(QStringLiteral("wideglass/wideglass.ini")); }
  void WriteFile(const QByteArray& content) {
    QDir().mkpath(QFileInfo(Path()).path());
    QFile f(Path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
  }
  QByteArray ReadFile() {
    QFile f(Path());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  // Every value within the limits the program relies on.
  static void ExpectSane(const wg::SettingsValues& v, const std::string& what) {
    EXPECT_GE(v.range.start, wg::kMinStartHz) << what;
    EXPECT_LE(v.range.stop, wg::kMaxStopHz) << what;
    EXPECT_GE(v.range.stop - v.range.start, wg::kMinSpanHz) << what;
    EXPECT_TRUE(v.ppm >= wg::kMinPpm && v.ppm <= wg::kMaxPpm) << what;
    EXPECT_TRUE(wg::IsOfferedSampleRate(v.sampleRate)) << what;
    EXPECT_LE(v.markers.size(), wg::TSettings::kMaxMarkers) << what;
    EXPECT_TRUE(v.crop >= 0 && v.crop <= wg::kMostCrop) << what;
    EXPECT_TRUE(v.waterfallShare >= wg::TSettings::kMinWaterfallShare &&
                v.waterfallShare <= wg::TSettings::kMaxWaterfallShare)
        << what;
  }
  QTemporaryDir dir_;
};

TEST_F(SettingsTest, FirstStartIsTheWrittenOneAndWritesNothing) {
  EXPECT_EQ(wg::TSettings::DefaultFile(), Path());
  wg::TSettings s(wg::TSettings::DefaultFile());
  const wg::SettingsValues& v = s.Values();
  EXPECT_EQ(v.range, (wg::ScanRange{138000000, 153000000}));
  EXPECT_FALSE(v.gain.has_value());
  EXPECT_EQ(v.ppm, 2700);
  EXPECT_EQ(v.sampleRate, 3200000u);
  EXPECT_EQ(v.serial, "");
  EXPECT_EQ(v.traceView, wg::TraceMode::Live);
  EXPECT_TRUE(v.markers.empty());
  EXPECT_TRUE(v.geometry.isEmpty());
  EXPECT_FALSE(v.waterfallShown);
  EXPECT_FALSE(v.language.has_value());  // the system's
  EXPECT_FALSE(v.dcSpike);
  EXPECT_TRUE(s.TakeMessages().empty());
  EXPECT_FALSE(QFile::exists(Path()));
}

TEST_F(SettingsTest, EveryValueComesBackInTheNextRun) {
  {
    wg::TSettings s(Path());
    s.SetScanRange({88000000, 108000000});
    s.SetGain({false, 496});
    s.SetPpm(-12);
    s.SetSampleRate(2048000);
    s.SetReceiverSerial("SDR-77 ё");
    s.SetTraceView(wg::TraceMode::PeakHold);
    s.SetPeakMarker(true);
    s.SetMarkers({146520000.5, 91200000});
    s.SetWindowGeometry(QByteArray("\x01\x02\x00\xff", 4));
    s.SetWaterfallShown(true);
    s.SetWaterfallShare(0.25);
    s.SetLanguage(wg::Language::English);
    s.SetWaterfallColours({wg::ColourSpan::Kind::Fixed, -95.5, -30});
    s.SetReceiverStrip(true);
    s.SetGqrxAddress("localhost:7357");
    s.SetReceiverOwn("00000001", {.ppm = 41});
    s.SetReceiverOwn("SDR/2\\%", {.gain = wg::GainChoice{true, 0}, .ppm = -3, .directSampling = 2});
    s.SetReceiverOwn("rtl_tcp=[::1]:1234", {.biasTee = true, .offsetTuning = false});
    s.SetRemotes({"sdr.local:1234", "[::1]:1234"});
    s.SetCrop(0.3);
    s.SetDcSpike(true);
    s.Sync();
    EXPECT_TRUE(ReadFile().contains("ppm=-12"));
  }
  wg::TSettings s(Path());
  const wg::SettingsValues& v = s.Values();
  EXPECT_EQ(v.range, (wg::ScanRange{88000000, 108000000}));
  EXPECT_EQ(v.gain, (wg::GainChoice{false, 496}));
  EXPECT_EQ(v.ppm, -12);
  EXPECT_EQ(v.sampleRate, 2048000u);
  EXPECT_EQ(v.serial, "SDR-77 ё");
  EXPECT_EQ(v.traceView, wg::TraceMode::PeakHold);
  EXPECT_TRUE(v.peakMarker);
  EXPECT_EQ(v.markers, (std::vector<double>{146520000.5, 91200000}));
  EXPECT_EQ(v.geometry, QByteArray("\x01\x02\x00\xff", 4));
  EXPECT_TRUE(v.waterfallShown);
  EXPECT_EQ(v.waterfallShare, 0.25);
  EXPECT_EQ(v.language, wg::Language::English);
  EXPECT_EQ(v.waterfallColours, (wg::ColourSpan{wg::ColourSpan::Kind::Fixed, -95.5, -30}));
  EXPECT_TRUE(v.receiverStrip);
  EXPECT_EQ(v.gqrxAddress, "localhost:7357");
  EXPECT_EQ(v.receivers.size(), 3u);
  EXPECT_EQ(s.OwnOf("00000001"), (wg::ReceiverOwn{.ppm = 41}));
  EXPECT_EQ(s.OwnOf("SDR/2\\%"), (wg::ReceiverOwn{.gain = wg::GainChoice{true, 0}, .ppm = -3, .directSampling = 2}));
  EXPECT_EQ(s.OwnOf("rtl_tcp=[::1]:1234"), (wg::ReceiverOwn{.biasTee = true, .offsetTuning = false}));
  EXPECT_EQ(v.remotes, (std::vector<std::string>{"sdr.local:1234", "[::1]:1234"}));
  EXPECT_EQ(v.crop, 0.3);
  EXPECT_TRUE(v.dcSpike);
  EXPECT_TRUE(s.TakeMessages().empty());
  // Automatic gain, one marker and none round-trip too.
  s.SetGain({true, 0});
  s.SetMarkers({91200000});
  wg::TSettings again(Path());
  EXPECT_TRUE(again.Values().gain->automatic);
  EXPECT_EQ(again.Values().markers, std::vector<double>{91200000});
  again.SetMarkers({});
  EXPECT_TRUE(wg::TSettings(Path()).Values().markers.empty());
  // Only the settings file is left in the folder: writes go through a
  // temporary file renamed over it.
  EXPECT_EQ(QDir(QFileInfo(Path()).path()).entryList(QDir::Files),
            QStringList{QStringLiteral("wideglass.ini")});
}

TEST_F(SettingsTest, EachBadValueFallsBackWithOneLine) {
  const struct {
    const char* ini;
    const char* key;  // the log line names it
  } cases[] = {
      {"[scan]\nstart=abc\nstop=153000000\n", "диапазон"},
      {"[scan]\nstart=152500000\nstop=153000000\n", "диапазон"},   // narrower than 1 MHz
      {"[scan]\nstart=50000\nstop=153000000\n", "диапазон"},       // below the editors
      {"[scan]\nstart=138000000\nstop=99999999999\n", "диапазон"},
      {"[scan]\nstop=170000000\n", "диапазон"},                    // half a range
      {"[receiver]\ngain=loud\n", "receiver/gain"},
      {"[receiver]\nppm=abc\n", "receiver/ppm"},
      {"[receiver]\nppm=5000\n", "receiver/ppm"},
      {"[receiver]\nppm=12.5\n", "receiver/ppm"},
      {"[receiver]\nrate=1000000\n", "receiver/rate"},
      {"[trace]\nmode=sideways\n", "trace/mode"},
      {"[markers]\npeak=maybe\n", "markers/peak"},
      {"[markers]\nfixed=1, 2, 3, 4, 5\n", "markers/fixed"},
      {"[markers]\nfixed=1, x\n", "markers/fixed"},
      {"[window]\ngeometry=not bytes\n", "window/geometry"},
      {"[waterfall]\nshare=2\n", "waterfall/share"},
      {"[waterfall]\nshown=perhaps\n", "waterfall/shown"},
      {"[ui]\nlanguage=de\n", "ui/language"},
      {"[waterfall]\ncolours=-20 -90\n", "waterfall/colours"},
      {"[waterfall]\ncolours=bright\n", "waterfall/colours"},
      {"[ui]\nstrip=1x\n", "ui/strip"},
      {"[gqrx]\naddress=localhost\n", "gqrx/address"},
      {"[gqrx]\naddress=localhost:99999\n", "gqrx/address"},
      {"[receiver]\ncalibration=00000001=9000\n", "receiver/calibration"},
      {"[receiver]\ncalibration=00000001\n", "receiver/calibration"},
      {"[sweep]\ncrop=0.95\n", "sweep/crop"},
      {"[sweep]\ncrop=edges\n", "sweep/crop"},
      {"[receivers]\n00000001\\ppm=9000\n", "receivers/00000001/ppm"},
      {"[receivers]\nrtl_tcp%3Dx%3A1\\directsampling=3\n", "receivers/rtl_tcp=x:1/directsampling"},
      {"[receivers]\nSDR\\biastee=on\n", "receivers/SDR/biastee"},
      {"[receiver]\nremotes=sdr.local:1234, bad host:1\n", "receiver/remotes"},
  };
  const wg::SettingsValues defaults;
  for (const auto& c : cases) {
    WriteFile(QByteArray(c.ini) + "[receiver]\nserial=00000002\n");
    wg::TSettings s(Path());
    const auto lines = s.TakeMessages();
    ASSERT_EQ(lines.size(), 1u) << c.ini;
    EXPECT_NE(lines[0].find(c.key), std::string::npos) << lines[0];
    EXPECT_TRUE(lines[0].starts_with("Настройки: ")) << lines[0];
    const wg::SettingsValues& v = s.Values();
    EXPECT_EQ(v.range, defaults.range) << c.ini;
    EXPECT_EQ(v.ppm, defaults.ppm) << c.ini;
    EXPECT_FALSE(v.gain.has_value()) << c.ini;
    EXPECT_EQ(v.traceView, defaults.traceView) << c.ini;
    EXPECT_TRUE(v.markers.empty()) << c.ini;
    EXPECT_EQ(v.waterfallColours, defaults.waterfallColours) << c.ini;
    EXPECT_EQ(v.gqrxAddress, defaults.gqrxAddress) << c.ini;
    for (const auto& [key, own] : v.receivers) EXPECT_EQ(own, wg::ReceiverOwn{}) << c.ini;
    EXPECT_TRUE(v.remotes.empty()) << c.ini;
    EXPECT_EQ(v.serial, "00000002") << "a good value beside a bad one stays: " << c.ini;
    ExpectSane(v, c.ini);
  }
}

// Every prefix of a good file (a write cut short by a crash of another
// writer, a full disk) and random damage: never a value out of its limits.
TEST_F(SettingsTest, TruncatedAndCorruptedFilesNeverGiveNonsense) {
  {
    wg::TSettings s(Path());
    s.SetScanRange({88000000, 108000000});
    s.SetGain({false, 496});
    s.SetPpm(-12);
    s.SetSampleRate(2048000);
    s.SetMarkers({146520000.5, 91200000});
    s.SetWindowGeometry(QByteArray(66, '\x07'));
    s.SetWaterfallShare(0.25);
  }
  const QByteArray good = ReadFile();
  ASSERT_FALSE(good.isEmpty());
  for (qsizetype n = 0; n <= good.size(); ++n) {
    WriteFile(good.left(n));
    wg::TSettings s(Path());
    ExpectSane(s.Values(), "prefix " + std::to_string(n));
  }
  for (const char* nasty : {"[receiver]\nppm=@Variant(\\0\\0\\0\\x7f\\xff)\n", "[window]\ngeometry=@ByteArray(\n",
                            "[scan]\nstart=@Invalid()\nstop=@Rect(1 2 3 4)\n", "\xef\xbb\xbf[\x00]\n=\n==\n[[]]\n"}) {
    WriteFile(nasty);
    wg::TSettings s(Path());
    ExpectSane(s.Values(), nasty);
  }
  std::mt19937 rng(17);
  for (int round = 0; round < 100; ++round) {
    QByteArray bad = good;
    for (int k = 0; k < 1 + round % 8; ++k) bad[static_cast<qsizetype>(rng() % bad.size())] = static_cast<char>(rng());
    WriteFile(bad);
    wg::TSettings s(Path());
    ExpectSane(s.Values(), "round " + std::to_string(round));
    if (round % 10) continue;
    s.SetPpm(1);  // and it can still be written
    s.Sync();
    EXPECT_EQ(wg::TSettings(Path()).Values().ppm, 1);
  }
}

TEST_F(SettingsTest, AFolderThatCannotBeWrittenIsSaidOnceAndTheRunGoesOn) {
  // A plain file where the settings folder belongs: nothing can be created
  // there, whoever runs the test.
  QFile blocker(dir_.filePath(QStringLiteral("wideglass")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  wg::TSettings s(Path());
  s.SetPpm(5);
  s.Sync();
  s.SetSampleRate(2400000);
  s.Sync();
  EXPECT_EQ(s.Values().ppm, 5) << "kept for the run";
  const auto lines = s.TakeMessages();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("не удалось сохранить"), std::string::npos) << lines[0];
}

TEST_F(SettingsTest, KeysTheProgramDoesNotKnowAreNotWrittenBack) {
  QByteArray content = "[scan]\nstart=88000000\nstop=108000000\nextra=1\n[trace]\nmode=average\n"
                       "[General]\nscan=7\nold=x\n[receiver]\nppm=12\ncolour=red\n"
                       "[receivers]\n00000001\\ppm=7\n00000001\\colour=red\n";
  // Binary junk, as from a damaged disk: lines, sections and keys of anything.
  std::mt19937 rng(5);
  for (int i = 0; i < 200000; ++i) {
    const unsigned r = rng() % 40;
    content += r == 0 ? '\n' : r == 1 ? '=' : r == 2 ? '[' : static_cast<char>(rng());
  }
  // Kept where a link leads, as a user's dotfiles may be.
  QDir().mkpath(QFileInfo(Path()).path());
  ASSERT_TRUE(QFile::link(dir_.filePath(QStringLiteral("kept.ini")), Path()));
  WriteFile(content);
  {
    wg::TSettings s(Path());
    EXPECT_EQ(s.Values().range, (wg::ScanRange{88000000, 108000000}));
    s.SetPpm(-12);
    s.Sync();
  }
  QSettings back(Path(), QSettings::IniFormat);
  QStringList keys = back.allKeys();
  keys.sort();
  EXPECT_EQ(keys, (QStringList{"receiver/ppm", "receivers/00000001/ppm", "scan/start", "scan/stop", "trace/mode"}));
  EXPECT_LT(ReadFile().size(), 230) << ReadFile().toStdString();
  EXPECT_TRUE(QFileInfo(Path()).isSymLink());
  wg::TSettings again(Path());
  EXPECT_EQ(again.Values().range, (wg::ScanRange{88000000, 108000000}));
  EXPECT_EQ(again.Values().traceView, wg::TraceMode::Average);
  EXPECT_EQ(again.Values().ppm, -12);
  EXPECT_EQ(again.OwnOf("00000001").ppm, 7);
}

// The corrections an earlier version kept apart are the sticks' own; a
// stick's group wins over them.
TEST_F(SettingsTest, AnEarlierVersionsCalibrationsAreTheSticksOwnCorrections) {
  WriteFile("[receiver]\ncalibration=00000001=41, 00000002=5\n[receivers]\n00000002\\ppm=-8\n");
  wg::TSettings s(Path());
  EXPECT_EQ(s.OwnOf("00000001"), (wg::ReceiverOwn{.ppm = 41}));
  EXPECT_EQ(s.OwnOf("00000002"), (wg::ReceiverOwn{.ppm = -8}));
  EXPECT_TRUE(s.TakeMessages().empty());
}

// A write that fails is said once, on the event loop's turn that tried it,
// not only when (or if) another change comes: for a folder that cannot be
// made and for a full disk (a file size limit, which binds root too).
TEST_F(SettingsTest, AWriteThatFailsIsSaidOnceAsItHappens) {
  int argc = 1;
  char name[] = "settings_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  const auto failures = [&](const QString& file, const std::function<void(bool)>& duringWrites) {
    wg::TSettings s(file);
    std::vector<std::string> said;
    s.SetMessageSink([&](const std::string& line) { said.push_back(line); });
    for (int ppm : {5, 6, 7}) {
      s.SetPpm(ppm);
      duringWrites(true);
      QCoreApplication::processEvents();
      duringWrites(false);
      EXPECT_EQ(said.size(), 1u) << "after ppm " << ppm;
    }
    EXPECT_EQ(s.Values().ppm, 7) << "kept for the run";
    for (const std::string& line : said) EXPECT_NE(line.find("не удалось сохранить"), std::string::npos) << line;
    return said.size();
  };

  QFile blocker(dir_.filePath(QStringLiteral("blocked")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_EQ(failures(dir_.filePath(QStringLiteral("blocked/wideglass.ini")), [](bool) {}), 1u) << "no folder";

  rlimit was{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
  // A write past the limit then fails with EFBIG instead of ending the process.
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  const auto fullDisk = [&](bool on) {
    rlimit small = was;
    if (on) small.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  };
  EXPECT_EQ(failures(Path(), fullDisk), 1u) << "full disk";
  std::signal(SIGXFSZ, handler);
}

TEST(SettingsMemory, WithoutAFileChangesLastForTheRunOnly) {
  wg::TSettings s;
  EXPECT_TRUE(s.File().isEmpty());
  s.SetPpm(7);
  EXPECT_EQ(s.Values().ppm, 7);
  EXPECT_TRUE(s.TakeMessages().empty());
}

}  // namespace

namespace {

// Settings linked to a device (to /dev/null, to keep nothing) leave the link
// and the device as they were; a failure says why.
TEST_F(SettingsTest, ADeviceAtThePathStaysOneAndFailuresSayWhy) {
  const QString null = dir_.filePath(QStringLiteral("null")), full = dir_.filePath(QStringLiteral("full"));
  if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      ::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "device nodes cannot be made here";
  const struct {
    const char* file;
    const char* linkTo;
    int error;
  } rows[] = {{"n.ini", "null", 0}, {"f.ini", "full", ENOSPC}, {"null/x.ini", nullptr, ENOTDIR}};
  for (const auto& r : rows) {
    const QString file = dir_.filePath(QString::fromLatin1(r.file));
    ASSERT_TRUE(!r.linkTo || QFile::link(dir_.filePath(QString::fromLatin1(r.linkTo)), file));
    wg::TSettings s(file);
    s.SetPpm(9);
    s.Sync();
    const auto said = s.TakeMessages();
    ASSERT_EQ(said.size(), r.error ? 1u : 0u) << r.file;
    EXPECT_NE(r.error ? said[0].find(std::strerror(r.error)) : 0, std::string::npos) << r.file;
    EXPECT_TRUE(!r.linkTo || QFileInfo(file).isSymLink()) << r.file;
  }
  for (const QString& device : {null, full}) EXPECT_TRUE(std::filesystem::is_character_file(device.toStdString()));
}

}  // namespace
