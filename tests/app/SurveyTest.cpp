// The survey mode as its users run it: the real executable over the simulated
// receiver, its files read by a small reader of rtl_power files, and its
// carriers compared with what Debian's rtl_power finds in the same scene.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/common/RtlTcpServer.h"

namespace fs = std::filesystem;

namespace {

struct Line {
  int64_t low, high;
  double step;
  int samples;
  std::vector<double> db;
};

// Reads an rtl_power file strictly: every line whole, every field in
// rtl_power's form, one level more than (high - low) / step bins. Fails the
// test on the first line that does not read.
std::vector<Line> ReadRtlPower(const fs::path& p) {
  static const std::regex head(R"(^\d{4}-\d\d-\d\d, \d\d:\d\d:\d\d, (\d+), (\d+), (\d+\.\d\d), (\d+)((, -?\d+\.\d\d)+)$)");
  std::vector<Line> lines;
  std::ifstream in(p, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  EXPECT_TRUE(text.empty() || text.back() == '\n') << p << " ends inside a line";
  std::istringstream ls(text);
  for (std::string s; std::getline(ls, s);) {
    std::smatch m;
    if (!std::regex_match(s, m, head)) {
      ADD_FAILURE() << p << ": not an rtl_power line: " << s.substr(0, 120);
      return lines;
    }
    Line l{std::stoll(m[1]), std::stoll(m[2]), std::stod(m[3]), std::stoi(m[4]), {}};
    std::istringstream vs(m[5].str());
    for (std::string v; std::getline(vs, v, ',');)
      if (!v.empty()) l.db.push_back(std::stod(v));
    EXPECT_EQ(static_cast<double>(l.db.size()), std::round((l.high - l.low) / l.step) + 1) << s.substr(0, 80);
    lines.push_back(std::move(l));
  }
  return lines;
}

struct Peak {
  double hz = 0, db = -1e9, floor = 0;
};

// The strongest bin within 20 kHz of `hz`, and its height above the file's
// median, its floor.
Peak PeakNear(const std::vector<Line>& lines, double hz) {
  std::vector<double> all;
  Peak best;
  for (const Line& l : lines) {
    const size_t bins = l.db.size() - 1;  // the repeated last level is no bin
    for (size_t i = 0; i < bins; ++i) {
      all.push_back(l.db[i]);
      const double f = static_cast<double>(l.low) + static_cast<double>(i) * l.step;
      if (std::abs(f - hz) < 20000 && l.db[i] > best.db) best = {f, l.db[i], 0};
    }
  }
  std::nth_element(all.begin(), all.begin() + static_cast<long>(all.size() / 2), all.end());
  best.floor = all[all.size() / 2];
  best.db -= best.floor;
  return best;
}

class Survey : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("wg_survey_" + std::to_string(::getpid()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "plugins");
    fs::copy_file(WG_EXE, dir / "wideglass");
    fs::create_symlink(WG_SIM_LIB, dir / "plugins" / "librtlsdr.so");
    // Settings and anything else the program might keep stay in here.
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("RTLSDR_SIM_PACE", "0", 1);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs a command line (the program is "wideglass"); standard output and
  // error go to files. Returns the exit status.
  int Run(const std::string& args, const std::string& env = "", int seconds = 60) {
    const std::string cmd = "cd '" + dir.string() + "' && timeout -s KILL " + std::to_string(seconds) + " env " + env +
                            " " + args + " >out.txt 2>err.txt </dev/null";
    const int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  std::string Err() { return Slurp(dir / "err.txt"); }
  void SignalsFileListsTheSceneEmitters(const std::string& run);

  // The carriers of a scene surveyed by wideglass (one averaged sweep of
  // 144-150 MHz, `ours` added to its options) and by rtl_power (`theirs`
  // added), both on the simulator with `env` besides, both with `withBin` as
  // BIN (rtl_power's finest when empty): each found by both at the same
  // frequency within a bin, with the same level differences within 2 dB, and
  // with `asScene` wideglass's within 1 dB of the scene's. The lines of both files.
  std::pair<std::vector<Line>, std::vector<Line>> CompareCarriers(
      const std::vector<std::pair<double, double>>& carriers, const std::string& ours, const std::string& theirs,
      const std::string& env, bool asScene, const std::string& withBin = "") {
    {
      std::ofstream scene(dir / "scene.txt");
      for (auto [hz, db] : carriers) scene << std::fixed << hz << " " << db << " carrier\n";
    }
    const std::string sim = env + " RTLSDR_SIM_SCENE='" + (dir / "scene.txt").string() + "'";
    const std::string binField = withBin.empty() ? "" : ":" + withBin;
    fs::remove(dir / "wg.csv");
    EXPECT_EQ(Run("./wideglass --record wg.csv -f 144M:150M" + binField + " -n 1 --mode average" + ours, sim), 0) << Err();
    EXPECT_EQ(Run(std::string(WG_RTL_POWER) + " -f 144M:150M" + (withBin.empty() ? ":781.25" : binField) + " -i 1 -1" + theirs + " rp.csv",
                  sim + " LD_LIBRARY_PATH='" + fs::path(WG_SIM_LIB).parent_path().string() + "'"),
              0)
        << Err();
    auto wg = ReadRtlPower(dir / "wg.csv");
    auto rp = ReadRtlPower(dir / "rp.csv");
    if (wg.empty() || rp.empty()) {
      ADD_FAILURE() << "no lines: wideglass " << wg.size() << ", rtl_power " << rp.size();
      return {};
    }
    const double bin = std::max(wg[0].step, rp[0].step);
    Peak wg0{}, rp0{};
    for (size_t i = 0; i < carriers.size(); ++i) {
      const Peak a = PeakNear(wg, carriers[i].first), b = PeakNear(rp, carriers[i].first);
      std::printf("carrier %.2f Hz %.0f dB: wideglass %.2f Hz %+.2f dB, rtl_power %.2f Hz %+.2f dB\n",
                  carriers[i].first, carriers[i].second, a.hz, a.db, b.hz, b.db);
      EXPECT_GT(a.db, 10) << "wideglass misses " << carriers[i].first;
      EXPECT_GT(b.db, 10) << "rtl_power misses " << carriers[i].first;
      EXPECT_LE(std::abs(a.hz - b.hz), bin) << carriers[i].first;
      if (i == 0) {
        wg0 = a, rp0 = b;
        continue;
      }
      EXPECT_NEAR(a.db - wg0.db, b.db - rp0.db, 2.0) << carriers[i].first;
      if (asScene) {
        EXPECT_NEAR(a.db - wg0.db, carriers[i].second - carriers[0].second, 1.0) << carriers[i].first;
      }
    }
    return {std::move(wg), std::move(rp)};
  }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path dir;
};

TEST_F(Survey, FilesReadAsRtlPowerFilesInEveryMode) {
  struct Case {
    const char* args;
    size_t lines;
    int samples;
  };
  const Case cases[] = {
      {"./wideglass --record live.csv -n 2", 10, 1},
      {"./wideglass --record - -n 1 --mode average", 5, 8},
      // 1750-1790 MHz: only the steps the tuner reaches (up to 1766 MHz).
      {"./wideglass --record untuned.csv -f 1750M:1790M -n 2", 0, 1},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Run(c.args), 0) << c.args << "\n" << Err();
    const std::string a = c.args;
    const fs::path file = dir / (a.find("live") != std::string::npos ? "live.csv"
                                 : a.find("untuned") != std::string::npos ? "untuned.csv" : "out.txt");
    const auto lines = ReadRtlPower(file);
    if (c.lines) {
      EXPECT_EQ(lines.size(), c.lines) << c.args;
    }
    for (const Line& l : lines) {
      EXPECT_EQ(l.samples, c.samples) << c.args;
      EXPECT_EQ(l.step, 781.25) << c.args;
      EXPECT_EQ(l.high - l.low, 3200000) << c.args;
    }
    if (a.find("untuned") != std::string::npos) {
      ASSERT_EQ(lines.size(), 2u * 5) << "the steps from 1750 to 1762.8 MHz, twice";
      for (const Line& l : lines) EXPECT_LT(l.low, 1766000000);
      EXPECT_NE(Err().find("1766"), std::string::npos) << Err();
    }
  }

  // A rate whose points cannot reach the stop: the file ends lower, and one
  // line says where.
  ASSERT_EQ(Run("./wideglass --record cut.csv -f 24M:1766M -s 1.024M --fast -n 1"), 0) << Err();
  EXPECT_EQ(Err(), "wideglass: the scan ends at 1304 MHz instead of 1766 MHz: at 1024000 Hz a sweep spans at most "
                   "1280 MHz\n");
  std::ifstream in(dir / "cut.csv");
  std::string line, last;
  while (std::getline(in, line)) last = line;
  ASSERT_GT(last.size(), 40u);
  EXPECT_EQ(last.substr(22, 22), "1302976000, 1304000000") << last.substr(0, 60);
}

TEST_F(Survey, FailuresSayWhyInOneLineAndKeepWhatWasWritten) {
  struct Case {
    const char* args;
    const char* env;
    const char* says;
  };
  const Case cases[] = {
      {"./wideglass --record a.csv -n 2", "RTLSDR_SIM_DEVICES=0", "no receiver found"},
      {"./wideglass --record a.csv -n 2", "RTLSDR_SIM_OPEN_FAIL=1", "could not be opened"},
      {"./wideglass --record a.csv", "RTLSDR_SIM_FAULT=error RTLSDR_SIM_FAULT_AFTER=12", "the receiver stopped"},
      {"./wideglass --record /dev/full -n 3", "", "No space left on device"},
      {"./wideglass --record no/such/folder.csv -n 1", "", "No such file or directory"},
      // Nothing of the range can be measured: an empty file is no survey.
      {"./wideglass --record a.csv -f 1800M:1900M -n 2", "", "cannot tune to any frequency from 1800 to 1900 MHz"},
      {"./wideglass --record a.csv -f 1110M:1240M -n 2", "RTLSDR_SIM_TUNER=e4000", "cannot tune"},
  };
  for (const Case& c : cases) {
    fs::remove(dir / "a.csv");
    EXPECT_EQ(Run(c.args, c.env), 1) << c.args << " " << c.env;
    const std::string err = Err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    if (fs::exists(dir / "a.csv")) {
      EXPECT_EQ(ReadRtlPower(dir / "a.csv").size() % 5, 0u) << c.env;
    }
  }
}

// A stick that drops out every five reads, for 100 ms: each return goes on
// from the step where it dropped out, so sweeps of seven steps still end.
TEST_F(Survey, AStickThatKeepsDroppingOutStillFinishesItsSweeps) {
  const std::string flaky = "RTLSDR_SIM_FAULT=unplug RTLSDR_SIM_FAULT_AFTER=5 RTLSDR_SIM_REPLUG_MS=100";
  ASSERT_EQ(Run("./wideglass --record c.csv -f 138M:160M -n 2 --lang en", flaky), 0) << Err();
  const auto lines = ReadRtlPower(dir / "c.csv");
  ASSERT_EQ(lines.size(), 2u * 7);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].low, 138000000 + static_cast<int64_t>(i % 7) * 3200000);
}

