// Scene files, the default scene and the settings read from the environment.
#include "sim/Config.h"
#include "sim/Scene.h"
#include "tests/sim/SimTestUtil.h"

#include <clocale>

namespace {

using namespace wg::sim;
using simtest::SimTest;

TEST(Scene, ReadsEmittersAndSkipsBadLinesByNumber) {
  std::vector<std::string> problems;
  const std::vector<Emitter> s = ParseScene(
      "# frequency level kind\n"
      "\n"
      "146520000 -50 carrier   # calling channel\n"
      "144.8e6, -40, NFM\n"
      "  99700000\t-35\tfm\r\n"
      "150000000 -45 fm 12000\n"
      "151000000 -60\n",
      &problems);
  EXPECT_TRUE(problems.empty());
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[0].frequencyHz, 146520000);
  EXPECT_EQ(s[0].levelDb, -50);
  EXPECT_EQ(s[0].kind, EmitterKind::Carrier);
  EXPECT_EQ(s[1].frequencyHz, 144800000);
  EXPECT_EQ(s[1].kind, EmitterKind::Nfm);
  EXPECT_EQ(s[1].deviationHz, 5000);
  EXPECT_EQ(s[2].kind, EmitterKind::Fm);
  EXPECT_EQ(s[2].deviationHz, 75000);
  EXPECT_EQ(s[3].deviationHz, 12000);
  EXPECT_EQ(s[4].kind, EmitterKind::Carrier);

  problems.clear();
  const std::vector<Emitter> bad = ParseScene(
      "146520000 -50 carrier\n"
      "146.5MHz -50\n146520000\n-5 -50\n146520000 loud\n146520000 -50 am\n"
      "146520000 -50 carrier 5\n1e300 -50\n146520000 nan\n146520000 -50 fm 1 2\n"
      "147000000 -55 fm\n",
      &problems);
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_EQ(bad[1].frequencyHz, 147000000);
  ASSERT_EQ(problems.size(), 9u);
  EXPECT_EQ(problems[0].rfind("line 2:", 0), 0u) << problems[0];
  EXPECT_EQ(problems[8].rfind("line 10:", 0), 0u) << problems[8];
}

// Scene files use a decimal point whatever the locale of the program that
// loads the simulator; a scene that cannot be read fails the open.
TEST_F(SimTest, SceneNumbersIgnoreTheLocaleAndUnreadableScenesFailTheOpen) {
  const char* set = std::setlocale(LC_ALL, "ru_RU.UTF-8");
  if (!set) set = std::setlocale(LC_ALL, "de_DE.UTF-8");
  std::vector<std::string> problems;
  const std::vector<Emitter> s = ParseScene("146520000.5 -50.25\n+1.5e8 -40\n1,5e8 -40 fm 1\n", &problems);
  std::setlocale(LC_ALL, "C");
  ASSERT_TRUE(set) << "no comma locale installed";
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].frequencyHz, 146520000.5);
  EXPECT_EQ(s[0].levelDb, -50.25);
  EXPECT_EQ(s[1].frequencyHz, 1.5e8);
  EXPECT_EQ(problems.size(), 1u);  // "1,5e8 -40 fm 1" is four fields, the first 1

  char dir[] = "/tmp/wg-sim-scene-dir-XXXXXX";
  ASSERT_TRUE(::mkdtemp(dir));
  const std::string missing = std::string(dir) + "/none";
  for (const std::string& path : {std::string(dir), missing}) {
    ::setenv("RTLSDR_SIM_SCENE", path.c_str(), 1);
    rtlsdr_dev_t* d = nullptr;
    EXPECT_EQ(rtlsdr_open(&d, 0), -1) << path;
    EXPECT_EQ(d, nullptr);
  }
  ::rmdir(dir);
}

// The viewer tunes 139.6, 142.8, ... MHz and shows a centre spike there; the
// default scene keeps its emitters clear of those, and has something in the
// viewer's initial range and in the FM broadcast band.
TEST(Scene, DefaultSceneFillsTheViewersRanges) {
  int inScanRange = 0, inBroadcast = 0, fm = 0;
  for (const Emitter& e : DefaultScene()) {
    inScanRange += e.frequencyHz >= 138e6 && e.frequencyHz < 153e6;
    inBroadcast += e.frequencyHz >= 88e6 && e.frequencyHz <= 108e6;
    fm += e.kind != EmitterKind::Carrier;
    for (double centre = 139.6e6; centre < 153e6; centre += 3.2e6)
      EXPECT_GT(std::abs(e.frequencyHz - centre), e.deviationHz + 5000) << e.frequencyHz;
  }
  EXPECT_GE(inScanRange, 5);
  EXPECT_GE(inBroadcast, 5);
  EXPECT_GE(fm, 2);
}

TEST(SimEnvironment, ValuesAreTakenAndBadOnesWarnedAbout) {
  simtest::ClearSimVariables();
  std::vector<std::string> w;
  Config c = ReadConfig(&w);
  EXPECT_TRUE(w.empty());
  EXPECT_TRUE(c.paced);
  EXPECT_EQ(c.settleBytes, 16384u);
  EXPECT_EQ(c.fault, Fault::None);
  EXPECT_FALSE(c.crystalErrorPpm);

  ::setenv("RTLSDR_SIM_PACE", "0", 1);
  ::setenv("RTLSDR_SIM_SEED", "18446744073709551615", 1);
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  ::setenv("RTLSDR_SIM_FAULT", "unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "12", 1);
  ::setenv("RTLSDR_SIM_PPM", "-12.5", 1);
  c = ReadConfig(&w);
  EXPECT_EQ(c.crystalErrorPpm, -12.5);
  EXPECT_TRUE(w.empty());
  EXPECT_FALSE(c.paced);
  EXPECT_EQ(c.seed, UINT64_MAX);
  EXPECT_EQ(c.settleBytes, 0u);
  EXPECT_EQ(c.fault, Fault::Unplug);
  EXPECT_EQ(c.faultAfter, 12u);

  ::setenv("RTLSDR_SIM_PACE", "fast", 1);
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "-1", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "3x", 1);
  ::setenv("RTLSDR_SIM_FAULT", "melt", 1);
  ::setenv("RTLSDR_SIM_DEVICES", "65", 1);
  ::setenv("RTLSDR_SIM_PPM", "2,5", 1);
  c = ReadConfig(&w);
  EXPECT_FALSE(c.crystalErrorPpm);
  EXPECT_TRUE(c.paced);
  EXPECT_EQ(c.settleBytes, 16384u);
  EXPECT_EQ(c.faultAfter, 0u);
  EXPECT_EQ(c.fault, Fault::None);
  EXPECT_EQ(ConfiguredDeviceCount(&w), 1u);
  EXPECT_EQ(w.size(), 6u);
  simtest::ClearSimVariables();
}

}  // namespace
