// The set-up, the report and the sweep against the simulated receiver,
// loaded the way the program loads a receiver library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "receiver/api_rtl_sdr.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "tests/common/RunQueueWait.h"
#include "tests/sweep/SweepTestSupport.h"

using namespace std::chrono_literals;
using wg::ReceiverReport;
using wg::TSweepEngine;

namespace {

namespace api = api_rtl_sdr;
namespace fs = std::filesystem;

// Notes the centre of every step on its way to the simulator.
std::mutex g_centresLock;
std::vector<uint32_t> g_centres;
api::rtlsdr_set_center_freq_fn g_simSetCentre = nullptr;
int RecordingSetCentre(rtlsdr_dev_t* dev, uint32_t freq) {
  {
    std::lock_guard lk(g_centresLock);
    g_centres.push_back(freq);
  }
  return g_simSetCentre(dev, freq);
}
std::vector<uint32_t> Centres() {
  std::lock_guard lk(g_centresLock);
  return g_centres;
}

class Sim : public ::testing::Test {
 protected:
  void SetUp() override {
    // CTest runs every test in a process of its own; a test binary run whole
    // has lost the simulated stick to the hang test by now.
    if (TSweepEngine::AbandonedWorkersAlive() > 0) GTEST_SKIP() << "receiver held by a hung read";
    for (const char* v : {"RTLSDR_SIM_DEVICES", "RTLSDR_SIM_OPEN_FAIL", "RTLSDR_SIM_FAULT", "RTLSDR_SIM_FAULT_AFTER",
                          "RTLSDR_SIM_SCENE", "RTLSDR_SIM_SETTLE_BYTES", "RTLSDR_SIM_REPLUG_MS"})
      ::unsetenv(v);
    ::setenv("RTLSDR_SIM_PACE", "0", 1);
    cwd_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("wg-sweep-sim-" + std::to_string(::getpid()));
    // Loaded once per process and left loaded: the settings are read at
    // enumeration and open, and an unloaded simulator would take the
    // memory it still holds out of the leak checker's sight.
    if (!api::Loaded()) {
      fs::create_directories(dir_);
      fs::copy_file(WG_SIM_LIB, dir_ / "librtlsdr.so", fs::copy_options::overwrite_existing);
      api::LoadFrom(dir_.string());
      fs::current_path(cwd_);
      fs::remove_all(dir_);
      g_simSetCentre = api::rtlsdr_set_center_freq;
      api::rtlsdr_set_center_freq = &RecordingSetCentre;
    }
    ASSERT_TRUE(api::Loaded());
    {
      std::lock_guard lk(g_centresLock);
      g_centres.clear();
    }
    engine = std::make_unique<TSweepEngine>(&series, ui.Poster(),
                                            [this](const std::string& s) { log.push_back(s); });
    setup = std::make_unique<wg::TReceiverSetup>(*engine);
  }
  void TearDown() override {
    setup.reset();
    engine.reset();
  }

