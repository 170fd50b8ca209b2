// Scene files, the default scene and the settings read from the environment.
#include "sim/Config.h"
#include "sim/Scene.h"
#include "tests/sim/SimTestUtil.h"

#include <clocale>
#include <iterator>
#include <optional>

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

// A keyed emitter is on for on=, off for off=, over and over from the
// simulator's start; mistakes are reported by line like the others.
TEST(Scene, KeyedEmittersFollowTheirOnAndOffTimes) {
  std::vector<std::string> problems;
  const std::vector<Emitter> s = ParseScene(
      "146520000 -50 carrier on=2 off=3\n"
      "144.8e6, -40, nfm, off=0, ON=0.5\n"
      "150e6 -45 fm 12000 on=1.5 off=1\n"
      "146e6 -50 on=2\n146e6 -50 on=0 off=1\n146e6 -50 on=1 off=-1\n"
      "146e6 -50 on=1 off=1 on=2\n146e6 -50 duty=0.5\n146e6 -50 on=x off=1\n",
      &problems);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].kind, EmitterKind::Carrier);
  EXPECT_EQ(s[2].deviationHz, 12000);
  ASSERT_EQ(problems.size(), 6u);
  EXPECT_EQ(problems[0], "line 4: keying needs both on=SECONDS and off=SECONDS");
  EXPECT_EQ(problems[5].rfind("line 9:", 0), 0u) << problems[5];

  const Emitter& keyed = s[0];
  const std::pair<double, bool> at[] = {{0, true},  {1.99, true}, {2.0, false}, {4.99, false},
                                        {5.0, true}, {7.5, false}, {1e6 + 1, true}};
  for (auto [t, on] : at) EXPECT_EQ(EmitterOn(keyed, t), on) << t;
  EXPECT_TRUE(EmitterOn(s[1], 12345.6));  // off=0: never off
  EXPECT_TRUE(EmitterOn(Emitter{}, 3));   // not keyed
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
  Config c = ReadConfig(0, &w);
  EXPECT_TRUE(w.empty());
  EXPECT_TRUE(c.paced);
  EXPECT_TRUE(c.filter);
  EXPECT_EQ(c.tuneUs, 5000u);
  EXPECT_EQ(c.settleBytes, 4096u);
  EXPECT_EQ(c.fault, Fault::None);
  EXPECT_FALSE(c.crystalErrorPpm);
  EXPECT_FALSE(c.replugMs);
  EXPECT_EQ(c.tuner, TunerKind::R820t);
  EXPECT_EQ(c.lnaDb, 0);

  ::setenv("RTLSDR_SIM_PACE", "0", 1);
  ::setenv("RTLSDR_SIM_SEED", "18446744073709551615", 1);
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  ::setenv("RTLSDR_SIM_FAULT", "unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "12", 1);
  ::setenv("RTLSDR_SIM_PPM", "-12.5", 1);
  ::setenv("RTLSDR_SIM_TUNE_US", "0", 1);
  ::setenv("RTLSDR_SIM_FILTER", "0", 1);
  ::setenv("RTLSDR_SIM_REPLUG_MS", "1500", 1);
  ::setenv("RTLSDR_SIM_TUNER", "e4000", 1);
  ::setenv("RTLSDR_SIM_LNA_DB", "15.5", 1);
  for (uint32_t stick : {0u, 5u}) {  // a single value holds for every stick
    c = ReadConfig(stick, &w);
    EXPECT_EQ(c.crystalErrorPpm, -12.5);
    EXPECT_TRUE(w.empty());
    EXPECT_FALSE(c.paced);
    EXPECT_FALSE(c.filter);
    EXPECT_EQ(c.tuneUs, 0u);
    EXPECT_EQ(c.seed, UINT64_MAX);
    EXPECT_EQ(c.settleBytes, 0u);
    EXPECT_EQ(c.fault, Fault::Unplug);
    EXPECT_EQ(c.faultAfter, 12u);
    EXPECT_EQ(c.replugMs, 1500u);
    EXPECT_EQ(c.tuner, TunerKind::E4000);
    EXPECT_EQ(c.lnaDb, 15.5);
  }

  ::setenv("RTLSDR_SIM_PACE", "fast", 1);
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "-1", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "3x", 1);
  ::setenv("RTLSDR_SIM_FAULT", "melt", 1);
  ::setenv("RTLSDR_SIM_DEVICES", "65", 1);
  ::setenv("RTLSDR_SIM_PPM", "2.5.1", 1);
  ::setenv("RTLSDR_SIM_TUNE_US", "10000001", 1);
  ::setenv("RTLSDR_SIM_FILTER", "on", 1);
  ::setenv("RTLSDR_SIM_REPLUG_MS", "-5", 1);
  ::setenv("RTLSDR_SIM_TUNER", "fc0012", 1);
  ::setenv("RTLSDR_SIM_LNA_DB", "61", 1);
  c = ReadConfig(0, &w);
  EXPECT_FALSE(c.crystalErrorPpm);
  EXPECT_TRUE(c.paced);
  EXPECT_TRUE(c.filter);
  EXPECT_EQ(c.tuneUs, 5000u);
  EXPECT_EQ(c.settleBytes, 4096u);
  EXPECT_EQ(c.faultAfter, 0u);
  EXPECT_EQ(c.fault, Fault::None);
  EXPECT_FALSE(c.replugMs);
  EXPECT_EQ(c.tuner, TunerKind::R820t);
  EXPECT_EQ(c.lnaDb, 0);
  EXPECT_EQ(ConfiguredDeviceCount(&w), 1u);
  EXPECT_EQ(w.size(), 11u);
  simtest::ClearSimVariables();
}