// A stick pulled out after two sweeps and back 1.5 s later: the survey says
// so each way, waits, and writes the sweeps it was asked for; a duration
// still ends it as asked while the stick is away.
TEST_F(Survey, AStickPulledOutIsWaitedForAndTheSurveyGoesOn) {
  const std::string unplug = "RTLSDR_SIM_FAULT=unplug RTLSDR_SIM_FAULT_AFTER=10 RTLSDR_SIM_REPLUG_MS=1500";
  ASSERT_EQ(Run("./wideglass --record a.csv -n 6 --lang ru", unplug), 0) << Err();
  EXPECT_EQ(ReadRtlPower(dir / "a.csv").size(), 6u * 5);
  const std::string err = Err();
  const std::string gone = "Приёмник отключён (серийный номер 00000001): ожидаю его возвращения";
  const std::string back = "Приёмник снова подключён (серийный номер 00000001): сканирование продолжается";
  // Each handle dies at its eleventh read: six sweeps see it go and come back twice.
  EXPECT_NE(err.find("wideglass: " + gone + "\nwideglass: " + back + "\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("stopped"), std::string::npos) << err;

  const std::string away = "RTLSDR_SIM_FAULT=unplug RTLSDR_SIM_FAULT_AFTER=10 RTLSDR_SIM_REPLUG_MS=60000";
  ASSERT_EQ(Run("./wideglass --record b.csv -e 4 --lang en", away), 0) << Err();
  const size_t lines = ReadRtlPower(dir / "b.csv").size();
  EXPECT_LE(lines, 2u * 5);
  EXPECT_EQ(lines % 5, 0u);
  // Two sweeps take far less than the four seconds; on a very busy machine
  // the stick may not have been pulled out yet, or pulled out with its
  // second sweep not yet written when the time was up. Nothing else is said.
  const std::string said = Err();
  if (!said.empty()) {
    EXPECT_EQ(said, "wideglass: Receiver unplugged (serial 00000001): waiting for it to come back\n");
  }
}

// Sweeps are written an interval at a time: a survey that ends before its
// first interval is complete says so and ends with status 1; one that
// completes an interval writes it.
TEST_F(Survey, ASurveyShorterThanItsIntervalSaysNothingWasWritten) {
  struct Case {
    const char* args;
    int status;
  };
  const Case cases[] = {
      {"-e 2 -i 10s", 1},
      {"-n 1 -i 1h", 1},
      {"-e 3.5 -i 1", 0},
  };
  for (const Case& c : cases) {
    fs::remove(dir / "i.csv");
    EXPECT_EQ(Run(std::string("./wideglass --record i.csv -f 144M:146M ") + c.args), c.status) << c.args << Err();
    const std::string err = Err();
    EXPECT_EQ(err.rfind("wideglass: no interval of ", 0) == 0 && std::count(err.begin(), err.end(), '\n') == 1,
              c.status == 1)
        << err;
    EXPECT_EQ(fs::exists(dir / "i.csv") && fs::file_size(dir / "i.csv") > 0, c.status == 0) << c.args;
  }
}

// One stick of several hangs in a read, or fails one, in the second sweep:
// it is said once, naming it, its part of that sweep is not written, the
// others sweep the whole range from then on, and the survey ends as asked.
TEST_F(Survey, OneStickOfSeveralThatHangsOrFailsIsSaidOnceAndTheOthersGoOn) {
  struct Case {
    const char* sticks;
    const char* fault;
    const char* after;
    const char* says;
  };
  const Case cases[] = {
      {"2", "none,hang", "0,59", "Receiver 00000002 does not respond"},
      {"4", "none,none,hang,none", "0,0,30,0", "Receiver 00000003 does not respond"},
      {"8", "none,none,none,none,none,none,none,error", "0,0,0,0,0,0,0,15", "Read error on receiver 00000008"},
      {"8", "none,short", "0,15", "Read error on receiver 00000002"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    fs::remove(dir / "h.csv");
    const std::string env = std::string("RTLSDR_SIM_DEVICES=") + c.sticks + " RTLSDR_SIM_FAULT=" + c.fault +
                            " RTLSDR_SIM_FAULT_AFTER=" + c.after;
    ASSERT_EQ(Run("./wideglass --record h.csv -f 24M:400M -n 4 -d all --lang en", env), 0) << Err();
    const std::string err = Err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind(std::string("wideglass: ") + c.says, 0), 0u) << err;
    // 118 steps a sweep; the one it failed in lacks the rest of its part.
    const auto lines = ReadRtlPower(dir / "h.csv");
    EXPECT_GT(lines.size(), 3 * 118u);
    EXPECT_LT(lines.size(), 4 * 118u);
    ASSERT_GE(lines.size(), 118u);
    for (size_t i = 0; i < 118; ++i)
      EXPECT_EQ(lines[lines.size() - 118 + i].low, 24000000 + static_cast<int64_t>(i) * 3200000) << i;
  }
}

TEST_F(Survey, ASignalEndsItWithWholeSweepsAndStatusZero) {
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  for (int sig : {SIGINT, SIGTERM}) {
    fs::remove(dir / "s.csv");
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::chdir(dir.c_str());
      ::execl("./wideglass", "wideglass", "--record", "s.csv", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!fs::exists(dir / "s.csv") || fs::file_size(dir / "s.csv") == 0) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(pid, sig);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st)) << sig;
    EXPECT_EQ(WEXITSTATUS(st), 0) << sig;
    const auto lines = ReadRtlPower(dir / "s.csv");
    EXPECT_GE(lines.size(), 5u);
    EXPECT_EQ(lines.size() % 5, 0u);
  }
}

