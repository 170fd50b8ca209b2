// Receivers on the simulated stick, bound as a library object: what the
// set-up reports, two sticks sharing a range, the fast step against stale
// samples, and a stick unplugged mid-sweep that comes back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "receiver/LocalRtlSdr.h"
#include "receiver/ReceiverPool.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepEngine.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Every read length the stick was asked for.
std::mutex g_lengthsLock;
std::vector<int> g_lengths;
api_rtl_sdr::rtlsdr_read_sync_fn g_simRead = nullptr;
int RecordingRead(rtlsdr_dev_t* dev, void* buf, int len, int* n) {
  {
    std::lock_guard lk(g_lengthsLock);
    g_lengths.push_back(len);
  }
  return g_simRead(dev, buf, len, n);
}

class SimReceivers : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"RTLSDR_SIM_DEVICES", "RTLSDR_SIM_OPEN_FAIL", "RTLSDR_SIM_FAULT", "RTLSDR_SIM_FAULT_AFTER",
                          "RTLSDR_SIM_SCENE", "RTLSDR_SIM_SETTLE_BYTES", "RTLSDR_SIM_PPM"})
      ::unsetenv(v);
    ::setenv("RTLSDR_SIM_PACE", "0", 1);
    ::setenv("RTLSDR_SIM_FILTER", "0", 1);  // scenes as written, without the demodulator's filter
    std::string error;
    auto sim = wg::RtlSdrLibrary::Load(WG_SIM_LIB, &error);
    ASSERT_TRUE(sim) << error;
    wg::RtlSdrEntryPoints api = sim->Api();
    g_simRead = api.rtlsdr_read_sync;
    api.rtlsdr_read_sync = &RecordingRead;
    // The file stays loaded through `sim`, held by the test.
    simFile = sim;
    library = wg::RtlSdrLibrary::FromEntryPoints(api);
    scene = fs::temp_directory_path() / ("wg-receiver-scene-" + std::to_string(::getpid()));
  }
  void TearDown() override {
    pool.reset();
    fs::remove(scene);
  }
  void Scene(const std::string& text) {
    std::ofstream(scene) << text;
    ::setenv("RTLSDR_SIM_SCENE", scene.c_str(), 1);
  }
  std::unique_ptr<wg::Receiver> Stick(uint32_t index) {
    return std::make_unique<wg::Receiver>(std::make_unique<wg::LocalRtlSdr>(library, index), wg::ReceiverSettings{});
  }
  // A pool of `sticks` simulated sticks sweeping start..stop.
  void Sweep(int sticks, int64_t start, int64_t stop, wg::ReadPlan read = {}) {
    pool = std::make_unique<wg::ReceiverPool>(wg::ReceiverPool::Listener{
        [this](std::shared_ptr<const wg::PooledSweep> s) {
          std::lock_guard lk(m);
          sweeps.push_back(std::move(s));
          cv.notify_all();
        },
        [this](const wg::PoolNote& n) {
          std::lock_guard lk(m);
          notes.push_back(n.kind);
          cv.notify_all();
        }});
    for (int i = 0; i < sticks; ++i) pool->Add(Stick(static_cast<uint32_t>(i)));
    wg::ScanPlan plan;
    plan.centres = wg::SweepCentres(start, stop, 3200000);
    plan.rate = 3200000;
    plan.read = read;
    plan.transform = read.usedBytes > wg::kSpectrumBytes ? &wg::AveragedSpectrumOfBlock : &wg::SpectrumOfBlock;
    pool->SetPlan(plan);
    centres = plan.centres;
  }
  std::shared_ptr<const wg::PooledSweep> WaitSweep(size_t n) {
    std::unique_lock lk(m);
    if (!cv.wait_for(lk, 20s, [&] { return sweeps.size() >= n; })) return nullptr;
    return sweeps[n - 1];
  }
  bool WaitNotes(wg::PoolNote::Kind k, long n) {
    std::unique_lock lk(m);
    return cv.wait_for(lk, 20s, [&] { return std::count(notes.begin(), notes.end(), k) >= n; });
  }
  // Level at a frequency, and the median level of its step.
  double LevelAt(const wg::PooledSweep& s, double hz) const {
    for (size_t j = 0; j < centres.size(); ++j) {
      const double g = (hz - (centres[j] - 1600000)) / 781.25;
      if (g >= 0 && g < 4096) return s.levels[j * 4096 + static_cast<size_t>(std::lround(g))];
    }
    return NAN;
  }
  static double Median(const wg::PooledSweep& s, size_t step) {
    std::vector<double> v(s.levels.begin() + step * 4096, s.levels.begin() + (step + 1) * 4096);
    std::nth_element(v.begin(), v.begin() + 2048, v.end());
    return v[2048];
  }

  std::shared_ptr<const wg::RtlSdrLibrary> simFile, library;
  fs::path scene;
  std::unique_ptr<wg::ReceiverPool> pool;
  std::vector<int64_t> centres;
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::shared_ptr<const wg::PooledSweep>> sweeps;
  std::vector<wg::PoolNote::Kind> notes;
};