// A comma list gives each stick its own value: one plain value for all,
// several in stick order, INDEX:VALUE for one stick over the rest.
TEST(SimEnvironment, PerStickListsGiveEachStickItsOwn) {
  simtest::ClearSimVariables();
  ::setenv("RTLSDR_SIM_PPM", "1.5,,-3", 1);  // stick 1 and sticks past 2: exact
  ::setenv("RTLSDR_SIM_FAULT", "hang,1:none,3:unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "0:5,2:7", 1);
  ::setenv("RTLSDR_SIM_OPEN_FAIL", "2:1", 1);
  ::setenv("RTLSDR_SIM_REPLUG_MS", "1:200", 1);
  ::setenv("RTLSDR_SIM_TUNER", "r820t,e4000", 1);
  struct Want {
    std::optional<double> ppm;
    Fault fault;
    uint64_t after;
    bool openFails;
    std::optional<uint32_t> replug;
    TunerKind tuner;
  };
  const Want want[] = {{1.5, Fault::Hang, 5, false, {}, TunerKind::R820t},
                       {{}, Fault::None, 0, false, 200u, TunerKind::E4000},
                       {-3.0, Fault::Hang, 7, true, {}, TunerKind::R820t},
                       {{}, Fault::Unplug, 0, false, {}, TunerKind::R820t}};
  for (uint32_t i = 0; i < std::size(want); ++i) {
    std::vector<std::string> w;
    const Config c = ReadConfig(i, &w);
    EXPECT_TRUE(w.empty()) << w.front();
    EXPECT_EQ(c.crystalErrorPpm, want[i].ppm) << i;
    EXPECT_EQ(c.fault, want[i].fault) << i;
    EXPECT_EQ(c.faultAfter, want[i].after) << i;
    EXPECT_EQ(c.openFails, want[i].openFails) << i;
    EXPECT_EQ(c.replugMs, want[i].replug) << i;
    EXPECT_EQ(c.tuner, want[i].tuner) << i;
  }

  // A bad item is named and skipped, whichever stick is opened; the rest of
  // the list holds.
  ::setenv("RTLSDR_SIM_FAULT", "x:unplug,64:hang,1:melt,0:error", 1);
  ::setenv("RTLSDR_SIM_PPM", "2,5", 1);  // a list, not a decimal comma
  std::vector<std::string> w;
  Config c = ReadConfig(1, &w);
  EXPECT_EQ(c.fault, Fault::None);
  EXPECT_EQ(c.crystalErrorPpm, 5.0);
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[2], "RTLSDR_SIM_FAULT='x:unplug,64:hang,1:melt,0:error': '1:melt' is not one of none, "
                  "short, error, unplug, hang; no fault");
  c = ReadConfig(0, &w);
  EXPECT_EQ(c.fault, Fault::Error);
  simtest::ClearSimVariables();
}

}  // namespace