// Once a signal has been taken off the process's pending set, the next one
// of the same kind counts on its own.
void WaitDelivered(pid_t pid, int sig) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    bool pending = false;
    for (std::string l; std::getline(status, l);)
      if (l.rfind("ShdPnd:", 0) == 0) pending = (std::stoull(l.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    if (!pending) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ADD_FAILURE() << "signal " << sig << " still pending";
}

// A second signal ends it at once, even while the first one's finish is still
// writing: the file still holds whole lines of whole sweeps only.
TEST_F(Survey, ASecondSignalEndsItAtOnceWithoutAPartialLine) {
  // Wide sweeps make megabytes of lines each, so the signals land mid-write.
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::chdir(dir.c_str());
    ::execl("./wideglass", "wideglass", "--record", "w.csv", "-f", "24M:1766M", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  while ((!fs::exists(dir / "w.csv") || fs::file_size(dir / "w.csv") == 0) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(pid, SIGINT);
  // Sent while the first is still pending, the second would merge with it.
  WaitDelivered(pid, SIGINT);
  ::kill(pid, SIGINT);
  const auto signalled = std::chrono::steady_clock::now();
  int st = 0;
  ::waitpid(pid, &st, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(5));
  ASSERT_TRUE(WIFEXITED(st));
  // 130 when the second signal cut the finish short, 0 when the finish was quicker.
  EXPECT_TRUE(WEXITSTATUS(st) == 128 + SIGINT || WEXITSTATUS(st) == 0) << WEXITSTATUS(st);
  const auto lines = ReadRtlPower(dir / "w.csv");
  ASSERT_FALSE(lines.empty());
  size_t steps = 1;
  while (steps < lines.size() && lines[steps].low != lines[0].low) ++steps;
  EXPECT_GT(steps, 500u);
  EXPECT_EQ(lines.size() % steps, 0u) << lines.size() << " lines of " << steps << "-step sweeps";
}

// A reader that stops reading: the survey blocks in the middle of a line. A
// second signal lets it finish that line only, and it ends as soon as the
// reader reads again; a third ends it without waiting for the reader.
TEST_F(Survey, ASecondSignalFinishesTheLineUnderWayForAReaderThatDawdles) {
  for (const bool third : {false, true}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      ::chdir(dir.c_str());
      // Sweeps of megabytes: the pipe is full long before the first is out.
      ::execl("./wideglass", "wideglass", "--record", "-", "-f", "24M:1766M", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    pollfd ready{fds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 60000), 1) << "no output";
    ::kill(pid, SIGINT);
    WaitDelivered(pid, SIGINT);
    ::kill(pid, SIGTERM);
    if (third) {
      WaitDelivered(pid, SIGTERM);
      ::kill(pid, SIGINT);
      int st = 0;
      ::waitpid(pid, &st, 0);
      ASSERT_TRUE(WIFEXITED(st));
      // The third signal ends it (130); 143 when the second found no line
      // under way and had ended it already. Either way no reader was waited for.
      EXPECT_TRUE(WEXITSTATUS(st) == 128 + SIGINT || WEXITSTATUS(st) == 128 + SIGTERM) << WEXITSTATUS(st);
      ::close(fds[0]);
      continue;
    }
    std::string text;
    char buf[65536];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;)
      if (n > 0) text.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 128 + SIGTERM);
    std::ofstream(dir / "piped.csv", std::ios::binary) << text;
    const auto lines = ReadRtlPower(dir / "piped.csv");
    EXPECT_FALSE(lines.empty());
    // What the pipe held, the line under way and what a busy machine let
    // through before the signal took effect (63 lines seen with both cores
    // loaded); never the rest of the sweep's 545.
    EXPECT_LT(lines.size(), 545u / 2);
  }
}

// -f START:STOP:BIN and -i: one line of 9375 Hz bins (the most whole bins of
// 781.25 Hz within 10 kHz) from 144 MHz to no further than 146, one set per
// second, each integrating the sweeps that ended in it.
TEST_F(Survey, BinsAndIntervalsShapeTheLines) {
  ASSERT_EQ(Run("./wideglass --record i.csv -f 144M:146M:10k -i 1 -e 3.5"), 0) << Err();
  const auto lines = ReadRtlPower(dir / "i.csv");
  ASSERT_GE(lines.size(), 1u);
  EXPECT_LE(lines.size(), 4u);
  for (size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    EXPECT_EQ(l.step, 9375);
    EXPECT_EQ(l.low, 144004297);  // the middle of bins 0 to 11
    EXPECT_EQ(l.high, 145991797);
    EXPECT_EQ(l.db.size(), 212u + 1);
    // The first interval ends at the next whole second: on a busy machine
    // the first sweep may end it alone.
    if (i > 0) {
      EXPECT_GE(l.samples, 2) << "an interval of one sweep";
    }
  }
  // A BIN below the finest bin is said, and the finest written.
  ASSERT_EQ(Run("./wideglass --record f.csv -f 144M:146M:500 -n 1"), 0) << Err();
  EXPECT_EQ(Err(), "wideglass: BIN 500 Hz is narrower than the finest bin at 3200000 Hz: bins of 781.25 Hz are written\n");
  EXPECT_EQ(ReadRtlPower(dir / "f.csv").at(0).step, 781.25);
  std::ifstream in(dir / "i.csv");
  std::vector<std::string> times;
  for (std::string l; std::getline(in, l);) times.push_back(l.substr(0, 20));
  for (size_t i = 1; i < times.size(); ++i) EXPECT_LT(times[i - 1], times[i]) << "one set of lines per interval";
}

// Weak carriers (rtl_power's 16-bit arithmetic overflows above about -23 dB)
// on both grids: every carrier found by both programs at the same frequency
// within a bin, with the same level differences within 2 dB.
TEST_F(Survey, FindsTheCarriersRtlPowerFinds) {
  if (std::string(WG_RTL_POWER).empty()) GTEST_SKIP() << "rtl_power (Debian package rtl-sdr) not found";
  CompareCarriers({{144585937.5, -30}, {145367187.5, -40}, {146343750, -50}, {147320312.5, -35}, {148687500, -45}},
                  "", "", "", false);
}

// BIN as rtl_power's: bins no wider than it within START-STOP, each the power
// within its width: a carrier (on both programs' grids, inside the bins
// joined) reads the same level at every BIN, the noise floor rises with the
// width joined less the window's noise bandwidth (1.79 bins), and the
// carriers stand apart as in rtl_power's file at the same BIN.
TEST_F(Survey, BinsHoldThePowerWithinThemAsRtlPowersDo) {
  if (std::string(WG_RTL_POWER).empty()) GTEST_SKIP() << "rtl_power (Debian package rtl-sdr) not found";
  const std::vector<std::pair<double, double>> carriers = {{144250000, -28}, {145250000, -34}, {147250000, -31}};
  struct Case {
    const char* bin;
    double step;
    int joined;
  } const cases[] = {{"1k", 781.25, 1}, {"10k", 9375, 12}, {"100k", 100000, 128}};
  std::vector<Peak> finest;
  for (const Case& c : cases) {
    const auto wg = CompareCarriers(carriers, "", "", "", false, c.bin).first;
    ASSERT_FALSE(wg.empty()) << c.bin;
    for (const Line& l : wg) {
      EXPECT_EQ(l.step, c.step) << c.bin;
      EXPECT_TRUE(l.low >= 144000000 && l.high <= 150000000) << c.bin << ": " << l.low << " to " << l.high;
    }
    EXPECT_GT(static_cast<double>(wg.back().high), 150000000 - 1.5 * c.step) << c.bin;
    for (size_t i = 0; i < carriers.size(); ++i) {
      const Peak p = PeakNear(wg, carriers[i].first);
      if (c.joined == 1) finest.push_back(p);
      EXPECT_NEAR(p.db + p.floor, finest[i].db + finest[i].floor, 1.0) << c.bin << " " << carriers[i].first;
      EXPECT_NEAR(p.floor - finest[i].floor, c.joined == 1 ? 0 : 10 * std::log10(c.joined / 1.79), 1.5) << c.bin;
    }
  }
}

// The filtered stick, steps cropped by a quarter in both programs: each
// line's bins span Hz low to Hz high and the lines join without a gap; the
// carriers, some where an uncropped step's filter would roll them off, read
// their levels relative to each other as the scene has them, and as
// rtl_power reads them. They lie on both programs' bin grids (every 3906.25 Hz).
TEST_F(Survey, CroppedStepsReadAsRtlPowersCroppedHops) {
  if (std::string(WG_RTL_POWER).empty()) GTEST_SKIP() << "rtl_power (Debian package rtl-sdr) not found";
  const auto [wg, rp] = CompareCarriers({{144585937.5, -30}, {145996093.75, -40}, {146398437.5, -35},
                                         {147101562.5, -45}, {148500000, -38}},
                                        " -c 25%", " -c 0.25", "RTLSDR_SIM_FILTER=1", true);
  ASSERT_EQ(wg.size(), 3u);
  for (size_t i = 0; i < wg.size(); ++i) {
    EXPECT_EQ(wg[i].low, 144000000 + static_cast<int64_t>(i) * 2400000);
    EXPECT_EQ(wg[i].high - wg[i].low, 2400000);
    EXPECT_EQ(wg[i].step, 781.25);
    EXPECT_EQ(wg[i].db.size(), 3072u + 1);
  }
  for (const auto* lines : {&wg, &rp})
    for (size_t i = 0; i < lines->size(); ++i) {
      const Line& l = (*lines)[i];
      const double end = static_cast<double>(l.low) + static_cast<double>(l.db.size() - 1) * l.step;
      EXPECT_NEAR(end, static_cast<double>(l.high), 4.0) << i;
      if (i > 0) {
        EXPECT_NEAR(static_cast<double>(l.low), static_cast<double>((*lines)[i - 1].high), 4.0) << i;
      }
    }
}

// rtl_sdr's -T, -D and -O reach the stick: direct sampling hears HF below
// the tuner's 24 MHz, the bias-T powers the amplifier at the antenna, and an
// option the stick refuses is one line while the survey goes on.
TEST_F(Survey, BiasTeeDirectSamplingAndOffsetTuningFromTheCommandLine) {
  // The VHF carrier stands well clear of the noise even without the
  // amplifier, so that its own level is compared, not the noise's highest bin.
  std::ofstream(dir / "scene.txt") << "7100000 -40 carrier\n146000000 -40 carrier\n";
  const std::string env = "RTLSDR_SIM_SCENE='" + (dir / "scene.txt").string() + "' RTLSDR_SIM_LNA_DB=20";
  ASSERT_EQ(Run("./wideglass --record hf.csv -f 6M:9M -n 1 -D 2", env), 0) << Err();
  EXPECT_EQ(Err(), "");
  const auto hf = ReadRtlPower(dir / "hf.csv");
  ASSERT_FALSE(hf.empty());
  EXPECT_GT(PeakNear(hf, 7100000).db, 20);
  // Without it the tuner reaches nothing there: no line is written, and the
  // survey says so and fails.
  ASSERT_EQ(Run("./wideglass --record none.csv -f 6M:9M -e 1s", env), 1) << Err();
  EXPECT_EQ(Err(), "wideglass: the receiver cannot tune to any frequency from 6 to 9 MHz\n");
  EXPECT_TRUE(ReadRtlPower(dir / "none.csv").empty());

  ASSERT_EQ(Run("./wideglass --record off.csv -f 145M:147M -n 1", env), 0) << Err();
  ASSERT_EQ(Run("./wideglass --record on.csv -f 145M:147M -n 1 -T", env), 0) << Err();
  EXPECT_EQ(Err(), "");
  const auto level = [](const std::vector<Line>& lines) {
    double best = -1e9;
    for (const Line& l : lines)
      for (size_t i = 0; i + 1 < l.db.size(); ++i)
        if (std::abs(static_cast<double>(l.low) + static_cast<double>(i) * l.step - 146e6) < 20000)
          best = std::max(best, l.db[i]);
    return best;
  };
  EXPECT_NEAR(level(ReadRtlPower(dir / "on.csv")) - level(ReadRtlPower(dir / "off.csv")), 20, 1);

  // The R820T refuses offset tuning; an E4000 takes it.
  ASSERT_EQ(Run("./wideglass --record ot.csv -f 145M:147M -n 1 -O", env), 0) << Err();
  EXPECT_EQ(Err(), "wideglass: -O: the receiver refused offset tuning; going on without it\n");
  EXPECT_FALSE(ReadRtlPower(dir / "ot.csv").empty());
  ASSERT_EQ(Run("./wideglass --record ot4.csv -f 145M:147M -n 1 -O", env + " RTLSDR_SIM_TUNER=e4000"), 0) << Err();
  EXPECT_EQ(Err(), "");
}

// A stick on another computer, served by Debian's rtl_tcp over the simulator
// and chosen as gr-osmosdr names it: alone and beside a local one it shows
// the carrier where and as strong as a local stick does; nothing listening
// ends the survey with one line; a server gone mid-survey is waited for.
class RemoteSurvey : public Survey {
 protected:
  void SetUp() override {
    Survey::SetUp();
    if (std::string(WG_RTL_TCP).empty()) GTEST_SKIP() << "rtl_tcp (Debian package rtl-sdr) not found";
    std::ofstream(dir / "scene.txt") << "100312500 -40 carrier\n";
    ::setenv("RTLSDR_SIM_SCENE", (dir / "scene.txt").c_str(), 1);
    server = std::make_unique<wgtest::RtlTcpServer>(
        WG_RTL_TCP, fs::path(WG_SIM_LIB).parent_path().string(),
        std::map<std::string, std::string>{{"RTLSDR_SIM_SCENE", (dir / "scene.txt").string()},
                                           {"RTLSDR_SIM_PACE", "1"}, {"RTLSDR_SIM_FILTER", "0"}});
    ASSERT_TRUE(server->Start());
    remote = "rtl_tcp=127.0.0.1:" + std::to_string(server->Port());
  }

  std::unique_ptr<wgtest::RtlTcpServer> server;
  std::string remote;
};

TEST_F(RemoteSurvey, ShowsTheCarrierAsALocalStickDoesAloneAndBesideOne) {
  ASSERT_EQ(Run("./wideglass --record local.csv -f 88M:108M -n 1 -d 0"), 0) << Err();
  const Peak local = PeakNear(ReadRtlPower(dir / "local.csv"), 100312500);
  EXPECT_GT(local.db, 20);
  for (const std::string& d : {remote, "0," + remote, remote + ",0"}) {
    fs::remove(dir / "r.csv");  // the survey adds to a file that is there
    ASSERT_EQ(Run("./wideglass --record r.csv -f 88M:108M -n 2 -d " + d), 0) << d << "\n" << Err();
    const auto lines = ReadRtlPower(dir / "r.csv");
    ASSERT_EQ(lines.size(), 2 * 7u) << d;
    const Peak p = PeakNear(lines, 100312500);
    EXPECT_LE(std::abs(p.hz - local.hz), lines[0].step) << d;
    EXPECT_NEAR(p.db, local.db, 1.0) << d;
  }
}

TEST_F(RemoteSurvey, NothingListeningIsOneLineAndStatusOne) {
  const std::string nowhere = "rtl_tcp=127.0.0.1:" + std::to_string(wgtest::FreePort());
  EXPECT_EQ(Run("./wideglass --record n.csv -n 1 -d " + nowhere), 1);
  const std::string err = Err();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find(nowhere), std::string::npos) << err;
  EXPECT_EQ(Run("./wideglass --record n.csv -n 1 -d rtl_tcp=127.0.0.1:99999"), 2) << "a port out of range";
  EXPECT_NE(Err().find("no such receiver"), std::string::npos) << Err();
}

