// The reader of rtl_power recordings: files as Wideglass and rtl_power write
// them, plain and compressed, sweeps found by the scan and read again on
// demand, and every kind of damage told once while the rest is kept.
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "record/RecordingReader.h"
#include "record/RecordingSource.h"
#include "record/RtlPowerCsv.h"
#include "record/SweepIntegrator.h"

namespace fs = std::filesystem;
using wg::RecordedSweep;
using wg::RecordingProblem;
using wg::TRecording;
using Kind = RecordingProblem::Kind;

namespace {

class Dir {
 public:
  Dir() : path_(fs::temp_directory_path() / ("wg_reader_" + std::to_string(::getpid()))) {
    fs::create_directories(path_);
  }
  ~Dir() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void Write(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

void WriteGz(const fs::path& p, const std::string& text, const char* mode = "wb1") {
  gzFile f = gzopen(p.c_str(), mode);
  ASSERT_NE(f, nullptr);
  for (size_t at = 0; at < text.size(); at += 1 << 20) {
    const unsigned n = static_cast<unsigned>(std::min<size_t>(1 << 20, text.size() - at));
    ASSERT_EQ(gzwrite(f, text.data() + at, n), static_cast<int>(n));
  }
  gzclose(f);
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Sweeps as Wideglass writes them: `steps` steps of `bins` bins, levels that
// say where they are (sweep * 1000 + step * 10 + bin / 100, so no two match).
std::string WideglassSweeps(int sweeps, int steps, int bins, int firstSecond = 0, int64_t first = 138000000) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  std::string out;
  for (int n = 0; n < sweeps; ++n) {
    wg::RtlPowerSweep s;
    s.binsPerStep = bins;
    s.sampleRate = 3200000;
    s.binWidth = 3200000.0 / bins;
    s.samples = 8;
    s.when = std::chrono::system_clock::from_time_t(1796642966 + firstSecond + n / 3);  // three sweeps a second
    for (int j = 0; j < steps; ++j) {
      s.lows.push_back(first + int64_t{j} * 3200000);
      for (int i = 0; i < bins; ++i) s.levels.push_back(-(n % 50) * 1.0 - j * 0.1 - i * 0.01);
    }
    wg::AppendRtlPowerLines(out, s);
  }
  return out;
}

std::unique_ptr<TRecording> Scan(const fs::path& p, std::vector<RecordedSweep>* sweeps = nullptr) {
  std::string error;
  auto r = TRecording::Open(p.string(), error);
  EXPECT_NE(r, nullptr) << error;
  if (!r) return r;
  if (sweeps)
    r->Scan([&](const RecordedSweep& s) {
      sweeps->push_back(s);
      return true;
    });
  else
    r->Scan();
  return r;
}

bool Same(const RecordedSweep& a, const RecordedSweep& b) {
  if (a.number != b.number || a.line != b.line || a.time != b.time || a.steps.size() != b.steps.size() ||
      a.levels.size() != b.levels.size())
    return false;
  for (size_t i = 0; i < a.steps.size(); ++i)
    if (!a.steps[i].SameBins(b.steps[i]) || a.steps[i].first != b.steps[i].first) return false;
  for (size_t i = 0; i < a.levels.size(); ++i)
    if (!(a.levels[i] == b.levels[i] || (std::isnan(a.levels[i]) && std::isnan(b.levels[i])))) return false;
  return true;
}

// Every sweep the scan handed over reads back the same on demand, in any order.
void ExpectReadsBack(TRecording& r, const std::vector<RecordedSweep>& sweeps) {
  ASSERT_EQ(r.SweepCount(), sweeps.size());
  RecordedSweep s;
  for (size_t k = 0; k < sweeps.size(); ++k) {
    const size_t n = (k * 7919) % sweeps.size();  // jumping back and forth
    ASSERT_TRUE(r.ReadSweep(n, s)) << n;
    ASSERT_TRUE(Same(s, sweeps[n])) << "sweep " << n;
  }
  EXPECT_FALSE(r.ReadSweep(sweeps.size(), s));
}

const RecordingProblem* Find(const std::vector<RecordingProblem>& ps, Kind k) {
  for (const auto& p : ps)
    if (p.kind == k) return &p;
  return nullptr;
}

TEST(RecordingReader, ReadsWideglassFilesPlainAndCompressedAndReadsEverySweepBack) {
  Dir dir;
  const std::string text = WideglassSweeps(40, 5, 64);
  Write(dir / "a.csv", text);
  WriteGz(dir / "a.csv.gz", text);
  for (const char* name : {"a.csv", "a.csv.gz"}) {
    std::vector<RecordedSweep> sweeps;
    auto r = Scan(dir / name, &sweeps);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->Problems().empty()) << wg::DescribeProblem(name, r->Problems()[0]);
    EXPECT_EQ(r->Compressed(), std::string(name).ends_with(".gz"));
    ASSERT_EQ(sweeps.size(), 40u);
    const RecordedSweep& s = sweeps[7];
    EXPECT_EQ(s.number, 7u);
    EXPECT_EQ(s.line, 7u * 5 + 1);
    EXPECT_EQ(wg::RecordingTimeText(s.time), "2026-12-07 11:29:28");
    ASSERT_EQ(s.steps.size(), 5u);
    ASSERT_EQ(s.levels.size(), 5u * 64);  // the repeated last level is no bin
    EXPECT_EQ(s.steps[2].low, 144400000);
    EXPECT_EQ(s.steps[2].binWidth, 50000);
    EXPECT_EQ(s.steps[2].samples, 8);
    EXPECT_FLOAT_EQ(s.levels[s.steps[2].first + 3], -7.23f);
    EXPECT_DOUBLE_EQ(s.LowHz(), 138000000 - 25000);
    EXPECT_DOUBLE_EQ(s.HighHz(), 138000000 + 5 * 3200000 - 25000);
    EXPECT_DOUBLE_EQ(r->Span().lowHz, s.LowHz());
    EXPECT_DOUBLE_EQ(r->Span().highHz, s.HighHz());
    EXPECT_EQ(r->Span().lastTime, sweeps.back().time);
    ExpectReadsBack(*r, sweeps);
  }
}

// rtl_power's own lines: "%.2f" bin widths, cropping that leaves the band a
// bin off its levels, levels of empty bins written as -inf or nan, and lines
// that a Windows editor ended with CR LF.
TEST(RecordingReader, ReadsRtlPowerLines) {
  Dir dir;
  const std::string text =
      "2026-12-07, 18:04:32, 144000000, 146000000, 7812.50, 28672, -29.70, -29.76, " + std::string() +
      [] {
        std::string s;
        for (int i = 0; i < 253; ++i) s += i == 100 ? "nan, " : "-30.00, ";
        return s + "-inf, -inf\r\n";
      }() +
      "2026-12-07, 18:04:32, 146000000, 147996093, 7812.50, 28672, " +
      [] {
        std::string s;
        for (int i = 0; i < 256; ++i) s += "-31.00, ";
        return s + "-31.00\n";
      }();
  Write(dir / "rp.csv", text);
  std::vector<RecordedSweep> sweeps;
  auto r = Scan(dir / "rp.csv", &sweeps);
  EXPECT_TRUE(r->Problems().empty()) << wg::DescribeProblem("rp.csv", r->Problems()[0]);
  ASSERT_EQ(sweeps.size(), 1u);
  ASSERT_EQ(sweeps[0].steps.size(), 2u);
  EXPECT_EQ(sweeps[0].steps[0].bins, 256u);
  EXPECT_EQ(sweeps[0].steps[1].bins, 256u);
  EXPECT_TRUE(std::isnan(sweeps[0].levels[255])) << "-inf: no power, not measured";
  EXPECT_TRUE(std::isnan(sweeps[0].levels[102]));
  EXPECT_FLOAT_EQ(sweeps[0].levels[1], -29.76f);
}

// A survey's lines of joined bins (341 a line, the first one shorter by a bin
// not measured, the last cut at the stop) read back without a problem, and
// show in the window with every bin at the frequency it was written for.
TEST(RecordingReader, ReadsJoinedBinsAndALastLineCutAtTheStop) {
  Dir dir;
  wg::RtlPowerSweep in;
  in.binWidth = 781.25;
  in.start = 144000000;
  in.stop = 151000000;
  in.lows = {144000000, 147200000, 150400000};
  in.levels.assign(3 * 4096, -60);
  in.levels[0] = std::numeric_limits<double>::quiet_NaN();
  std::string text;
  wg::TSweepIntegrator({10000, 0, false}, {}).Add(in, [&](wg::RtlPowerSweep& o) { wg::AppendRtlPowerLines(text, o); });
  Write(dir / "j.csv", text);
  std::vector<RecordedSweep> sweeps;
  auto r = Scan(dir / "j.csv", &sweeps);
  EXPECT_TRUE(r->Problems().empty()) << wg::DescribeProblem("j.csv", r->Problems()[0]);
  ASSERT_EQ(sweeps.size(), 1u);
  ASSERT_EQ(sweeps[0].steps.size(), 3u);
  EXPECT_EQ(sweeps[0].steps[2].bins, 64u);  // 746 bins of 9375 Hz end within 7 MHz less 4296.875 Hz
  const wg::SweepPtr shown = wg::RecordedSweepValue(sweeps[0]);
  ASSERT_EQ(shown->pointsPerStep, 341);
  EXPECT_NEAR(shown->X(2 * 341 + 63), 144004296.875 + 745 * 9375, 1);
  EXPECT_EQ(std::count_if(shown->levels.begin(), shown->levels.end(), [](float v) { return std::isnan(v); }), 1 + 341 - 64);
}

// A large compressed file: sweeps fetched by seeking among the access
// points, from another thread while the scan is still going, read as the
// scan read them; memory for seeking stays small.
TEST(RecordingReader, CompressedSweepsReadOnDemandWhileTheScanGoesOn) {
  Dir dir;
  const std::string text = WideglassSweeps(900, 3, 1024);  // about 24 MB of text
  WriteGz(dir / "big.csv.gz", text);
  std::string error;
  auto r = TRecording::Open((dir / "big.csv.gz").string(), error);
  ASSERT_TRUE(r) << error;
  std::vector<RecordedSweep> seen(900);
  std::atomic<uint64_t> scanned{0};
  std::atomic<int> progressed{0};
  std::thread scan([&] {
    r->Scan(
        [&](const RecordedSweep& s) {
          seen[s.number] = s;
          scanned = s.number + 1;
          return true;
        },
        // Progress may ask what was found, at the end too.
        [&](double done) {
          progressed += r->SweepCount() > 0 && r->Problems().empty() && done > 0;
          return true;
        });
  });
  // Reads behind the scan while it goes on.
  RecordedSweep s;
  uint64_t checked = 0;
  while (!r->Scanned() || checked < 5) {
    const uint64_t have = scanned.load();
    if (have > 1) {
      const uint64_t n = (checked * 131) % (have - 1);
      ASSERT_TRUE(r->ReadSweep(n, s)) << n;
      EXPECT_EQ(s.number, n);
      EXPECT_FLOAT_EQ(s.levels[1], -static_cast<float>(n % 50) - 0.01f);
      ++checked;
    }
    std::this_thread::yield();
  }
  scan.join();
  EXPECT_GE(progressed.load(), 1);
  ExpectReadsBack(*r, seen);
  EXPECT_LT(r->MemoryBytes(), 2u << 20);
}

// Concatenated members (gzip appending to a file, or pigz) are one file.
TEST(RecordingReader, CompressedFilesOfSeveralMembers) {
  Dir dir;
  const std::string a = WideglassSweeps(3, 2, 16), b = WideglassSweeps(4, 2, 16, 10);
  WriteGz(dir / "a.gz", a);
  WriteGz(dir / "b.gz", b);
  Write(dir / "ab.csv.gz", Slurp(dir / "a.gz") + Slurp(dir / "b.gz"));
  std::vector<RecordedSweep> sweeps;
  auto r = Scan(dir / "ab.csv.gz", &sweeps);
  EXPECT_TRUE(r->Problems().empty());
  EXPECT_EQ(sweeps.size(), 7u);
  ExpectReadsBack(*r, sweeps);
}

struct Damage {
  const char* name;
  std::string text;
  Kind kind;
  uint64_t line;
  size_t sweeps;  // still read
};

TEST(RecordingReader, DamageIsToldOnceWithItsLineAndTheRestIsKept) {
  Dir dir;
  const std::string good = WideglassSweeps(4, 2, 8);  // 8 lines, 2 a sweep
  const size_t cut = good.size() - 20;
  std::string otherBins = WideglassSweeps(1, 2, 16, 5);
  const std::string otherRange = WideglassSweeps(1, 2, 8, 5, 140000000);
  const std::string shortSweep = good.substr(0, good.find('\n') + 1);  // a sweep of one step only
  std::string binary(2u << 20, 0);
  std::mt19937 bytes(1);
  for (char& c : binary) c = static_cast<char>(bytes());
  std::string garbage = good;
  garbage.insert(good.find('\n') + 1, "2026-12-07, 11:29:26, 141200000, 141300000, abc, 8, -1\n#comment\n");
  const Damage cases[] = {
      {"cut", good.substr(0, cut), Kind::CutLine, 8, 4},
      {"garbage", garbage, Kind::BadLine, 2, 4},
      {"other bins", good + otherBins, Kind::OtherLayout, 9, 5},
      {"other range", good + otherRange, Kind::OtherLayout, 9, 5},
      {"a short sweep", good + shortSweep + good, Kind::OtherLayout, 9, 9},
      {"the last sweep short", good + shortSweep, Kind::CutLine, 9, 5},
      {"not a recording", binary + good, Kind::NotARecording, 0, 0},
      {"text", [] {
         std::string s;
         for (int i = 0; i < 200; ++i) s += "just some words, and more words, and more\n";
         return s;
       }(), Kind::NotARecording, 0, 0},
      {"no line feed at all", std::string(40u << 20, '7'), Kind::NotARecording, 0, 0},
  };
  for (const Damage& c : cases) {
    for (bool gz : {false, true}) {
      const fs::path p = dir / (gz ? "d.csv.gz" : "d.csv");
      gz ? WriteGz(p, c.text) : Write(p, c.text);
      std::vector<RecordedSweep> sweeps;
      auto r = Scan(p, &sweeps);
      const auto problems = r->Problems();
      ASSERT_EQ(problems.size(), 1u) << c.name << (problems.size() > 1 ? wg::DescribeProblem("", problems[1]) : "");
      EXPECT_EQ(problems[0].kind, c.kind) << c.name << ": " << problems[0].detail;
      EXPECT_EQ(problems[0].line, c.line) << c.name;
      EXPECT_EQ(sweeps.size(), c.sweeps) << c.name;
      const std::string said = wg::DescribeProblem(p.string(), problems[0]);
      EXPECT_EQ(said.find(p.string()), 0u) << said;
      if (c.line) {
        EXPECT_NE(said.find("line " + std::to_string(c.line)), std::string::npos) << said;
      }
      ExpectReadsBack(*r, sweeps);
    }
  }
}

TEST(RecordingReader, ACompressedFileCutShortKeepsWhatCameBefore) {
  Dir dir;
  const std::string text = WideglassSweeps(200, 3, 256);
  WriteGz(dir / "whole.gz", text);
  const std::string gz = Slurp(dir / "whole.gz");
  Write(dir / "cut.csv.gz", gz.substr(0, gz.size() / 2));
  std::vector<RecordedSweep> sweeps;
  auto r = Scan(dir / "cut.csv.gz", &sweeps);
  EXPECT_GT(sweeps.size(), 50u);
  EXPECT_LT(sweeps.size(), 200u);
  ASSERT_NE(Find(r->Problems(), Kind::ReadError), nullptr);
  EXPECT_NE(Find(r->Problems(), Kind::ReadError)->detail.find("cut short"), std::string::npos);
  ExpectReadsBack(*r, sweeps);
}

TEST(RecordingReader, FilesThatCannotBeOpened) {
  Dir dir;
  std::string error;
  EXPECT_EQ(TRecording::Open((dir / "none.csv").string(), error), nullptr);
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_EQ(TRecording::Open(dir / "", error), nullptr);
  Write(dir / "empty.csv", "");
  auto r = Scan(dir / "empty.csv");
  EXPECT_EQ(r->SweepCount(), 0u);
  EXPECT_TRUE(r->Scanned());
}

TEST(RecordingReader, DatesAndTimes) {
  int64_t t = 0;
  ASSERT_TRUE(wg::ParseRecordingTime("2026-12-07", "18:04:32", t));
  EXPECT_EQ(wg::RecordingTimeText(t), "2026-12-07 18:04:32");
  ASSERT_TRUE(wg::ParseRecordingTime("2024-02-29", "23:59:60", t));
  ASSERT_TRUE(wg::ParseRecordingTime("1969-12-31", "00:00:00", t));
  EXPECT_EQ(wg::RecordingTimeText(t), "1969-12-31 00:00:00");
  for (auto [d, h] : {std::pair{"2025-02-29", "00:00:00"}, {"2026-13-01", "00:00:00"}, {"2026-12-07", "24:00:00"},
                      {"2026-12-7", "00:00:00"}, {"2026-12-07", "0:00:00"}, {"2026-12-07", "00:00:0x"}})
    EXPECT_FALSE(wg::ParseRecordingTime(d, h, t)) << d << " " << h;
}

// Mutations of a good file (bytes changed, dropped, doubled, numbers made
// huge or odd, lines cut and spliced) never crash the reader, never read more
// than the file could hold, and the sweeps found read back the same.
TEST(RecordingReader, MutatedFilesNeverBreakTheReader) {
  Dir dir;
  const std::string good = WideglassSweeps(6, 3, 12);
  const char* const tokens[] = {"99999999999999999999", "-9223372036854775808", "-0", "nan", "inf", "1e308", ",", ", ,", "\n", "\r",
                                "2026-02-30", "0.00", "-", " ", "\t", "\x1f\x8b", "4294967296"};
  std::mt19937 rng(27);
  for (int round = 0; round < 600; ++round) {
    std::string t = good;
    const int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits && !t.empty(); ++e) {
      const size_t at = rng() % t.size();
      switch (rng() % 6) {
        case 0: t[at] = static_cast<char>(rng()); break;
        case 1: t.erase(at, 1 + rng() % 40); break;
        case 2: t.insert(at, tokens[rng() % std::size(tokens)]); break;
        case 3: t.insert(at, t.substr(rng() % t.size(), 1 + rng() % 200)); break;
        case 4: t.resize(at); break;
        case 5: {
          // A number in the head made extreme.
          const size_t comma = t.find(", ", at);
          if (comma != std::string::npos) t.insert(comma + 2, "9999999999999");
          break;
        }
      }
    }
    const bool gz = round % 3 == 0;
    const fs::path p = dir / (gz ? "m.csv.gz" : "m.csv");
    gz ? WriteGz(p, t) : Write(p, t);
    std::vector<RecordedSweep> sweeps;
    auto r = Scan(p, &sweeps);
    size_t levels = 0;
    for (const auto& s : sweeps) levels += s.levels.size();
    EXPECT_LE(levels * 2, t.size()) << "round " << round;  // every level takes at least 2 bytes ("1,")
    for (const auto& p : r->Problems()) EXPECT_FALSE(p.detail.empty());
    ExpectReadsBack(*r, sweeps);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "round " << round << ":\n" << t.substr(0, 2000);
      return;
    }
  }
}

}  // namespace

