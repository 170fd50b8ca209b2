#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include "record/RtlPowerCsv.h"
#include "record/SweepRecorder.h"
#include "sweep/Sweep.h"

namespace fs = std::filesystem;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 2026-12-07 11:29:26 UTC, read in UTC.
std::chrono::system_clock::time_point When() {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  return std::chrono::system_clock::from_time_t(1796642966);
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(RtlPowerCsv, LinesAsRtlPowerWritesThemWhateverTheLocale) {
  wg::RtlPowerSweep s;
  s.binsPerStep = 3;
  s.lows = {138000000, 141200000, 144400000};
  s.levels = {-43.125, -0.004, 5, kNaN, -50, -50, -2072.2547, 0.125, 12.345};
  s.sampleRate = 3200000;
  s.binWidth = 3200000 / 4096.0;
  s.samples = 8;
  s.when = When();
  // A locale with a decimal comma must not reach the file.
  const std::string old = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "de_DE.utf8");
  std::string out = "kept\n";
  EXPECT_EQ(wg::AppendRtlPowerLines(out, s), 2u);
  std::setlocale(LC_ALL, old.c_str());
  // The untuned middle step is left out; the last level appears twice;
  // halves round to even as printf's "%.2f" does.
  EXPECT_EQ(out,
            "kept\n"
            "2026-12-07, 11:29:26, 138000000, 141200000, 781.25, 8, -43.12, -0.00, 5.00, 5.00\n"
            "2026-12-07, 11:29:26, 144400000, 147600000, 781.25, 8, -2072.25, 0.12, 12.35, 12.35\n");
}

TEST(RtlPowerCsv, EachStepStartsAtItsFirstFrequencyWithItsLevels) {
  wg::Sweep s;
  s.stepStarts = {146000000, 149200000};
  s.levels.resize(2 * 4096 + 5);
  for (size_t i = 0; i < s.levels.size(); ++i) s.levels[i] = -1.0f * static_cast<float>(i % 4096);
  s.sampleRate = 3200000;
  s.binWidth = 781.25;
  s.finished = When();
  std::string out;
  EXPECT_EQ(wg::AppendRtlPowerLines(out, s), 2u);  // the 5 extra levels make no step
  EXPECT_EQ(out.find("2026-12-07, 11:29:26, 149200000, 152400000, 781.25, 1, -0.00, -1.00, "),
            out.find('\n') + 1);
  EXPECT_NE(out.find(", -4095.00, -4095.00\n"), std::string::npos);
}

class Recorder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("wg_recorder_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A sweep of `steps` steps whose levels tell which sweep it is.
  static wg::SweepPtr Sweep(int n, int steps = 5) {
    auto s = std::make_shared<wg::Sweep>();
    for (int k = 0; k < steps; ++k) s->stepStarts.push_back(138000000 + 3200000LL * k);
    s->levels.assign(static_cast<size_t>(steps) * 4096, static_cast<float>(-n));
    s->sampleRate = 3200000;
    s->binWidth = 781.25;
    s->finished = When();
    return s;
  }
  static size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

  fs::path dir;
};

TEST_F(Recorder, AppendsWholeSweepsInOrder) {
  const fs::path file = dir / "survey.csv";
  std::ofstream(file) << "earlier survey\n";
  std::string error;
  auto rec = wg::TSweepRecorder::Open(file.string(), error, {}, {16, true, {}});
  ASSERT_TRUE(rec) << error;
  for (int n = 1; n <= 10; ++n) ASSERT_TRUE(rec->Add(Sweep(n)));
  rec->Close();
  EXPECT_EQ(rec->SweepsWritten(), 10u);
  EXPECT_FALSE(rec->Add(Sweep(11)));
  const std::string text = Slurp(file);
  EXPECT_EQ(rec->BytesWritten() + 15, text.size());
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "earlier survey");
  for (int n = 1; n <= 10; ++n)
    for (int k = 0; k < 5; ++k) {
      ASSERT_TRUE(std::getline(in, line));
      EXPECT_NE(line.find(", " + std::to_string(138000000 + 3200000LL * k) + ", "), std::string::npos);
      EXPECT_NE(line.find(", -" + std::to_string(n) + ".00, "), std::string::npos) << n;
    }
  EXPECT_FALSE(std::getline(in, line));
}

TEST_F(Recorder, OpenFailsWithTheReason) {
  std::string error;
  EXPECT_FALSE(wg::TSweepRecorder::Open((dir / "missing" / "x.csv").string(), error));
  EXPECT_EQ(error, std::strerror(ENOENT));
}