  fs::path cwd_, dir_;  // dir_: the plugins folder and scene files
  wgtest::UiQueue ui;
  wgtest::TestSeries series;
  std::vector<std::string> log;
  std::unique_ptr<TSweepEngine> engine;
  std::unique_ptr<wg::TReceiverSetup> setup;
};

TEST_F(Sim, ReportOfOneReceiverAndTheFirstSweeps) {
  const ReceiverReport r = setup->Run();
  EXPECT_EQ(r.outcome, ReceiverReport::Outcome::Opened);
  EXPECT_EQ(r.devices.at(0).serial, "00000001");
  EXPECT_EQ(r.gains.size(), 29u);
  EXPECT_EQ(r.freqCorrection, 2700);
  EXPECT_EQ(r.binWidth, 781.25);
  ASSERT_TRUE(ui.PumpUntil([&] { return series.deliveries >= 3; }));
  engine->Stop();
  const auto centres = Centres();
  ASSERT_GE(centres.size(), 10u);
  const std::vector<uint32_t> one{139600000, 142800000, 146000000, 149200000, 152400000};
  EXPECT_EQ(std::vector<uint32_t>(centres.begin(), centres.begin() + 5), one);
  EXPECT_EQ(std::vector<uint32_t>(centres.begin() + 5, centres.begin() + 10), one);
  ASSERT_EQ(series.PointCount(), 19200);
  for (int i = 0; i < 19200; ++i) ASSERT_EQ(series.x[i], 138000000.0 + i * 781.25);
  EXPECT_TRUE(log.empty());
}

TEST_F(Sim, TwoReceiversNoneAndFailingOpen) {
  const auto run = [&](const char* devices, bool openFails) {
    setup->Close();
    ::setenv("RTLSDR_SIM_DEVICES", devices, 1);
    if (openFails) ::setenv("RTLSDR_SIM_OPEN_FAIL", "1", 1);
    return setup->Run();
  };
  ReceiverReport r = run("2", false);
  EXPECT_EQ(r.deviceCount, 2u);
  EXPECT_EQ(r.devices.at(1).serial, "00000002");
  EXPECT_EQ(r.outcome, ReceiverReport::Outcome::Opened);
  // The first stick is closed before the set-up opens it again.
  r = run("2", false);
  EXPECT_EQ(r.outcome, ReceiverReport::Outcome::Opened) << r.openResult;
  EXPECT_TRUE(setup->OpenReceiver(1));
  EXPECT_TRUE(engine->Running());
  r = run("0", false);
  EXPECT_EQ(r.outcome, ReceiverReport::Outcome::NoReceiver);
  EXPECT_FALSE(engine->Running());
  r = run("1", true);
  EXPECT_EQ(r.outcome, ReceiverReport::Outcome::OpenFailed);
  EXPECT_EQ(r.openResult, -1);
  EXPECT_FALSE(engine->Running());
}

// The simulated stick takes the rates users pick, its own gains and any
// correction in range; the sweep follows a new rate with its bin width.
TEST_F(Sim, ReceiverControlsReachTheStickAndTheSweepFollows) {
  setup->Run();
  const auto settled = [&](bool result) { return wgtest::Settled(*setup, ui, result); };
  EXPECT_TRUE(settled(setup->SetGain(std::nullopt)));
  EXPECT_TRUE(settled(setup->SetGain(402)));
  EXPECT_FALSE(settled(setup->SetGain(400)));
  EXPECT_TRUE(settled(setup->SetFreqCorrection(0)));
  EXPECT_EQ(setup->Report().freqCorrection, 0);
  EXPECT_FALSE(settled(setup->SetSampleRate(500000)));
  EXPECT_EQ(engine->SampleRate(), 3200000);
  EXPECT_TRUE(settled(setup->SetSampleRate(2048000)));
  EXPECT_EQ(setup->Report().sampleRate, 2048000u);
  // A sweep at the new rate: one shown while an earlier change was settled
  // does not count.
  const int before = series.deliveries;
  ASSERT_TRUE(ui.PumpUntil([&] { return series.deliveries > before; }));
  engine->Stop();
  ASSERT_EQ(series.PointCount(), 30000);
  EXPECT_EQ(series.x[1] - series.x[0], 500.0);
  EXPECT_EQ(series.x[0], 138000000.0);
}

// The carrier of a scene shows at its frequency, well above the floor
// around it.
TEST_F(Sim, CarrierOfTheSceneShowsAtItsFrequency) {
  fs::create_directories(dir_);
  const fs::path scene = dir_ / "scene.txt";
  std::ofstream(scene) << "146500000 -30 carrier\n";
  ::setenv("RTLSDR_SIM_SCENE", scene.c_str(), 1);
  setup->Run();
  ASSERT_TRUE(ui.PumpUntil([&] { return series.deliveries >= 2; }));
  engine->Stop();
  // Look between 146.2 and 146.8 MHz, away from the step centre at 146 MHz.
  const int lo = static_cast<int>((146200000 - 138000000) / 781.25);
  const int hi = static_cast<int>((146800000 - 138000000) / 781.25);
  int best = lo;
  for (int i = lo; i < hi; ++i)
    if (series.y[i] > series.y[best]) best = i;
  EXPECT_NEAR(series.x[best], 146500000.0, 781.25);
  std::vector<double> around(series.y.begin() + lo, series.y.begin() + hi);
  std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
  EXPECT_GT(series.y[best] - around[around.size() / 2], 20.0);
  fs::remove_all(dir_);
}

// Two sticks share the range, each its own contiguous part, and every sweep
// shown is whole; a stick whose read fails leaves the rest of its part of
// that sweep unmeasured (NaN) with one line, and the other sweeps the whole
// range from the next sweep on.
TEST_F(Sim, SticksShareTheRangeAndAFailedOneLeavesItsPartAsAGap) {
  ::setenv("RTLSDR_SIM_DEVICES", "2", 1);
  setup->ChooseReceivers({0, 1});
  engine->SetScanRange(100000000, 132000000);  // ten steps, five each
  const ReceiverReport r = setup->Run();
  ASSERT_EQ(r.outcome, ReceiverReport::Outcome::Opened);
  ASSERT_EQ(r.others.size(), 1u);
  EXPECT_EQ(r.others[0].serial, "00000002");
  EXPECT_EQ(setup->OpenCount(), 2u);
  ASSERT_TRUE(ui.PumpUntil([&] { return series.deliveries >= 2; }));
  for (double y : series.y) ASSERT_FALSE(std::isnan(y));
  for (int i = 0; i < series.PointCount(); ++i) ASSERT_EQ(series.x[i], 100000000.0 + i * 781.25);
  engine->Stop();
  EXPECT_TRUE(log.empty());

  setup->Close();
  ::setenv("RTLSDR_SIM_FAULT", "none,error", 1);  // the second stick's reads fail from its third on
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "0,2", 1);
  std::vector<wg::SweepPtr> sweeps;
  engine->AddSweepListener([&](const wg::SweepPtr& s) { sweeps.push_back(s); });
  setup->Run();
  ASSERT_TRUE(ui.PumpUntil([&] { return sweeps.size() >= 4; }));
  engine->Stop();
  ui.Pump();
  const auto gaps = [](const wg::Sweep& s) {
    std::string steps;
    for (size_t j = 0; j < s.StepCount(); ++j) steps += std::isnan(s.levels[j * 4096 + 100]) ? '_' : 'x';
    return steps;
  };
  size_t k = 0;
  while (k < sweeps.size() && gaps(*sweeps[k]) == "xxxxxxxxxx") ++k;
  ASSERT_LT(k + 1, sweeps.size());
  EXPECT_EQ(gaps(*sweeps[k]), "xxxxxxx___");
  for (++k; k < sweeps.size(); ++k) EXPECT_EQ(gaps(*sweeps[k]), "xxxxxxxxxx");
  // One line naming the stick; the scan is not stopped.
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("00000002"), std::string::npos) << log[0];
  EXPECT_EQ(log[0].rfind(wg::kReadFailedText, 0), std::string::npos) << log[0];
}