TEST_F(SimReceivers, SetUpFindsWhatTheWrittenSetUpReports) {
  auto r = Stick(0);
  ASSERT_TRUE(r->Start() && r->WaitOpened(5s));
  const wg::ReceiverFound f = r->Found();
  EXPECT_EQ(f.serial, "00000001");
  EXPECT_EQ(f.tuner, 5u);
  EXPECT_EQ(f.gains.size(), 29u);
  EXPECT_EQ(f.freqCorrection, 2700);
  EXPECT_EQ(f.sampleRate, 3200000u);
  EXPECT_TRUE(f.abilities.biasTee && f.abilities.directSampling && f.abilities.offsetTuning);
}

// Carriers in different shares show at their frequencies, the fast step's
// levels are the written block's, and the strong one leaves no ghost in the
// step tuned after it.
TEST_F(SimReceivers, TwoSticksShareARangeAndNoStepShowsItsPredecessor) {
  ::setenv("RTLSDR_SIM_DEVICES", "2", 1);
  Scene("100500000 -20 carrier\n110200000 -30 carrier\n");
  std::vector<double> written;
  for (bool fast : {false, true}) {
    sweeps.clear();
    wg::ReadPlan read;
    read.fast = fast;
    Sweep(2, 96000000, 112000000, read);
    const auto s = WaitSweep(2);
    ASSERT_TRUE(s);
    pool.reset();
    ASSERT_EQ(centres.size(), 5u);
    EXPECT_EQ(std::count(s->marks.begin(), s->marks.end(), wg::StepMark::Measured), 5);
    const double carriers[] = {100500000.0, 110200000.0};  // one in each stick's share
    for (int c = 0; c < 2; ++c) {
      const double hz = carriers[c];
      EXPECT_GT(LevelAt(*s, hz) - Median(*s, static_cast<size_t>((hz - 96000000) / 3200000)), 20.0) << hz;
      if (!fast) written.push_back(LevelAt(*s, hz));
      else EXPECT_NEAR(LevelAt(*s, hz), written[c], 1.0) << hz;
    }
    // 100.5 MHz lies in the step tuned to 100.8 MHz; the next one is tuned
    // 3.2 MHz higher, so a ghost of it would sit at 103.7 MHz.
    EXPECT_LT(LevelAt(*s, 100500000.0 + 3200000) - Median(*s, 2), 6.0) << (fast ? "fast" : "written");
  }
  std::lock_guard lk(g_lengthsLock);
  EXPECT_TRUE(std::all_of(g_lengths.begin(), g_lengths.end(), [](int n) { return n % 512 == 0; }));
  EXPECT_EQ(g_lengths.back(), 12288);
}

TEST_F(SimReceivers, UnpluggedStickComesBackAndTheSweepGoesOn) {
  ::setenv("RTLSDR_SIM_FAULT", "unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "7", 1);
  Sweep(1, 138000000, 153000000);
  ASSERT_TRUE(WaitNotes(wg::PoolNote::Kind::Gone, 1));
  ASSERT_TRUE(WaitNotes(wg::PoolNote::Kind::Back, 1));
  // Five steps a sweep: the sweep cut short by the unplug shows nothing.
  const auto s = WaitSweep(2);
  ASSERT_TRUE(s);
  EXPECT_EQ(std::count(s->marks.begin(), s->marks.end(), wg::StepMark::Measured), 5);
}

}  // namespace
