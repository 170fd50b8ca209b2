// A remote receiver against Debian's rtl_tcp serving the simulated stick on
// 127.0.0.1: no sample of a previous tuning over a thousand retunes, a scene
// seen as a stick on this computer sees it, a server killed mid-sweep and
// started again, and what each command the server takes does to its stream.
#include <gtest/gtest.h>
#include <rtl-sdr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "receiver/LocalRtlSdr.h"
#include "receiver/ReceiverPool.h"
#include "receiver/RtlTcpDevice.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepEngine.h"
#include "tests/common/RtlTcpServer.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kRate = 3200000;

// Power of a tone `offsetHz` from the centre in 256 I/Q samples, against
// full scale; a -20 dB carrier reads some 160, noise well under 1.
double ToneIn(const uint8_t* iq, double offsetHz, double rate) {
  constexpr int n = 256;
  const std::complex<double> step = std::polar(1.0, -2 * M_PI * offsetHz / rate);
  std::complex<double> acc = 0, turn = 1;
  for (int i = 0; i < n; ++i, turn *= step) acc += std::complex<double>(iq[2 * i] - 127.5, iq[2 * i + 1] - 127.5) * turn;
  return std::norm(acc) / n / n;
}
constexpr double kToneSeen = 20;

// The level in dB of a tone `offsetHz` from the centre over all of `iq`.
double ToneDb(const std::vector<uint8_t>& iq, size_t from, double offsetHz, double rate) {
  const size_t n = (iq.size() - from) / 2;
  const std::complex<double> step = std::polar(1.0, -2 * M_PI * offsetHz / rate);
  std::complex<double> acc = 0, turn = 1;
  for (size_t i = 0; i < n; ++i, turn *= step)
    acc += std::complex<double>(iq[from + 2 * i] - 127.5, iq[from + 2 * i + 1] - 127.5) * turn;
  return 10 * std::log10(std::norm(acc) / double(n) / double(n) / (127.5 * 127.5) + 1e-30);
}

class RtlTcpSim : public ::testing::Test {
 protected:
  void SetUp() override {
    scene = fs::temp_directory_path() / ("wg-rtltcp-scene-" + std::to_string(::getpid()));
  }
  void TearDown() override {
    pool.reset();
    server.reset();
    fs::remove(scene);
  }
  // rtl_tcp on the paced simulator with this scene; the server's stream
  // keeps the stick's own pace, as over a network.
  void Serve(const std::string& sceneText, std::map<std::string, std::string> env = {}) {
    std::ofstream(scene) << sceneText;
    env.emplace("RTLSDR_SIM_SCENE", scene.string());
    env.emplace("RTLSDR_SIM_PACE", "1");
    server = std::make_unique<wgtest::RtlTcpServer>(WG_RTL_TCP, WG_SIM_DIR, env);
    ASSERT_TRUE(server->Start());
  }
  wg::RtlTcpAddress Where() const { return {"127.0.0.1", server->Port()}; }

  void Sweep(std::unique_ptr<wg::ReceiverDevice> device, int64_t start, int64_t stop) {
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
    pool->Add(std::make_unique<wg::Receiver>(std::move(device), wg::ReceiverSettings{}));
    wg::ScanPlan plan;
    plan.centres = centres = wg::SweepCentres(start, stop, kRate);
    plan.rate = kRate;
    plan.transform = &wg::SpectrumOfBlock;
    pool->SetPlan(plan);
  }
  std::shared_ptr<const wg::PooledSweep> WaitSweep(size_t n, std::chrono::seconds within = 30s) {
    std::unique_lock lk(m);
    if (!cv.wait_for(lk, within, [&] { return sweeps.size() >= n; })) return nullptr;
    return sweeps[n - 1];
  }
  bool WaitNote(wg::PoolNote::Kind k, std::chrono::seconds within = 20s) {
    std::unique_lock lk(m);
    return cv.wait_for(lk, within, [&] { return std::count(notes.begin(), notes.end(), k) > 0; });
  }
  double LevelAt(const wg::PooledSweep& s, double hz) const {
    for (size_t j = 0; j < centres.size(); ++j) {
      const double g = (hz - (centres[j] - kRate / 2.0)) / (kRate / 4096.0);
      if (g >= 0 && g < 4096) return s.levels[j * 4096 + static_cast<size_t>(std::lround(g))];
    }
    return NAN;
  }
  // The median level of the step that shows `hz`.
  double FloorAt(const wg::PooledSweep& s, double hz) const {
    for (size_t j = 0; j < centres.size(); ++j) {
      if (std::abs(hz - centres[j]) >= kRate / 2.0) continue;
      std::vector<double> v(s.levels.begin() + j * 4096, s.levels.begin() + (j + 1) * 4096);
      std::nth_element(v.begin(), v.begin() + 2048, v.end());
      return v[2048];
    }
    return NAN;
  }
  // The bin of the strongest level within `bins` of `hz`, as its offset.
  long PeakNear(const wg::PooledSweep& s, double hz, long bins) const {
    long best = 0;
    for (long b = -bins; b <= bins; ++b)
      if (LevelAt(s, hz + b * (kRate / 4096.0)) > LevelAt(s, hz + best * (kRate / 4096.0))) best = b;
    return best;
  }

