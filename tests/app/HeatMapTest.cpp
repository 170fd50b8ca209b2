// Heat maps as users make them: recordings written by Debian's rtl_power and
// by the survey on the simulated receiver, drawn by the real executable
// without a display, the picture read back pixel by pixel.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/HeatMap.h"
#include "record/RecordingReader.h"
#include "runtime/ColourScale.h"

namespace fs = std::filesystem;

namespace {

class HeatMap : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("wg_heatmap_" + std::to_string(::getpid()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "plugins");
    fs::copy_file(WG_EXE, dir / "wideglass");
    fs::create_symlink(WG_SIM_LIB, dir / "plugins" / "librtlsdr.so");
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    ::setenv("RTLSDR_SIM_PACE", "0", 1);
    ::unsetenv("QT_QPA_PLATFORM");  // the program must not need it
    ::unsetenv("DISPLAY");
  }
  void TearDown() override { fs::remove_all(dir); }

  int Run(const std::string& args, const std::string& env = "") {
    const std::string cmd = "cd '" + dir.string() + "' && timeout -s KILL 120 env " + env + " " + args +
                            " >out.txt 2>err.txt </dev/null";
    const int st = std::system(cmd.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  std::string Err() {
    std::ifstream in(dir / "err.txt");
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string SceneEnv() {
    std::ofstream scene(dir / "scene.txt");
    for (auto [hz, db] : carriers) scene << std::fixed << hz << " " << db << " carrier\n";
    return "RTLSDR_SIM_SCENE='" + (dir / "scene.txt").string() + "'";
  }

  // Weak carriers (rtl_power's arithmetic overflows above about -23 dB) in
  // one 2 MHz hop of rtl_power, away from its middle.
  const std::vector<std::pair<double, double>> carriers = {
      {144300000, -45}, {144620000, -50}, {145410000, -42}, {145780000, -55}};
  fs::path dir;
};

// The columns of the heat map, brightest first: each column's mean place on
// the colour scale over all rows, its local peaks taken greedily.
std::vector<int> BrightestColumns(const QImage& img, const wg::HeatMapLayout& l, size_t count) {
  std::map<uint32_t, int> place;
  for (int i = 0; i < 256; ++i) place.emplace(wg::WaterfallScale()[static_cast<size_t>(i)], i);
  std::vector<double> mean(static_cast<size_t>(l.columns));
  for (int c = 0; c < l.columns; ++c) {
    double sum = 0;
    for (int y = 0; y < l.rows * l.rowHeight; ++y) {
      const auto it = place.find(img.pixel(l.left + c, l.top + y) | 0xFF000000u);
      EXPECT_NE(it, place.end()) << "column " << c << " row " << y << " is not on the scale";
      if (it != place.end()) sum += it->second;
    }
    mean[static_cast<size_t>(c)] = sum / (l.rows * l.rowHeight);
  }
  std::vector<int> order(mean.size()), peaks;
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return mean[static_cast<size_t>(a)] > mean[static_cast<size_t>(b)]; });
  for (int c : order) {
    if (std::none_of(peaks.begin(), peaks.end(), [&](int p) { return std::abs(p - c) <= 6; })) peaks.push_back(c);
    if (peaks.size() == count) break;
  }
  return peaks;
}

// The carriers of the scene are the brightest columns, within a pixel of
// their frequencies, whoever wrote the recording (the survey also with its
// bins joined) and however it is stored; one row per sweep or interval.
TEST_F(HeatMap, CarriersAreTheBrightestColumnsAtTheirFrequencies) {
  if (std::string(WG_RTL_POWER).empty()) GTEST_SKIP() << "rtl_power (Debian package rtl-sdr) not found";
  const std::string env = SceneEnv();
  ASSERT_EQ(Run(std::string(WG_RTL_POWER) + " -f 144M:146M:5k -i 1 -e 2 rp.csv",
                env + " LD_LIBRARY_PATH='" + fs::path(WG_SIM_LIB).parent_path().string() + "'"),
            0)
      << Err();
  ASSERT_EQ(Run("./wideglass --record wg.csv -f 144M:146M -n 3", env), 0) << Err();
  ASSERT_EQ(Run("./wideglass --record bins.csv -f 144M:146M:5k -n 3", env), 0) << Err();
  ASSERT_EQ(Run("gzip -k rp.csv"), 0);
  for (const char* name : {"rp.csv", "rp.csv.gz", "wg.csv", "bins.csv"}) {
    ASSERT_EQ(Run(std::string("./wideglass --heatmap ") + name + " map.png --width 900"), 0) << name << Err();
    EXPECT_EQ(Err().find("wideglass"), std::string::npos) << name << ": " << Err();
    std::string error;
    auto rec = wg::TRecording::Open((dir / name).string(), error);
    ASSERT_TRUE(rec) << error;
    rec->Scan();
    const wg::HeatMapLayout l = wg::PlanHeatMap(900, 0, rec->SweepCount());
    const QImage img((dir / "map.png").c_str());
    ASSERT_FALSE(img.isNull()) << name;
    EXPECT_EQ(img.width(), 900);
    EXPECT_EQ(img.height(), l.height) << name << ": one row per sweep";
    const auto peaks = BrightestColumns(img, l, carriers.size());
    const double low = rec->Span().lowHz, span = rec->Span().highHz - low;
    for (auto [hz, db] : carriers) {
      const double x = (hz - low) / span * l.columns;  // the carrier within its column
      const bool found = std::any_of(peaks.begin(), peaks.end(), [&](int c) { return std::abs(c + 0.5 - x) <= 1.5; });
      EXPECT_TRUE(found) << name << ": no bright column within a pixel of " << hz << " Hz (column " << x << ")";
    }
  }
}

TEST_F(HeatMap, FailuresSayWhyInOneLine) {
  std::ofstream(dir / "words.csv") << "not, a, recording\n";
  std::ofstream(dir / "empty.csv") << "";
  std::ofstream(dir / "good.csv") << "2026-12-07, 18:04:32, 144000000, 146000000, 1000000.00, 10, -30.00, -31.00, -31.00\n";
  std::ofstream(dir / "blank.csv") << std::string(4u << 20, '\n');
  const struct {
    const char* args;
    const char* says;
  } cases[] = {
      {"./wideglass --heatmap none.csv map.png", "none.csv: No such file"},
      {"./wideglass --heatmap words.csv map.png", "words.csv: not an rtl_power recording (line 1"},
      {"./wideglass --heatmap empty.csv map.png", "empty.csv: the file is empty"},
      {"./wideglass --heatmap /dev/zero map.png", "/dev/zero: not an rtl_power recording (line 1: a line longer than 32 MB"},
      {"./wideglass --heatmap blank.csv map.png", "blank.csv: not an rtl_power recording (nothing but empty lines"},
      {"./wideglass --heatmap good.csv no/such/folder/map.png", "could not be written"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), 1) << c.args;
    const std::string err = Err();
    EXPECT_NE(err.find(c.says), std::string::npos) << c.args << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_EQ(Run("./wideglass --heatmap good.csv map.png"), 0) << Err();
  // Levels no receiver measures are said in one line and take no colour.
  std::ofstream(dir / "bad.csv") << "2026-12-07, 18:04:32, 144000000, 146000000, 1000000.00, 10, -30.00, 1e23, -31.00\n";
  EXPECT_EQ(Run("./wideglass --heatmap bad.csv map.png --width 900"), 0) << Err();
  EXPECT_NE(Err().find("bad.csv, line 1: a level infinite or beyond 200 dB"), std::string::npos) << Err();
  const wg::HeatMapLayout l = wg::PlanHeatMap(900, 0, 1);
  EXPECT_EQ(QImage((dir / "map.png").c_str()).pixel(l.left + l.columns - 2, l.top) | 0xFF000000u, 0xFF000000u);
}

}  // namespace

namespace {

// A picture that cannot be written says why and leaves an earlier one whole
// (the file size limit stops the write part-way, as a full disk would); a
// device stays a device.
TEST_F(HeatMap, ThePictureIsReplacedWholeOrNotAtAll) {
  std::ofstream(dir / "good.csv") << "2026-12-07, 18:04:32, 144000000, 146000000, 1000000.00, 10, -30.00, -31.00, -31.00\n";
  const auto picture = [&] {
    std::ifstream in(dir / "map.png", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(Run("./wideglass --heatmap good.csv map.png"), 0) << Err();
  const std::string before = picture();
  EXPECT_EQ(Run("sh -c \"trap '' XFSZ; ulimit -f 2; exec ./wideglass --heatmap good.csv map.png\""), 1);
  EXPECT_NE(Err().find("map.png: the picture could not be written: File too large"), std::string::npos) << Err();
  EXPECT_EQ(picture(), before);
  if (::mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) return;  // not allowed here
  EXPECT_EQ(Run("./wideglass --heatmap good.csv full"), 1);
  EXPECT_NE(Err().find("full: the picture could not be written: No space left on device"), std::string::npos);
  EXPECT_TRUE(fs::is_character_file(dir / "full"));
}

}  // namespace