// A server that closes each connection right after its header is said once,
// naming it, and the survey keeps trying until its time is up.
TEST_F(RemoteSurvey, AServerThatClosesAfterItsHeaderIsSaidAndTheSurveyEndsOnTime) {
  // An R820T's header, then the connection closed.
  wgtest::FakeServer closing(wgtest::FakeServer::Header("RTL0", 5, 29), 0, true);
  const std::string where = "rtl_tcp=127.0.0.1:" + std::to_string(closing.Port());
  EXPECT_EQ(Run("./wideglass --record c.csv -e 3 -d " + where, "", 30), 0);
  const std::string err = Err();
  // The reason once; beside it only the reconnecting lines (a check may
  // catch a new connection in the moment before it is lost again).
  const std::string why = "wideglass: " + where + " closed the connection right after its header, before any sample";
  EXPECT_NE(err.find(why), std::string::npos) << err;
  EXPECT_EQ(err.find(why), err.rfind(why)) << err;
  std::istringstream lines(err);
  for (std::string l; std::getline(lines, l);)
    EXPECT_TRUE(l.rfind(why, 0) == 0 || l.find("connection to the remote receiver was lost") != std::string::npos ||
                l.find("connected again") != std::string::npos)
        << l;
  EXPECT_GE(closing.Accepted().size(), 2u) << "tried again";
}