// One stick of three hangs in a read: its part of that sweep is a gap said
// once, naming it, and the other two sweep the whole range from then on; the
// engine runs, and nothing says the receiver is lost.
TEST_F(Sim, OneHungStickOfSeveralIsAGapSaidOnceAndTheOthersSweepOn) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "the simulated read hangs for good (see HungReadIsAbandonedAndTheLibraryStaysLoaded)";
#endif
  ::setenv("RTLSDR_SIM_DEVICES", "3", 1);
  ::setenv("RTLSDR_SIM_FAULT", "none,hang,none", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "0,3,0", 1);  // its fourth read: the second sweep
  setup->ChooseReceivers({0, 1, 2});
  engine->SetScanRange(100000000, 132000000);  // ten steps: 3, 3 and 4
  std::vector<wg::SweepPtr> sweeps;
  engine->AddSweepListener([&](const wg::SweepPtr& s) { sweeps.push_back(s); });
  ASSERT_EQ(setup->Run().outcome, ReceiverReport::Outcome::Opened);
  ASSERT_TRUE(ui.PumpUntil([&] { return !log.empty(); }, 10s));
  ASSERT_TRUE(ui.PumpUntil([&] { return sweeps.size() >= 5; }, 10s));
  EXPECT_TRUE(engine->Running());
  EXPECT_FALSE(engine->WorkerAbandoned());
  EXPECT_FALSE(setup->ReceiverLost());
  engine->Stop();
  ui.Pump();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("00000002"), std::string::npos) << log[0];
  EXPECT_NE(log[0], wg::kReceiverLostText);
  const auto gaps = [](const wg::Sweep& s) {
    std::string steps;
    for (size_t j = 0; j < s.StepCount(); ++j) steps += std::isnan(s.levels[j * 4096 + 100]) ? '_' : 'x';
    return steps;
  };
  EXPECT_EQ(gaps(*sweeps[1]), "xxx___xxxx");
  for (size_t k = 2; k < sweeps.size(); ++k) EXPECT_EQ(gaps(*sweeps[k]), "xxxxxxxxxx") << k;
}