  fs::path scene;
  std::unique_ptr<wgtest::RtlTcpServer> server;
  std::unique_ptr<wg::ReceiverPool> pool;
  std::vector<int64_t> centres;
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::shared_ptr<const wg::PooledSweep>> sweeps;
  std::vector<wg::PoolNote::Kind> notes;
};

// Each step is read as a receiver's fast step reads it, and every byte after
// its settle bytes is looked at, not only those the spectrum uses.
TEST_F(RtlTcpSim, AThousandRetunesShowNothingOfThePreviousTuning) {
  Serve("100300000 -20\n109650000 -20\n");
  wg::RtlTcpDevice dev(Where());
  ASSERT_EQ(dev.Open(), 0);
  ASSERT_EQ(dev.SetSampleRate(kRate), 0);
  ASSERT_EQ(dev.SetGainMode(1), 0);
  ASSERT_EQ(dev.SetGain(0), 0);
  wg::ReadPlan plan;
  plan.fast = true;
  std::vector<uint8_t> buf(static_cast<size_t>(plan.Length()));
  const double offsets[2] = {300000, -350000};  // of each tuning's own carrier
  // The rule allows the server 10 ms to carry a command out. A retune during
  // which one of its threads waited longer for a CPU (the tests share a small
  // machine) is not judged: the command may have been carried out later than
  // any server on a computer of its own does. Retunes go on until a thousand
  // have been judged, or give up at five thousand.
  constexpr int64_t kServerHeldOff = 10'000'000;  // ns
  int ghosts = 0, missing = 0, judged = 0, tried = 0;
  for (; judged < 1000 && tried < 5000; ++tried) {
    const int now = tried % 2;
    const std::map<int, int64_t> before = server->RunQueueWaits();
    ASSERT_EQ(dev.SetCentre(now ? 110000000 : 100000000), 0);
    std::this_thread::sleep_for(std::chrono::microseconds(plan.tuneWaitUs));
    ASSERT_EQ(dev.ResetBuffer(), 0);
    int count = 0;
    ASSERT_EQ(dev.Read(buf.data(), plan.Length(), &count), 0) << "retune " << tried;
    int64_t heldOff = 0;
    for (const auto& [task, wait] : server->RunQueueWaits()) {
      const auto was = before.find(task);
      heldOff = std::max(heldOff, wait - (was == before.end() ? 0 : was->second));
    }
    if (heldOff > kServerHeldOff) continue;
    ++judged;
    bool ghost = false;
    for (int at = plan.settleBytes; at + 512 <= plan.Length(); at += 512)
      ghost = ghost || ToneIn(&buf[at], offsets[1 - now], kRate) > kToneSeen;
    ghosts += ghost;
    missing += ToneIn(&buf[plan.Length() - 512], offsets[now], kRate) < kToneSeen;
  }
  std::printf("retunes: %d tried, %d judged\n", tried, judged);
  EXPECT_GE(judged, 300) << "the server was held off the CPU in most retunes";
  EXPECT_EQ(ghosts, 0);
  EXPECT_EQ(missing, 0);
}

