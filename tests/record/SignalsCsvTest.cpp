#include "record/SignalsCsv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

namespace fs = std::filesystem;

wg::TSignal Sample() {
  wg::TSignal s;
  s.frequency = 146520000.4;
  s.peakDb = -42.166;
  s.meanDb = -44.9;
  s.snrDb = 37.606;
  s.bandwidth = 12499.6;
  s.present = 197;
  s.covered = 200;
  s.firstSeen = std::chrono::system_clock::time_point(std::chrono::seconds(1796642966));
  s.lastSeen = s.firstSeen + std::chrono::seconds(584);
  return s;
}

std::string Read(const fs::path& p) {
  std::ifstream f(p);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(SignalsCsv, HeaderAndOneLinePerSignal) {
  const std::string text = wg::SignalsCsv({Sample()});
  EXPECT_EQ(text,
            "frequency_hz,peak_db,mean_db,snr_db,bandwidth_hz,occupancy_pct,sweeps_present,sweeps_covered,"
            "first_seen,last_seen\n"
            "146520000,-42.17,-44.90,37.61,12500,98.5,197,200,2026-12-07T11:29:26Z,2026-12-07T11:39:10Z\n");
  EXPECT_EQ(wg::SignalsCsv({}), std::string(wg::kSignalsCsvHeader) + "\n");
}

// Rewritten whole each time through a file beside it; a write that cannot
// happen leaves the earlier table and no stray file.
TEST(SignalsCsv, FileIsReplacedWhole) {
  const fs::path dir = fs::temp_directory_path() / ("wg-signals-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path file = dir / "signals.csv";
  std::string error;
  ASSERT_TRUE(wg::WriteSignalsCsvFile(file, {Sample(), Sample()}, &error)) << error;
  ASSERT_TRUE(wg::WriteSignalsCsvFile(file, {Sample()}, &error)) << error;
  EXPECT_EQ(Read(file), wg::SignalsCsv({Sample()}));

  fs::create_directories(dir / "busy.csv");  // a folder where the file should go
  EXPECT_FALSE(wg::WriteSignalsCsvFile(dir / "busy.csv", {Sample()}, &error));
  EXPECT_EQ(error, std::string("could not be written: ") + std::strerror(EISDIR));
  EXPECT_FALSE(wg::WriteSignalsCsvFile(dir / "absent" / "signals.csv", {Sample()}, &error));
  EXPECT_EQ(error, std::string("could not be written: ") + std::strerror(ENOENT));
  // signals.csv and the folder, nothing half written beside them
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  EXPECT_EQ(Read(file), wg::SignalsCsv({Sample()}));
  fs::remove_all(dir);
}

// A link keeps leading to the table; a pipe nobody reads is said at once.
TEST(SignalsCsv, WhatStandsAtThePathStays) {
  const fs::path dir = fs::temp_directory_path() / ("wg-signals-at-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::create_symlink("kept.csv", dir / "link.csv");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::string error;
  EXPECT_TRUE(wg::WriteSignalsCsvFile(dir / "link.csv", {Sample()}, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
  EXPECT_EQ(Read(dir / "kept.csv"), wg::SignalsCsv({Sample()}));
  EXPECT_FALSE(wg::WriteSignalsCsvFile(dir / "fifo", {}, &error));
  EXPECT_EQ(error, "could not be written: " + std::string(std::strerror(ENXIO)) + " (nothing reads from the pipe)");
  EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
  fs::remove_all(dir);
}

}  // namespace