// The fast sweep drops what the stick still delivers of the previous step: a
// strong carrier leaves no ghost in the next step, and it reads as the
// written block reads it.
TEST_F(Sim, FastSweepShowsNoGhostOfThePreviousStep) {
  fs::create_directories(dir_);
  const fs::path scene = dir_ / "scene.txt";
  std::ofstream(scene) << "146500000 -20 carrier\n";
  ::setenv("RTLSDR_SIM_SCENE", scene.c_str(), 1);
  // The stick holds what rtl_power flushes after a retune, as much as the
  // fast step drops.
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "4096", 1);
  const auto levels = [&](bool fast) {
    setup->Close();
    engine->SetFast(fast);
    setup->Run();
    series.deliveries = 0;
    EXPECT_TRUE(ui.PumpUntil([&] { return series.deliveries >= 3; }));
    engine->Stop();
    return series.y;
  };
  const auto at = [](int64_t hz) { return static_cast<size_t>((hz - 138000000) / 781.25); };
  const std::vector<double> written = levels(false), fast = levels(true);
  ASSERT_EQ(fast.size(), 19200u);
  EXPECT_NEAR(fast[at(146500000)], written[at(146500000)], 1.0);
  // The next step is tuned 3.2 MHz higher: a ghost would sit 3.2 MHz up.
  std::vector<double> floor(fast.begin() + at(149500000), fast.begin() + at(150500000));
  std::nth_element(floor.begin(), floor.begin() + floor.size() / 2, floor.end());
  // Its power over the window's main lobe, so that one bin of noise is none.
  double ghost = 0;
  for (size_t i = at(149700000) - 2; i <= at(149700000) + 2; ++i) ghost += std::pow(10.0, fast[i] / 10) / 5;
  EXPECT_LT(10 * std::log10(ghost) - floor[floor.size() / 2], 6.0);
  EXPECT_GT(fast[at(146500000)] - floor[floor.size() / 2], 30.0);
  fs::remove_all(dir_);
}

// The stick's filter as a real one has it (edge roll-off, folding, DC
// spike), for one test; the others see the scene's levels.
struct FilterOn {
  FilterOn() { ::setenv("RTLSDR_SIM_FILTER", "1", 1); }
  ~FilterOn() { ::setenv("RTLSDR_SIM_FILTER", "0", 1); }
};