// Each command the server takes, by what it does to the stream: a read of
// a step after it, tuned as the receiver tunes.
TEST_F(RtlTcpSim, EachCommandActsOnTheStream) {
  Serve("100300000 -45\n7400000 -45\n", {{"RTLSDR_SIM_PPM", "100"}});
  wg::RtlTcpDevice dev(Where());
  ASSERT_EQ(dev.Open(), 0);
  wg::ReadPlan plan;
  std::vector<uint8_t> buf(static_cast<size_t>(plan.Length()));
  uint32_t rate = kRate;
  const auto step = [&](uint32_t hz) {
    int count = 0;
    EXPECT_EQ(dev.SetCentre(hz), 0);
    EXPECT_EQ(dev.ResetBuffer(), 0);
    EXPECT_EQ(dev.Read(buf.data(), plan.Length(), &count), 0);
  };
  const auto carrier = [&](double offset = 300000) { return ToneDb(buf, size_t(plan.settleBytes), offset, rate); };
  ASSERT_EQ(dev.SetSampleRate(rate), 0);
  ASSERT_EQ(dev.SetFreqCorrection(100), 0);  // the stick's crystal is 100 ppm off
  ASSERT_EQ(dev.SetGainMode(1), 0);
  ASSERT_EQ(dev.SetGain(0), 0);
  step(100000000);
  const double atZero = carrier();
  EXPECT_NEAR(atZero, -45, 3);
  // Uncorrected, the carrier sits 10 kHz away, where a 64 Ki-sample read
  // resolves it from the corrected place.
  ASSERT_EQ(dev.SetFreqCorrection(0), 0);
  step(100000000);
  EXPECT_LT(carrier(), atZero - 10);
  EXPECT_NEAR(std::max(carrier(310000), carrier(290000)), atZero, 3);
  ASSERT_EQ(dev.SetFreqCorrection(100), 0);

  ASSERT_EQ(dev.SetGain(197), 0);
  step(100000000);
  EXPECT_NEAR(carrier() - atZero, 19.7, 1);
  ASSERT_EQ(dev.SetGainByIndex(5), 0);  // 7.7 dB
  step(100000000);
  EXPECT_NEAR(carrier() - atZero, 7.7, 1);
  ASSERT_EQ(dev.SetGainByIndex(0), 0);

  // The carrier's offset read at the rate sent: at the wrong one it would
  // be elsewhere.
  rate = 1024000;
  ASSERT_EQ(dev.SetSampleRate(rate), 0);
  step(100000000);
  EXPECT_NEAR(carrier(), atZero, 3);

  // HF only through direct sampling, which bypasses the tuner's gain.
  EXPECT_EQ(dev.SetCentre(7100000), wg::kRtlTcpRefusedValue);
  ASSERT_EQ(dev.SetDirectSampling(2), 0);
  step(7100000);
  EXPECT_GT(carrier(), -60);
}

// The stick's options: bias-T powers the amplifier at the antenna, the
// demodulator's gain loop lifts a weak sky, and offset tuning (on an E4000,
// which has it) takes the converter's DC offset out of the band.
TEST_F(RtlTcpSim, TheSticksOptionsActOnTheStream) {
  Serve("100300000 -60\n", {{"RTLSDR_SIM_TUNER", "e4000"}, {"RTLSDR_SIM_LNA_DB", "20"}});
  wg::RtlTcpDevice dev(Where());
  ASSERT_EQ(dev.Open(), 0);
  EXPECT_EQ(dev.TunerType(), unsigned{RTLSDR_TUNER_E4000});
  std::vector<int> gains;
  EXPECT_EQ(dev.TunerGains(gains), 14);
  wg::ReadPlan plan;
  std::vector<uint8_t> buf(static_cast<size_t>(plan.Length()));
  // Measured on the block after the first: a server kept off the processor
  // still sends samples made before the option reached its stick, and what
  // is judged here is the option, not how soon it shows.
  const auto level = [&](double offset) {
    int count = 0;
    EXPECT_EQ(dev.SetCentre(100000000), 0);
    EXPECT_EQ(dev.ResetBuffer(), 0);
    EXPECT_EQ(dev.Read(buf.data(), plan.Length(), &count), 0);
    EXPECT_EQ(dev.Read(buf.data(), plan.Length(), &count), 0);
    return ToneDb(buf, size_t(plan.settleBytes), offset, kRate);
  };
  ASSERT_EQ(dev.SetSampleRate(kRate), 0);
  ASSERT_EQ(dev.SetGainMode(1), 0);
  ASSERT_EQ(dev.SetGain(-10), 0);
  const double plain = level(300000), dc = level(0);
  ASSERT_EQ(dev.SetBiasTee(true), 0);
  EXPECT_NEAR(level(300000) - plain, 20, 1.5);
  ASSERT_EQ(dev.SetBiasTee(false), 0);
  ASSERT_EQ(dev.SetAgc(true), 0);
  EXPECT_GT(level(300000) - plain, 6);
  ASSERT_EQ(dev.SetAgc(false), 0);
  ASSERT_EQ(dev.SetOffsetTuning(true), 0);
  EXPECT_LT(level(0), dc - 10);
  EXPECT_NEAR(level(300000), plain, 1.5);
}