namespace {

// What the window reads a recording through: sweeps asked for by number and
// an overview spread over the whole file, oldest first, as Sweep values the
// chart and the waterfall take as they take the engine's.
TEST(RecordingSource, SweepsOnRequestAndAnOverviewOfTheWholeRecording) {
  Dir dir;
  WriteGz(dir / "s.csv.gz", WideglassSweeps(300, 3, 64));
  std::mutex m;
  std::condition_variable cv;
  std::vector<wg::SweepPtr> overview;
  std::map<uint64_t, wg::SweepPtr> shown;
  bool finished = false, complete = false;
  wg::TRecordingSource::Events events;
  events.shown = [&](uint64_t n, const wg::SweepPtr& s) {
    std::lock_guard lk(m);
    shown[n] = s;
    cv.notify_all();
  };
  events.overview = [&](const wg::SweepPtr& s, uint64_t) {
    std::lock_guard lk(m);
    overview.push_back(s);
  };
  events.finished = [&](bool whole) {
    std::lock_guard lk(m);
    finished = true, complete = whole;
    cv.notify_all();
  };
  std::string error;
  auto source = wg::TRecordingSource::Open((dir / "s.csv.gz").string(), error, events, 10);
  ASSERT_TRUE(source) << error;
  std::unique_lock lk(m);
  ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(60), [&] { return finished; }));
  EXPECT_TRUE(complete);
  ASSERT_EQ(overview.size(), 10u);
  EXPECT_EQ(overview.front()->sequence, 1u);
  EXPECT_EQ(overview.back()->sequence, 300u);
  for (size_t i = 1; i < overview.size(); ++i) EXPECT_LT(overview[i - 1]->sequence, overview[i]->sequence);
  for (const uint64_t n : {uint64_t{299}, uint64_t{5}}) {
    lk.unlock();
    source->Show(n);
    lk.lock();
    ASSERT_TRUE(cv.wait_for(lk, std::chrono::seconds(60), [&] { return shown.count(n) > 0; })) << n;
  }
  const wg::Sweep& s = *shown[5];
  ASSERT_EQ(s.StepCount(), 3u);
  EXPECT_EQ(s.pointsPerStep, 64);
  EXPECT_EQ(s.PointCount(), 3u * 64);
  EXPECT_EQ(s.stepStarts[1], 138000000 + 3200000);
  EXPECT_EQ(s.binWidth, 50000);
  EXPECT_EQ(s.sampleRate, 3200000);
  EXPECT_EQ(s.X(64 + 1), 138000000.0 + 3200000 + 50000);
  EXPECT_FLOAT_EQ(s.levels[64 + 1], -5.0f - 0.1f - 0.01f);
  EXPECT_EQ(s.transformsAveraged, 8);
  EXPECT_EQ(s.levelBlocks, wg::SummariseBlocks(s.levels, 64)) << "drawn as quickly as a live sweep";
  // Written at 1796642967 (three sweeps a second), read in this zone (UTC).
  EXPECT_EQ(s.finished, std::chrono::system_clock::from_time_t(1796642967));
  EXPECT_EQ(shown[299]->sequence, 300u);
}

}  // namespace