double Median(std::vector<float> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

// What the filtered stick shows of 144-151.2 MHz, averaged over sweeps: the
// floor across each step join, the carriers, and the step centres.
struct Filtered {
  double floor = 0;                          // median of every level
  std::vector<double> belowJoin, aboveJoin;  // median of the 64 bins (50 kHz) on each side of a join
  std::vector<double> centres;               // highest of the five bins at a step's centre
  double reference = 0, edgeA = 0, edgeB = 0, beside = 0;  // the carriers' levels
};

// Carriers of one level on the bin grid: R in the flat middle of a step
// whatever the crop; A in the outer tenth of the uncropped band of the
// cropped step tuned to 145.2 MHz; B in the outer tenth of the uncropped
// step tuned to 145.6 MHz. Their true level is R's: the filter is flat there,
// and so all three read alike on a stick without it. C stands three bins
// above the centre of the uncropped step tuned to 148.8 MHz.
constexpr int64_t kR = 145500000, kA = 146700000, kB = 147100000, kC = 148802344;

TEST_F(Sim, CroppedStepEdgesJoinFlatAndReadCarriersTrue) {
  FilterOn filter;
  fs::create_directories(dir_);
  const fs::path scene = dir_ / "scene.txt";
  std::ofstream(scene) << kR << " -40 carrier\n" << kA << " -40 carrier\n" << kB << " -40 carrier\n"
                       << kC << " -40 carrier\n";
  ::setenv("RTLSDR_SIM_SCENE", scene.c_str(), 1);
  engine->SetScanRange(144000000, 151200000);
  engine->SetTraceMode(wg::TraceMode::Average);
  std::vector<wg::SweepPtr> sweeps;
  engine->AddSweepListener([&](const wg::SweepPtr& s) { sweeps.push_back(s); });
  const auto measure = [&](double crop, bool keepDcSpike) {
    setup->Close();
    engine->SetCrop(crop);
    engine->SetKeepDcSpike(keepDcSpike);
    sweeps.clear();
    setup->Run();
    EXPECT_TRUE(ui.PumpUntil([&] { return sweeps.size() >= 8; }));
    engine->Stop();
    Filtered f;
    const wg::Sweep& first = *sweeps[0];
    const size_t per = static_cast<size_t>(first.pointsPerStep), steps = first.StepCount();
    // Each level's mean power over the sweeps.
    std::vector<double> power(first.PointCount());
    for (const auto& s : sweeps) {
      EXPECT_EQ(s->stepStarts, first.stepStarts);
      for (size_t i = 0; i < power.size(); ++i) power[i] += std::pow(10.0, s->levels[i] / 10) / sweeps.size();
    }
    std::vector<float> db(power.size());
    for (size_t i = 0; i < db.size(); ++i) db[i] = static_cast<float>(10 * std::log10(power[i]));
    const auto at = [&](int64_t hz) {
      size_t j = 0;
      while (j + 1 < steps && first.stepStarts[j + 1] <= hz) ++j;
      const size_t i = j * per + static_cast<size_t>(std::lround((hz - first.stepStarts[j]) / first.binWidth));
      EXPECT_NEAR(first.X(i), static_cast<double>(hz), 1.0);
      return db[i];
    };
    f.floor = Median(db);
    for (size_t j = 1; j < steps; ++j) {
      const auto join = db.begin() + static_cast<std::ptrdiff_t>(j * per);
      f.belowJoin.push_back(Median({join - 64, join}));
      f.aboveJoin.push_back(Median({join, join + 64}));
    }
    for (size_t j = 0; j < steps; ++j)
      f.centres.push_back(*std::max_element(db.begin() + static_cast<std::ptrdiff_t>(j * per + per / 2 - 2),
                                            db.begin() + static_cast<std::ptrdiff_t>(j * per + per / 2 + 3)));
    f.reference = at(kR), f.edgeA = at(kA), f.edgeB = at(kB), f.beside = at(kC);
    return f;
  };

  const Filtered cropped = measure(0.25, false);
  ASSERT_EQ(sweeps[0]->stepStarts, (std::vector<int64_t>{144000000, 146400000, 148800000}));
  EXPECT_TRUE(sweeps[0]->centreMended);
  ASSERT_EQ(cropped.belowJoin.size(), 2u);
  for (size_t j = 0; j < cropped.belowJoin.size(); ++j) {
    EXPECT_NEAR(cropped.belowJoin[j], cropped.aboveJoin[j], 1.0) << j;
    EXPECT_NEAR(cropped.belowJoin[j], cropped.floor, 1.0) << j;
    EXPECT_NEAR(cropped.aboveJoin[j], cropped.floor, 1.0) << j;
  }
  EXPECT_GT(cropped.reference - cropped.floor, 20.0);
  EXPECT_NEAR(cropped.edgeA, cropped.reference, 1.0);
  EXPECT_NEAR(cropped.edgeB, cropped.reference, 1.0);
  for (double c : cropped.centres) EXPECT_LT(c - cropped.floor, 3.0);

  // Without crop, as the stick delivers them: the joins dip, B reads low,
  // the centres spike.
  const Filtered whole = measure(0, true);
  EXPECT_FALSE(sweeps[0]->centreMended);
  ASSERT_EQ(whole.belowJoin.size(), 2u);
  for (size_t j = 0; j < whole.belowJoin.size(); ++j) {
    EXPECT_LT(whole.belowJoin[j], whole.floor - 5.0) << j;
    EXPECT_LT(whole.aboveJoin[j], whole.floor - 5.0) << j;
  }
  EXPECT_LT(whole.edgeB, whole.reference - 5.0);
  for (double c : whole.centres) EXPECT_GT(c - whole.floor, 10.0);
  // By default the centres are mended, and the carrier beside one keeps its level.
  const Filtered mended = measure(0, false);
  EXPECT_TRUE(sweeps[0]->centreMended);
  for (double c : mended.centres) EXPECT_LT(std::fabs(c - mended.floor), 4.0);
  EXPECT_NEAR(mended.beside, whole.beside, 1.0);
  EXPECT_NEAR(mended.beside, mended.reference, 1.0);
  std::printf("floor %.2f; cropped joins %+.2f %+.2f / %+.2f %+.2f, A %+.2f B %+.2f, centres %+.2f; "
              "whole join %+.2f %+.2f, B %+.2f, centre %+.2f dB; mended centres %+.2f %+.2f %+.2f, "
              "C %+.2f dB beside the spike, %+.2f mended\n",
              cropped.floor, cropped.belowJoin[0] - cropped.floor, cropped.aboveJoin[0] - cropped.floor,
              cropped.belowJoin[1] - cropped.floor, cropped.aboveJoin[1] - cropped.floor,
              cropped.edgeA - cropped.reference, cropped.edgeB - cropped.reference, cropped.centres[0] - cropped.floor,
              whole.belowJoin[0] - whole.floor, whole.aboveJoin[0] - whole.floor, whole.edgeB - whole.reference,
              whole.centres[0] - whole.floor, mended.centres[0] - mended.floor, mended.centres[1] - mended.floor,
              mended.centres[2] - mended.floor, whole.beside - whole.reference, mended.beside - mended.reference);
  fs::remove_all(dir_);
}

// Two sticks share the cropped steps, each reading only what it uses: the
// sweep is whole and its levels lie bin for bin from the start.
TEST_F(Sim, CroppedStepsShareAmongSticksInTheFastSweep) {
  ::setenv("RTLSDR_SIM_DEVICES", "2", 1);
  setup->ChooseReceivers({0, 1});
  engine->SetScanRange(100000000, 132000000);
  engine->SetCrop(0.3);
  engine->SetFast(true);
  std::vector<wg::SweepPtr> sweeps;
  engine->AddSweepListener([&](const wg::SweepPtr& s) { sweeps.push_back(s); });
  ASSERT_EQ(setup->Run().outcome, ReceiverReport::Outcome::Opened);
  ASSERT_EQ(setup->OpenCount(), 2u);
  ASSERT_TRUE(ui.PumpUntil([&] { return sweeps.size() >= 2; }));
  engine->Stop();
  const wg::Sweep& s = *sweeps[1];
  EXPECT_EQ(s.pointsPerStep, 2880);
  EXPECT_EQ(s.firstBin, (4096 - 2880) / 2);
  EXPECT_EQ(s.StepCount(), 15u);  // 32 MHz in steps of 2.25 MHz
  ASSERT_EQ(series.PointCount(), 40960);
  for (int i = 0; i < series.PointCount(); ++i) {
    ASSERT_FALSE(std::isnan(series.y[i])) << i;
    ASSERT_NEAR(series.x[i], 100000000.0 + i * 781.25, 0.5) << i;
  }
  for (size_t j = 0; j < s.StepCount(); ++j)
    EXPECT_NEAR(s.TunedCentre(j), s.stepStarts[j] + 1440 * 781.25, 0.5) << j;
  EXPECT_TRUE(log.empty());
}

class SimReadFaults : public Sim, public ::testing::WithParamInterface<const char*> {};

TEST_P(SimReadFaults, FailedReadStopsTheSweepWithOneLogLine) {
  ::setenv("RTLSDR_SIM_FAULT", GetParam(), 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "7", 1);  // the eighth read: second sweep, third step
  setup->Run();
  // The sweep stops before its line is posted.
  ASSERT_TRUE(ui.PumpUntil([&] { return !engine->Running() && !log.empty(); }));
  ui.Pump();
  EXPECT_EQ(Centres().size(), 8u);
  EXPECT_EQ(series.deliveries, 1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log.back().rfind(wg::kReadFailedText, 0), 0u) << log.back();
}

INSTANTIATE_TEST_SUITE_P(Faults, SimReadFaults, ::testing::Values("short", "error"));

std::string AwayLine(wg::PoolNote::Kind kind, const std::string& serial) {
  wg::PoolNote n;
  n.kind = kind;
  n.serial = serial;
  return wg::ReceiverAwayLine(n);
}

// Each way one line: gone, back, gone, ... and nothing else.
void ExpectGoneAndBackInTurn(const std::vector<std::string>& log) {
  const std::string gone = AwayLine(wg::PoolNote::Kind::Gone, "00000001"),
                    back = AwayLine(wg::PoolNote::Kind::Back, "00000001");
  EXPECT_EQ(gone, "Приёмник отключён (серийный номер 00000001): ожидаю его возвращения");
  for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i], i % 2 ? back : gone) << i;
}