// The written step over the network and on a stick on this computer, the
// same simulated sky: each carrier at its frequency, at the same level, and
// nothing of it in the step tuned after its own.
TEST_F(RtlTcpSim, ASceneShowsAsOnAStickOnThisComputer) {
  const std::string sky = "100500000 -20\n106100000 -30\n110200000 -40\n";
  Serve(sky);
  Sweep(std::make_unique<wg::RtlTcpDevice>(Where()), 96000000, 112000000);
  const auto remote = WaitSweep(2);
  ASSERT_TRUE(remote);
  pool.reset();
  server.reset();

  ::setenv("RTLSDR_SIM_SCENE", scene.c_str(), 1);
  ::setenv("RTLSDR_SIM_PACE", "0", 1);
  std::string error;
  auto sim = wg::RtlSdrLibrary::Load(WG_SIM_LIB, &error);
  ASSERT_TRUE(sim) << error;
  sweeps.clear();
  Sweep(std::make_unique<wg::LocalRtlSdr>(sim, 0), 96000000, 112000000);
  const auto local = WaitSweep(2);
  ASSERT_TRUE(local);
  pool.reset();

  ASSERT_EQ(std::count(remote->marks.begin(), remote->marks.end(), wg::StepMark::Measured), 5);
  for (double hz : {100500000.0, 106100000.0, 110200000.0}) {
    EXPECT_LE(std::abs(PeakNear(*remote, hz, 8)), 1) << hz;
    EXPECT_NEAR(LevelAt(*remote, hz), LevelAt(*local, hz), 1.0) << hz;
    // Where the carrier would show in the next step if that step still held
    // samples of this one: the noise there stays noise (a bin of it passes
    // its step's median by 15 dB once in billions).
    if (hz + kRate < 112000000) {
      EXPECT_LT(LevelAt(*remote, hz + kRate) - FloorAt(*remote, hz + kRate), 15.0) << hz;
    }
  }
}

// rtl_tcp killed in the middle of a sweep and started again on its port: the
// receiver hears the connection go, waits, connects again and sweeps on.
TEST_F(RtlTcpSim, AServerKilledMidSweepIsWaitedForAndTheSweepGoesOn) {
  Serve("100500000 -20\n");
  Sweep(std::make_unique<wg::RtlTcpDevice>(Where()), 96000000, 112000000);
  ASSERT_TRUE(WaitSweep(1));
  const uint16_t port = server->Port();
  server->Kill();
  ASSERT_TRUE(WaitNote(wg::PoolNote::Kind::Gone));
  ASSERT_TRUE(server->Start(port));
  ASSERT_TRUE(WaitNote(wg::PoolNote::Kind::Back));
  size_t seen;
  {
    std::lock_guard lk(m);
    seen = sweeps.size();
  }
  const auto after = WaitSweep(seen + 1);
  ASSERT_TRUE(after);
  EXPECT_EQ(std::count(after->marks.begin(), after->marks.end(), wg::StepMark::Measured), 5);
  EXPECT_LE(std::abs(PeakNear(*after, 100500000.0, 8)), 1);
}

}  // namespace
