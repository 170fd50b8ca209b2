// The command line: what each option accepts and refuses, and that no input
// at all can crash the parser or give more than one line of complaint.
#include "app/Options.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>

namespace {

using namespace std::chrono_literals;
using Action = wg::ParseResult::Action;

wg::ParseResult Parse(const QString& line) {
  QStringList args{QStringLiteral("wideglass")};
  if (!line.isEmpty()) args += line.split(QLatin1Char(' '));
  return wg::ParseOptions(args);
}

TEST(Options, NothingGivenChoosesNothing) {
  const auto r = Parse({});
  ASSERT_EQ(r.action, Action::Run);
  const wg::Options& o = r.options;
  EXPECT_FALSE(o.start || o.stop || o.gain || o.ppm || o.sampleRate || o.device || o.language || o.record ||
               o.sweeps || o.duration || o.mode || o.receiverLibrary || o.crop || o.biasTee || o.directSampling ||
               o.offsetTuning);
}

TEST(Options, AcceptedValues) {
  const struct {
    const char* line;
    std::function<bool(const wg::Options&)> check;
  } cases[] = {
      {"-f 88M:108M", [](auto& o) { return *o.start == 88000000 && *o.stop == 108000000; }},
      {"-f 146.52M:1.5G", [](auto& o) { return *o.start == 146520000 && *o.stop == 1500000000; }},
      {"-f 88600k:90e6", [](auto& o) { return *o.start == 88600000 && *o.stop == 90000000; }},
      {"-f138m:153M", [](auto& o) { return *o.start == 138000000 && *o.stop == 153000000; }},
      // Narrower than 1 MHz is widened upward, as the editors do it.
      {"-f 146M:146.2M", [](auto& o) { return *o.start == 146000000 && *o.stop == 147000000; }},
      {"-f 1M:2M -f 3M:5M", [](auto& o) { return *o.start == 3000000 && *o.stop == 5000000; }},
      {"-g auto", [](auto& o) { return o.gain->automatic; }},
      {"-g AUTO", [](auto& o) { return o.gain->automatic; }},
      {"-g 49.6", [](auto& o) { return !o.gain->automatic && o.gain->tenthsDb == 496; }},
      {"-g -1", [](auto& o) { return o.gain->tenthsDb == -10; }},
      {"-p 0", [](auto& o) { return *o.ppm == 0; }},
      {"-p -3000", [](auto& o) { return *o.ppm == -3000; }},
      {"-p 3000", [](auto& o) { return *o.ppm == 3000; }},
      {"-s 2.4M", [](auto& o) { return *o.sampleRate == 2400000; }},
      {"-s 2048k", [](auto& o) { return *o.sampleRate == 2048000; }},
      {"-s 1024000", [](auto& o) { return *o.sampleRate == 1024000; }},
      {"-d 1", [](auto& o) { return *o.device == "1"; }},
      {"-d 00000002", [](auto& o) { return *o.device == "00000002"; }},
      {"--lang en", [](auto& o) { return *o.language == wg::Language::English; }},
      // rtl_sdr's -T, -D and -O, apart or together.
      {"-T -D 2 -O", [](auto& o) { return o.biasTee && *o.directSampling == 2 && o.offsetTuning; }},
      {"-D1", [](auto& o) { return *o.directSampling == 1 && !o.biasTee && !o.offsetTuning; }},
      {"-D 0", [](auto& o) { return *o.directSampling == 0; }},
      {"--mode average", [](auto& o) { return *o.mode == wg::TraceMode::Average; }},
      {"--record - -n 10", [](auto& o) { return *o.record == "-" && *o.sweeps == 10; }},
      {"--record=- -e 1.5m", [](auto& o) { return *o.duration == 90s; }},
      {"--record - -e 2h", [](auto& o) { return *o.duration == 7200s; }},
      {"--record - -e 30", [](auto& o) { return *o.duration == 30s; }},
      // A relative file name is fixed against the folder the program started in.
      {"--record out.csv", [](auto& o) { return o.record->front() == '/' && o.record->ends_with("/out.csv"); }},
      {"--receiver-library " WG_SIM_LIB, [](auto& o) { return *o.receiverLibrary == WG_SIM_LIB; }},
      // rtl_power's survey shaping: a bin size, an interval, peak hold.
      {"--record - -f 144M:146M:10k -i 10s", [](auto& o) {
         return *o.stop == 146000000 && *o.binHz == 10000 && *o.intervalSeconds == 10 && !o.peakHold;
       }},
      {"--record - -i 2m -P", [](auto& o) { return !o.binHz && *o.intervalSeconds == 120 && o.peakHold; }},
      {"--record - -f 88M:108M", [](auto& o) { return !o.binHz && !o.intervalSeconds && !o.peakHold; }},
      // Cropped step edges, as rtl_power's -c reads the share.
      {"-c 0.25", [](auto& o) { return *o.crop == 0.25; }},
      {"-c 30%", [](auto& o) { return *o.crop == 0.3; }},
      {"-c 0", [](auto& o) { return *o.crop == 0; }},
      {"--record - -c 0.9", [](auto& o) { return *o.crop == 0.9; }},
      {"--record - --dc-spike", [](auto& o) { return o.dcSpike && !o.crop; }},
      {"--heatmap in.csv out.png", [](auto& o) { return *o.heatmap == "in.csv" && *o.heatmapOut == "out.png" && !o.heatmapWidth; }},
      {"--heatmap in.csv.gz --width 800 out.png", [](auto& o) { return *o.heatmapWidth == 800 && *o.heatmapOut == "out.png"; }},
  };
  for (const auto& c : cases) {
    const auto r = Parse(QString::fromUtf8(c.line));
    ASSERT_EQ(r.action, Action::Run) << c.line << ": " << r.text;
    EXPECT_TRUE(c.check(r.options)) << c.line;
  }
}

TEST(Options, RefusedValuesSayWhichOptionInOneLine) {
  const struct {
    const char* line;
    const char* names;  // the message quotes this
  } cases[] = {
      {"-f 88M", "-f '88M'"},
      {"-f 88M:108M:1k:2", "-f '88M:108M:1k:2'"},
      {"--record - -f 88M:108M:0", "-f '88M:108M:0'"},
      {"--record - -f 88M:108M:4M", "BIN must be"},
      {"--record - -f 88M:108M:", "-f '88M:108M:'"},
      {"-f 88M:108M:1k", "need --record"},
      {"-i 10", "need --record"},
      {"-P", "need --record"},
      {"--record - -i 0", "-i '0'"},
      {"--record - -i 1.5s", "-i '1.5s'"},
      {"--record - -i ten", "-i 'ten'"},
      {"-f 108M:88M", "STOP must be above START"},
      {"-f 50k:1M", "-f '50k:1M'"},
      {"-f 100M:4.1G", "-f '100M:4.1G'"},
      {"-f 88X:108M", "-f '88X:108M'"},
      {"-f inf:nan", "-f 'inf:nan'"},
      {"-f 1e400:2", "-f '1e400:2'"},
      {"-g loud", "-g 'loud'"},
      {"-g 200", "-g '200'"},
      {"-p 2700.5", "-p '2700.5'"},
      {"-p 3001", "-p '3001'"},
      {"-p 99999999999999999999", "-p '9999"},
      {"-s 1M", "-s '1M'"},
      {"-s 3.2", "-s '3.2'"},
      {"-d", "Missing value after '-d'"},
      {"--lang de", "--lang 'de'"},
      {"-D 3", "-D '3'"},
      {"-D q", "-D 'q'"},
      {"-D", "Missing value after '-D'"},
      {"--mode peak", "--mode 'peak'"},
      {"--record - -n 0", "-n '0'"},
      {"--record - -e 0s", "-e '0s'"},
      {"--record - -e 5d", "-e '5d'"},
      {"-n 3", "need --record"},
      {"--record - -n 3 -e 1m", "exclude each other"},
      {"-c 25", "-c '25'"},
      {"-c 95%", "-c '95%'"},
      {"-c -0.1", "-c '-0.1'"},
      {"-c half", "-c 'half'"},
      {"-c nan", "-c 'nan'"},
      {"--colour red", "Unknown option 'colour'"},
      {"--receiver-library /nonexistent/librtlsdr.so", "--receiver-library '/nonexistent/librtlsdr.so': no such file"},
      {"--receiver-library /tmp", "--receiver-library '/tmp': no such file"},
      {"extra", "unexpected argument 'extra'"},
      {"--heatmap in.csv", "expected the PNG file"},
      {"--heatmap in.csv out.png more", "unexpected argument 'more'"},
      {"--width 800", "--width needs --heatmap"},
      {"--heatmap a b --width 10", "--width '10'"},
      {"--heatmap a b --width 20000", "--width '20000'"},
      {"--heatmap a b --record -", "exclude each other"},
  };
  for (const auto& c : cases) {
    const auto r = Parse(QString::fromUtf8(c.line));
    ASSERT_EQ(r.action, Action::Error) << c.line;
    EXPECT_EQ(r.ExitStatus(), 2);
    EXPECT_TRUE(r.text.starts_with("wideglass: ")) << r.text;
    EXPECT_NE(r.text.find(c.names), std::string::npos) << c.line << " -> " << r.text;
    EXPECT_EQ(r.text.find('\n'), std::string::npos) << r.text;
  }
  // A value that tries to start a second line still gives one.
  EXPECT_EQ(wg::ParseOptions({"wideglass", "-d", "a\nb"}).text.find('\n'), std::string::npos);
}

TEST(Options, HelpAndVersionEndTheProgramWell) {
  const auto help = Parse(QStringLiteral("-p 5 --help"));
  EXPECT_EQ(help.action, Action::Help);
  EXPECT_EQ(help.ExitStatus(), 0);
  for (const char* o : {"-f", "-g", "-p", "-s", "-d", "--lang", "--record", "-n", "-e", "-i", "-P", "--mode", "--receiver-library",
                        "--heatmap", "--width", "--version"})
    EXPECT_NE(help.text.find(o), std::string::npos) << o;
  EXPECT_EQ(help.text.find("<executable_name>"), std::string::npos);
  const auto version = Parse(QStringLiteral("--version"));
  EXPECT_EQ(version.action, Action::Version);
  EXPECT_TRUE(version.text.starts_with("wideglass ")) << version.text;
}

TEST(Options, DeviceFoundAsRtlSdrFindsIt) {
  const std::vector<std::string> serials{"00000001", "00000002", "SDR-77", "12"};
  const struct {
    const char* wanted;
    std::optional<uint32_t> index;
  } cases[] = {
      {"0", 0u}, {"1", 1u}, {"3", 3u},  // an index below the count
      {"12", 3u},                       // not an index: the exact serial
      {"00000002", 2u},                 // all digits: an index, as rtl_sdr reads it
      {"SDR-77", 2u}, {"SDR", 2u},      // exact, then prefix
      {"77", 2u},                       // suffix
      {"0000000", 0u},                  // the first prefix wins
      {"9", std::nullopt}, {"", std::nullopt}, {"99999999999999", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(wg::FindDevice(c.wanted, serials), c.index) << c.wanted;
  EXPECT_EQ(wg::FindDevice("0", {}), std::nullopt);
  // Beyond the count, digits are read as a serial (the simulator's sticks).
  EXPECT_EQ(wg::FindDevice("00000002", {"00000001", "00000002"}), 1u);
  // Several share the range: a list in its order without repeats, or all;
  // one missing spoils the list.
  using List = std::optional<std::vector<uint32_t>>;
  const std::vector<std::string> three{"00000001", "00000002", "00000003"};
  EXPECT_EQ(wg::FindDevices("2,0", three), List({2, 0}));
  EXPECT_EQ(wg::FindDevices("0,00000003,0", three), List({0, 2}));
  EXPECT_EQ(wg::FindDevices("all", three), List({0, 1, 2}));
  EXPECT_EQ(wg::FindDevices("1", three), List(std::vector<uint32_t>{1}));
  EXPECT_EQ(wg::FindDevices("0,5", three), std::nullopt);
  EXPECT_EQ(wg::FindDevices("0,", three), std::nullopt);
  EXPECT_EQ(wg::FindDevices("all", {}), std::nullopt);
  EXPECT_EQ(wg::FindDevices("a,b", {"a,b"}), List(std::vector<uint32_t>{0})) << "a serial with a comma is one receiver";
  // A stick served by rtl_tcp, gr-osmosdr's way, alone or among local ones;
  // it needs no local list, and a malformed address spoils the list.
  const auto text = [](const std::optional<std::vector<wg::ReceiverChoice>>& chosen) {
    if (!chosen) return std::string("none");
    std::string t;
    for (const auto& c : *chosen) t += (c.remote ? c.remote->Text() : std::to_string(c.index)) + ";";
    return t;
  };
  EXPECT_EQ(text(wg::FindReceivers("rtl_tcp=pi.local", {})), "pi.local:1234;");
  EXPECT_EQ(text(wg::FindReceivers("0,rtl_tcp=10.0.0.2:7000", three)), "0;10.0.0.2:7000;");
  EXPECT_EQ(text(wg::FindReceivers("rtl_tcp=[::1]:9,2,rtl_tcp=[::1]:9", three)), "[::1]:9;2;");
  EXPECT_EQ(text(wg::FindReceivers("2,0,2", three)), "2;0;");
  // One server named twice, in one spelling or two, is used once, as first named.
  const std::pair<const char*, const char*> twice[] = {
      {"rtl_tcp=127.0.0.1:1234,rtl_tcp=127.0.0.1:1234", "127.0.0.1:1234;"},
      {"rtl_tcp=127.0.0.1,rtl_tcp=127.0.0.1:01234", "127.0.0.1:1234;"},
      {"rtl_tcp=localhost,rtl_tcp=127.0.0.1:1234", "localhost:1234;"},
      {"rtl_tcp=127.0.0.1,rtl_tcp=LocalHost.:1234", "127.0.0.1:1234;"},
      {"rtl_tcp=[::1]:9,rtl_tcp=[0:0::1]:9,rtl_tcp=[0:0:0:0:0:0:0:1]:9", "[::1]:9;"},
      {"rtl_tcp=pi:9,rtl_tcp=PI.:9,rtl_tcp=pi:10", "pi:9;pi:10;"},
  };
  for (const auto& [given, used] : twice) EXPECT_EQ(text(wg::FindReceivers(given, {})), used) << given;
  EXPECT_EQ(text(wg::FindReceivers("rtl_tcp=", three)), "none");
  EXPECT_EQ(text(wg::FindReceivers("rtl_tcp=pi:0", three)), "none");
  EXPECT_EQ(text(wg::FindReceivers("rtl_tcp=pi,7", three)), "none");
}

// Random command lines, from the options' own words and from noise: the
// parser always answers, an error is one line, and what it accepts lies
// within every option's limits.
TEST(Options, FuzzedCommandLinesNeverCrashOrEscapeTheLimits) {
  const QStringList words{
      "-f", "-g", "-p", "-s", "-d", "-n", "-e", "--lang", "--mode", "--record", "--help", "--version", "-h", "--",
      "-", "--f", "-fp", "-pf", "=", ":", "88M:108M", "146M:147", "auto", "49.6", "-5", "2700", "3000", "-3001",
      "2.4M", "3.2M", "1e9", "1e999", "nan", "inf", "-inf", "0x10", "k", "M:G", "1:1", "0:0", "00000001", "en",
      "ru", "live", "average", "5s", "2h", "1.5m", "0", "9999999999999999999999", "", " ", "\t", "é", "ё",
      "\xff\xfe", "-f=88M:108M", "--record=-", "--lang=", "-p=", "---", "-f-", "-g-1"};
  std::mt19937 rng(20261207);
  for (int round = 0; round < 20000; ++round) {
    QStringList args{QStringLiteral("wideglass")};
    const int n = std::uniform_int_distribution<int>(0, 8)(rng);
    for (int i = 0; i < n; ++i) {
      if (rng() % 5 == 0) {
        QByteArray noise(static_cast<int>(rng() % 12), '\0');
        for (char& b : noise) b = static_cast<char>(rng() % 256);
        args << QString::fromLocal8Bit(noise);
      } else {
        args << words[static_cast<int>(rng() % words.size())];
      }
    }
    const auto r = wg::ParseOptions(args);
    if (r.action == Action::Error) {
      ASSERT_TRUE(r.text.starts_with("wideglass: ")) << args.join(' ').toStdString();
      ASSERT_EQ(r.text.find('\n'), std::string::npos) << args.join(' ').toStdString();
      continue;
    }
    if (r.action != Action::Run) continue;
    const wg::Options& o = r.options;
    const std::string line = args.join(' ').toStdString();
    ASSERT_EQ(o.start.has_value(), o.stop.has_value()) << line;
    if (o.start) {
      ASSERT_GE(*o.start, wg::kMinStartHz) << line;
      ASSERT_LE(*o.stop, wg::kMaxStopHz) << line;
      ASSERT_GE(*o.stop - *o.start, wg::kMinSpanHz) << line;
    }
    ASSERT_TRUE(!o.ppm || (*o.ppm >= wg::kMinPpm && *o.ppm <= wg::kMaxPpm)) << line;
    ASSERT_TRUE(!o.sampleRate || wg::IsOfferedSampleRate(*o.sampleRate)) << line;
    ASSERT_TRUE(!o.gain || o.gain->automatic || std::abs(o.gain->tenthsDb) <= 1000) << line;
    ASSERT_TRUE(!o.sweeps || *o.sweeps >= 1) << line;
    ASSERT_TRUE(!o.duration || o.duration->count() > 0) << line;
    ASSERT_TRUE(!(o.sweeps || o.duration) || o.record.has_value()) << line;
  }
}

}  // namespace

// The real program: a bad option ends it with status 2 and one line before
// it opens a window (there is no display here: a window would abort it) or
// the receiver.
namespace {

struct Outcome {
  int status;
  QString out, err;
};

// The simulated receiver in the plugins folder, or (withPlugin false) none.
Outcome RunProgram(const QStringList& args, bool withPlugin = true) {
  QTemporaryDir dir;
  const QString exe = dir.filePath(QStringLiteral("wideglass"));
  QFile::copy(QStringLiteral(WG_PROGRAM), exe);
  QDir(dir.path()).mkdir(QStringLiteral("plugins"));
  if (withPlugin) QFile::link(QStringLiteral(WG_SIM_LIB), dir.filePath(QStringLiteral("plugins/librtlsdr.so")));
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("DISPLAY"));
  env.remove(QStringLiteral("WAYLAND_DISPLAY"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  env.insert(QStringLiteral("RTLSDR_SIM_DEVICES"), QStringLiteral("2"));
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
  p.setProcessEnvironment(env);
  p.start(exe, args);
  p.waitForFinished(30000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
          QString::fromLocal8Bit(p.readAllStandardError())};
}

TEST(CommandLine, ABadOptionEndsTheProgramBeforeAnyWindowOrReceiver) {
  const struct {
    QStringList args;
    const char* says;
  } cases[] = {
      {{"-p", "5000"}, "-p '5000'"},
      {{"-f", "153M:138M"}, "STOP must be above START"},
      {{"-d", "7"}, "-d '7': no such receiver (2 found: 0 00000001, 1 00000002)"},
      {{"-d", "SDR"}, "no such receiver"},
  };
  for (const auto& c : cases) {
    const Outcome r = RunProgram(c.args);
    EXPECT_EQ(r.status, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
  }
  // A library chosen on the command line is the one that lists the receivers.
  const Outcome chosen = RunProgram({"--receiver-library", WG_SIM_LIB, "-d", "7"}, false);
  EXPECT_TRUE(chosen.err.contains(QStringLiteral("no such receiver (2 found"))) << chosen.err.toStdString();
  const Outcome help = RunProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: wideglass [options]"))) << help.out.toStdString();
  EXPECT_TRUE(help.err.isEmpty());
}

}  // namespace