// A handle the library says has no device any more is let go of; the stick,
// still listed, is opened again by its serial and the sweep goes on, with
// one line each way.
TEST_F(Sim, AStickWhoseHandleDiedIsOpenedAgainAndTheSweepGoesOn) {
  ::setenv("RTLSDR_SIM_FAULT", "unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "7", 1);
  setup->Run();
  ASSERT_TRUE(ui.PumpUntil([&] { return series.deliveries >= 3; }));
  engine->Stop();
  ui.Pump();
  // Each new handle dies at its eighth read as well.
  ASSERT_GE(log.size(), 2u);
  ExpectGoneAndBackInTurn(log);
}

// Pulled out and back 2.5 s later: while it is away the range and the gain
// change without a read error each time (the gain is kept for its return),
// and the sweep goes on once it is back.
TEST_F(Sim, AStickPulledOutIsWaitedForThroughRangeEditsAndResumes) {
  ::setenv("RTLSDR_SIM_FAULT", "unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "12", 1);
  ::setenv("RTLSDR_SIM_REPLUG_MS", "2500", 1);
  int awayWhenGone = -1;
  engine->AddReceiverListener([&](const wg::PoolNote& n) {
    if (n.kind == wg::PoolNote::Kind::Gone && awayWhenGone < 0) awayWhenGone = engine->ReceiverAway();
  });
  ASSERT_EQ(setup->Run().outcome, ReceiverReport::Outcome::Opened);
  ASSERT_TRUE(ui.PumpUntil([&] { return !log.empty(); }));
  EXPECT_EQ(awayWhenGone, 1);
  for (int i = 1; i <= 5; ++i) {
    engine->Stop();
    engine->SetScanRange(138000000 + i * 1000000, 153000000 + i * 1000000);
    engine->Reset();
    engine->PrepareSeries();
    EXPECT_TRUE(engine->Start());
    ui.Pump();
  }
  setup->SetGain(300);  // kept for its return
  const int before = series.deliveries;
  ASSERT_TRUE(ui.PumpUntil([&] { return series.deliveries > before; }));
  engine->Stop();
  ui.Pump();
  EXPECT_FALSE(engine->ReceiverAway());
  ASSERT_GE(log.size(), 2u);
  ExpectGoneAndBackInTurn(log);
  EXPECT_EQ(series.x.front(), 143000000.0);
  const wg::Receiver* r = engine->FindReceiver(engine->Receivers().at(0));
  EXPECT_EQ(r->Settings().gainMode, wg::GainMode::Manual);
  EXPECT_EQ(r->Settings().gainTenths, 297);  // the tuner's nearest
}

TEST_F(Sim, HungReadIsAbandonedAndTheLibraryStaysLoaded) {
#ifdef __SANITIZE_THREAD__
  // The simulated read hangs for good, so at exit the library's own statics
  // are torn down under that thread, which ThreadSanitizer reports against
  // the library. The engine's side of a hang runs under it with the fake.
  GTEST_SKIP() << "covered by the scripted receiver under ThreadSanitizer";
#endif
  ::setenv("RTLSDR_SIM_FAULT", "hang", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "2", 1);
  setup->Run();
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (Centres().size() < 3 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(Centres().size(), 3u);
  std::this_thread::sleep_for(20ms);  // into the read
  EXPECT_LT(wgtest::HeldFor([&] { engine->Stop(); }), 100ms);
  ASSERT_TRUE(ui.PumpUntil([&] { return !log.empty() && log.back() == wg::kReceiverLostText; }, 5s));
  EXPECT_TRUE(engine->WorkerAbandoned());
  EXPECT_EQ(TSweepEngine::AbandonedWorkersAlive(), 1);
  EXPECT_FALSE(engine->Start());
  EXPECT_EQ(Centres().size(), 3u);
}

}  // namespace