// The server killed and started again, paused for three seconds (longer than
// a read waits for a byte), or asked to end and started again, once the
// first sweep is written: the survey waits, says so each way, and writes its
// sweeps whole with status 0.
TEST_F(RemoteSurvey, AServerGoneOrPausedMidSurveyIsWaitedForAndEverySweepIsWhole) {
  struct Case {
    const char* what;
    std::function<void(wgtest::RtlTcpServer&)> act;
  };
  const Case cases[] = {
      {"killed",
       [](wgtest::RtlTcpServer& s) {
         s.Kill();
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
         ASSERT_TRUE(s.Start(s.Port()));
       }},
      {"paused",
       [](wgtest::RtlTcpServer& s) {
         s.Signal(SIGSTOP);
         std::this_thread::sleep_for(std::chrono::seconds(3));
         s.Signal(SIGCONT);
       }},
      {"ended",
       [](wgtest::RtlTcpServer& s) {
         // rtl_tcp finishes its client first; one that does not end soon
         // is killed, as its user would.
         s.Signal(SIGTERM);
         s.WaitEnded(std::chrono::seconds(5));
         ASSERT_TRUE(s.Start(s.Port()));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(dir / "k.csv");
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::chdir(dir.c_str());
      ::freopen("err.txt", "w", stderr);
      ::execl("./wideglass", "wideglass", "--record", "k.csv", "-f", "24M:400M", "-n", "2", "-d", remote.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((!fs::exists(dir / "k.csv") || fs::file_size(dir / "k.csv") == 0) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    c.act(*server);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0) << Err();
    const auto lines = ReadRtlPower(dir / "k.csv");
    EXPECT_EQ(lines.size(), 2 * 118u) << "two whole sweeps";
    const std::string err = Err();
    EXPECT_NE(err.find("connection to the remote receiver was lost"), std::string::npos) << err;
    EXPECT_NE(err.find("connected again"), std::string::npos) << err;
    EXPECT_EQ(err.find("does not respond"), std::string::npos) << err;
    EXPECT_GT(PeakNear(lines, 100312500).db, 20);
    if (!server->WaitEnded(std::chrono::milliseconds(0))) continue;
    ASSERT_TRUE(server->Start(server->Port()));  // for the next case
  }
}

}  // namespace

namespace {

// The default scene's emitters between 138 and 153 MHz: frequency, and how
// far either side of it they swing.
const std::pair<double, double> kSceneEmitters[] = {
    {138512500, 0},     {140125000, 0},     {141850000, 5000}, {144800000, 5000}, {145500000, 0},
    {146520000, 0},     {147950000, 40000}, {150775000, 5000}, {151400000, 0},    {152050000, 0}};

// The survey's signal table after `run`: the emitters of the default scene
// found, one row each and nothing else, the file whole with its header,
// written when the survey ends.
void Survey::SignalsFileListsTheSceneEmitters(const std::string& run) {
  SCOPED_TRACE(run);
  // A machine so busy that the stick's reading thread waits a second makes
  // the survey take the stick for hung; that is not what is tried here.
  const std::string survey = "./wideglass --lang en --record live.csv --signals signals.csv " + run;
  int rc = Run(survey, "RTLSDR_SIM_FILTER=1", 170);
  for (int i = 0; i < 3 && rc == 1 && Err().find("does not respond") != std::string::npos; ++i)
    rc = Run(survey, "RTLSDR_SIM_FILTER=1", 170);
  ASSERT_EQ(rc, 0) << Err();
  std::ifstream in(dir / "signals.csv");
  std::string header;
  std::getline(in, header);
  EXPECT_EQ(header.rfind("frequency_hz,peak_db,mean_db,snr_db,bandwidth_hz,occupancy_pct", 0), 0u) << header;
  std::vector<std::pair<double, double>> found;  // frequency, occupancy
  std::vector<int> rows(std::size(kSceneEmitters), 0);
  for (std::string line; std::getline(in, line);) {
    std::istringstream ls(line);
    std::string f[6];
    for (std::string& v : f) std::getline(ls, v, ',');
    found.emplace_back(std::stod(f[0]), std::stod(f[5]));
    const auto e = std::find_if(std::begin(kSceneEmitters), std::end(kSceneEmitters),
                                [&](const auto& em) { return std::fabs(found.back().first - em.first) <= em.second + 3000; });
    ASSERT_NE(e, std::end(kSceneEmitters)) << "a row where nothing sends: " << line;
    EXPECT_EQ(++rows[static_cast<size_t>(e - std::begin(kSceneEmitters))], 1) << "a second row: " << line;
    if (e->second > 0) {  // as wide as gqrx's narrow FM or, from 40 kHz on, its WFM wants
      EXPECT_GE(std::stod(f[4]), e->second >= 40000 ? 40000 : 4000) << line;
      EXPECT_LT(std::stod(f[4]), e->second >= 40000 ? 200000 : 40000) << line;
    }
  }
  const auto near = [&](double hz, double within) {
    return std::find_if(found.begin(), found.end(), [&](const auto& s) { return std::fabs(s.first - hz) <= within; });
  };
  // Carriers within a bin of 781.25 Hz and present in every sweep; the
  // strongest FM and NFM ones within their channel.
  for (double hz : {138512500.0, 140125000.0, 145500000.0, 146520000.0, 151400000.0}) {
    const auto it = near(hz, 781.25);
    ASSERT_NE(it, found.end()) << hz;
    EXPECT_GT(it->second, 90) << hz;
  }
  EXPECT_NE(near(144800000, 6000), found.end());
  EXPECT_NE(near(147950000, 25000), found.end());
  // The simulated stick's DC offset lights the centre of every 3.2 MHz step;
  // that is no signal.
  for (double centre = 139600000; centre < 153000000; centre += 3200000)
    EXPECT_EQ(near(centre, 3 * 781.25), found.end()) << "a row at the step centre " << centre;
}

// Averaged, and live for as many sweeps as the stick makes in a minute, where
// noise must list nothing (read fast: the same levels from less to read).
TEST_F(Survey, SignalsFileListsTheSceneEmittersWhenTheSurveyEnds) {
  SignalsFileListsTheSceneEmitters("-n 20 --mode average");
  SignalsFileListsTheSceneEmitters("-n 540 --fast");
  EXPECT_EQ(Run("./wideglass --record again.csv -n 1 --signals no/such/folder.csv"), 1);
  EXPECT_NE(Err().find("no/such/folder.csv"), std::string::npos) << Err();
  EXPECT_EQ(Run("./wideglass -e 1 --signals signals.csv"), 2) << "needs --record";
  EXPECT_NE(Err().find("--record"), std::string::npos) << Err();
}

// With -i the table is rewritten at each interval and at the end, not each
// second. Each table is a new file renamed over the last, so a new inode
// marks each rewrite; a busy machine can only make the watcher see fewer.
TEST_F(Survey, SignalsFileIsRewrittenAtEachInterval) {
  std::atomic<bool> done{false};
  int rewrites = 0;
  std::thread watcher([&] {
    ino_t seen = 0;
    for (bool last = false; !last;) {
      last = done.load();
      struct stat st {};
      if (::stat((dir / "signals.csv").c_str(), &st) == 0 && st.st_ino != seen) seen = st.st_ino, ++rewrites;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  // Written at the start, at 3 s and at the end: the next interval would
  // come 2 s after the end.
  const int rc = Run("./wideglass --record live.csv -i 3 -e 4 --signals signals.csv");
  done = true;
  watcher.join();
  ASSERT_EQ(rc, 0) << Err();
  EXPECT_GE(rewrites, 1);
  EXPECT_LE(rewrites, 3);
  EXPECT_EQ(Slurp(dir / "signals.csv").rfind("frequency_hz,", 0), 0u);
}

}  // namespace