// Each failure ends the recording once, with the system's reason, and leaves
// the file ending with the last whole sweep.
TEST_F(Recorder, FailuresStopTheRecordingAndKeepWhatWasWritten) {
  struct Case {
    const char* name;
    int error;
  };
  for (Case c : {Case{"removed", ENOENT}, Case{"too big", EFBIG}, Case{"full", ENOSPC}}) {
    const std::string what = c.name;
    const fs::path file = what == "full" ? fs::path("/dev/full") : dir / (what + ".csv");
    std::atomic<int> calls{0};
    std::string reason, error;
    auto rec = wg::TSweepRecorder::Open(
        file.string(), error, [&](const std::string& r) { reason = r, ++calls; }, {16, true, {}});
    ASSERT_TRUE(rec) << what << ": " << error;
    std::string one;
    wg::AppendRtlPowerLines(one, *Sweep(1));
    if (what != "full") {
      ASSERT_TRUE(rec->Add(Sweep(1)));
      while (rec->SweepsWritten() < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    rlimit old{};
    if (what == "removed") fs::remove(file);
    if (what == "too big") {
      // A limit in the middle of the second sweep: the write stops part-way.
      std::signal(SIGXFSZ, SIG_IGN);
      ::getrlimit(RLIMIT_FSIZE, &old);
      rlimit lim = old;
      lim.rlim_cur = one.size() + one.size() / 2;
      ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    rec->Add(Sweep(2));
    rec->Add(Sweep(3));
    rec->Close();
    if (what == "too big") ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(calls.load(), 1) << what;
    EXPECT_TRUE(rec->Failed()) << what;
    EXPECT_EQ(reason, std::strerror(c.error)) << what;
    EXPECT_EQ(rec->FailureReason(), reason) << what;
    EXPECT_EQ(rec->SweepsWritten(), what == "full" ? 0u : 1u) << what;
    if (what == "too big") {
      EXPECT_EQ(Slurp(file), one);
    }
  }
}

// A writer stuck on a full pipe never makes Add wait: further sweeps are
// dropped and counted, and what was taken is written once the pipe drains.
TEST_F(Recorder, AStuckWriterNeverHoldsUpTheCaller) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(p[1], STDOUT_FILENO);
  std::string error;
  auto rec = wg::TSweepRecorder::Open("-", error, {}, {2, false, {}});
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(p[1]);
  ASSERT_TRUE(rec) << error;
  int taken = 0;
  for (int n = 1; n <= 8; ++n) taken += rec->Add(Sweep(n, 20)) ? 1 : 0;
  EXPECT_LE(taken, 3);  // one being written, two queued
  EXPECT_EQ(rec->SweepsDropped(), static_cast<uint64_t>(8 - taken));
  std::string text;
  std::thread drain([&] {
    char buf[65536];
    for (ssize_t n; (n = ::read(p[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  });
  rec->Close();  // closes the only write end left
  drain.join();
  ::close(p[0]);
  EXPECT_EQ(Lines(text), static_cast<size_t>(taken) * 20);
  EXPECT_FALSE(rec->Failed());
}

}  // namespace

// What the survey's -f START:STOP:BIN, -i and -P choose: pairs of bins
// joined by their total power (less the window's noise bandwidth, 1.791
// bins), the sweeps of an interval by their mean (or highest) power, written
// once a sweep ends past the interval.
TEST_F(Recorder, IntegratesBinsAndIntervalsBeforeWriting) {
  for (const bool peak : {false, true}) {
    const fs::path file = dir / (peak ? "peak.csv" : "mean.csv");
    std::string error;
    wg::SweepRecorderOptions o{16, true, {1600, 10, peak}};
    auto rec = wg::TSweepRecorder::Open(file.string(), error, {}, o);
    ASSERT_TRUE(rec) << error;
    const auto now = std::chrono::system_clock::now();
    // Within the first interval (it ends 9 to 10 s from now), then past it.
    const std::pair<int, int> at[] = {{1, 0}, {2, 30}, {25, 30}};
    for (const auto& [seconds, db] : at) {
      auto s = std::const_pointer_cast<wg::Sweep>(Sweep(db, 2));
      if (db == 0)
        for (size_t i = 0; i < s->levels.size(); ++i) s->levels[i] = i % 2 ? -20.0f : -10.0f;
      s->finished = now + std::chrono::seconds(seconds);
      ASSERT_TRUE(rec->Add(s));
    }
    rec->Close();
    EXPECT_EQ(rec->SweepsWritten(), 3u);
    const std::string text = Slurp(file);
    ASSERT_EQ(Lines(text), 2u) << text.substr(0, 200);
    EXPECT_EQ(text.substr(0, 22), wg::RtlPowerTime(now + std::chrono::seconds(25)) + ", ");
    // 1562.5 Hz bins centred between the pairs; three sweeps of one transform.
    EXPECT_NE(text.find(", 138000391, 141200391, 1562.50, 3, "), std::string::npos) << text.substr(0, 120);
    // Mean: (0.11 + 0.002 + 0.002) / 3 of full power; peak: 0.11; each / 1.791.
    const std::string level = peak ? ", -12.12" : ", -16.73";
    size_t count = 0;
    for (size_t p = text.find(level); p != std::string::npos; p = text.find(level, p + 1)) ++count;
    EXPECT_EQ(count, 2u * 2049) << level;
  }
}

// A recording is opened where the path leads: through a link (which stays
// one); a pipe nobody reads is said at once instead of a wait without end.
TEST_F(Recorder, OpensWhereThePathLeads) {
  fs::create_symlink("target.csv", dir / "link.csv");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::string error, one;
  EXPECT_FALSE(wg::TSweepRecorder::Open((dir / "fifo").string(), error));
  EXPECT_EQ(error, std::string(std::strerror(ENXIO)) + " (nothing reads from the pipe)");
  auto rec = wg::TSweepRecorder::Open((dir / "link.csv").string(), error);
  ASSERT_TRUE(rec) << error;
  ASSERT_TRUE(rec->Add(Sweep(1)));
  rec->Close();
  EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
  wg::AppendRtlPowerLines(one, *Sweep(1));
  EXPECT_EQ(Slurp(dir / "target.csv"), one);
}