namespace {

const std::string kGoodLine = "2026-12-07, 18:04:32, 144000000, 146000000, 1000000.00, 10, -30.00, -31.00, -31.00\n";

// Levels no receiver measures are not measured and counted once (rtl_power's
// nan and -inf for a bin without power are not counted); endless data ends at
// the line limit; an empty file or one of empty lines says so.
TEST(RecordingReader, BadLevelsEndlessAndEmptyDataAreToldOnce) {
  Dir dir;
  std::string levels = kGoodLine;
  levels.replace(levels.find("-30.00, -31.00"), 14, "inf, 1e23, 250, -inf, nan, -199, 1e300");
  levels.replace(levels.find("1000000.00"), 10, "333333.33");
  Write(dir / "l.csv", levels);
  Write(dir / "e.csv", "");
  Write(dir / "b.csv", "\n\r\n");
  Write(dir / "blank.csv", std::string(4u << 20, '\n'));
  const struct {
    fs::path path;
    Kind kind;
    uint64_t count;
    const char* detail;
  } cases[] = {{dir / "l.csv", Kind::BadLevels, 4, "a level infinite or beyond 200 dB either way, taken as not measured"},
               {dir / "e.csv", Kind::Empty, 1, "the file is empty"},
               {dir / "b.csv", Kind::Empty, 1, "the file holds only empty lines"},
               {dir / "blank.csv", Kind::NotARecording, 1, "not an rtl_power recording (nothing but empty lines in its first megabyte)"},
               {"/dev/zero", Kind::NotARecording, 1, "not an rtl_power recording (line 1: a line longer than 32 MB; read no further)"}};
  for (const auto& c : cases) {
    for (bool keep : {true, false}) {
      std::vector<RecordedSweep> sweeps;
      const auto problems = Scan(c.path, keep ? &sweeps : nullptr)->Problems();
      ASSERT_EQ(problems.size(), 1u) << c.path;
      EXPECT_EQ(problems[0].kind, c.kind) << c.path;
      EXPECT_EQ(problems[0].count, c.count) << c.path;
      EXPECT_EQ(problems[0].detail, c.detail);
    }
  }
  std::vector<RecordedSweep> sweeps;
  Scan(dir / "l.csv", &sweeps);
  ASSERT_EQ(sweeps.size(), 1u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(std::isnan(sweeps[0].levels[i]), i != 5) << i;
}

// The window's reader lets go at once when closed, even amid gigabytes of
// empty lines (a compressed file's many members of nothing): the seconds
// below only guard against a hang.
TEST(RecordingSource, ClosedWhileReadingEmptyLinesLetsGoAtOnce) {
  Dir dir;
  std::string two = kGoodLine + kGoodLine;  // the first sweep is found once the second starts
  two[kGoodLine.size() + 19] = '3';
  WriteGz(dir / "sweep.gz", two);
  WriteGz(dir / "blank.gz", std::string(64u << 20, '\n'), "wb6");
  {
    std::ofstream out(dir / "b.csv.gz", std::ios::binary);
    out << Slurp(dir / "sweep.gz");
    for (int i = 0; i < 256; ++i) out << Slurp(dir / "blank.gz");  // 16 GB of data
  }
  std::string error;
  auto source = wg::TRecordingSource::Open((dir / "b.csv.gz").string(), error, {}, 10);
  ASSERT_TRUE(source) << error;
  while (source->SweepCount() == 0) std::this_thread::yield();  // into the empty lines
  const auto t0 = std::chrono::steady_clock::now();
  source.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}

}  // namespace
