// The samples: where the scene's emitters appear, how a retune settles, how
// the gain scales them, the demodulator's filter, keyed emitters,
// determinism, pacing and the tuning delay, and the injected faults.
#include "sim/UsbBus.h"
#include "tests/common/RunQueueWait.h"
#include "tests/sim/SimTestUtil.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using simtest::AmplitudeOf;
using simtest::Db;
using simtest::PowerNear;
using simtest::SimTest;
using simtest::ToneAmplitude;

constexpr uint32_t kCentre = 146000000;
constexpr double kOffset = 400300;  // of the scenes' carrier at 146.4003 MHz

TEST_F(SimTest, CarrierAppearsAtItsOffsetScaledByTheGain) {
  UseScene("# one carrier\n146400300 -20 carrier\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);  // manual, no gain set: 0 dB
  std::vector<uint8_t> b = Read(d, 131072);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), kOffset), AmplitudeOf(-20), 0.3);
  // Not mirrored, and nothing at other offsets.
  EXPECT_LT(ToneAmplitude(b, 0, b.size(), -kOffset), 0.2);
  EXPECT_LT(ToneAmplitude(b, 0, b.size(), 123456), 0.2);
  double mean = 0;  // around 127.5 with a few LSB of noise
  for (uint8_t v : b) mean += v;
  EXPECT_NEAR(mean / static_cast<double>(b.size()), 127.5, 0.2);

  // 200 asks for 20 dB; the tuner settles on its 20.7 dB step. Automatic
  // gain holds a middle step, 25.4 dB.
  UseScene("146400300 -40 carrier\n");
  Close(d);
  d = OpenTuned(kCentre);
  ASSERT_EQ(rtlsdr_set_tuner_gain(d, 200), 0);
  b = Read(d, 131072);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), kOffset), AmplitudeOf(-40 + 20.7), 0.2);
  ASSERT_EQ(rtlsdr_set_tuner_gain_mode(d, 0), 0);
  b = Read(d, 131072);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), kOffset), AmplitudeOf(-40 + 25.4), 0.3);

  // Outside the sampled band the carrier is not received at all.
  ASSERT_EQ(rtlsdr_set_center_freq(d, 148100000), 0);
  b = Read(d, 65536);
  EXPECT_LT(ToneAmplitude(b, 0, b.size(), 146400300.0 - 148100000), 0.2);

  // On the boundary between two steps an emitter shows in the step whose lower
  // edge it is, never in the one below, so a sweep sees it exactly once; an FM
  // emitter there shows in both, each with the part of its swing in the band.
  UseScene("146400000 -30 carrier\n");
  Close(d);
  d = OpenTuned(148000000);  // band 146.4 .. 149.6 MHz
  b = Read(d, 65536);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), -1600000), AmplitudeOf(-30), 0.3);
  ASSERT_EQ(rtlsdr_set_center_freq(d, 144800000), 0);  // band 143.2 .. 146.4 MHz
  b = Read(d, 65536);
  EXPECT_LT(ToneAmplitude(b, 16384, b.size() - 16384, 1600000), 0.2);
  UseScene("146400000 -20 fm\n");
  for (uint32_t centre : {148000000u, 144800000u}) {
    Close(d);
    d = OpenTuned(centre);
    b = Read(d, 131072);
    double power = 0;  // of the signal beside the noise, in LSB squared
    for (uint8_t v : b) power += (v - 127.5) * (v - 127.5);
    const double perSample = power / static_cast<double>(b.size() / 2), full = AmplitudeOf(-20) * AmplitudeOf(-20);
    EXPECT_GT(perSample, full / 8) << centre;
    EXPECT_LT(perSample, full) << centre << ": never more than the whole emitter";
  }
}

TEST_F(SimTest, RetuneShowsOnlyAfterTheSettleBytes) {
  UseScene("146400300 -20 carrier\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "16384", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  const double strong = AmplitudeOf(-20) * 0.9;
  // The first 16384 bytes after the first tuning carry what the stick
  // received before: nothing of the scene.
  std::vector<uint8_t> b = Read(d, 16384 + 8192);
  EXPECT_LT(ToneAmplitude(b, 0, 16384, kOffset), 0.3);
  EXPECT_GT(ToneAmplitude(b, 16384, 8192, kOffset), strong);
  // Retune by 200 kHz; the old offset holds for 16384 bytes, split over reads.
  ASSERT_EQ(rtlsdr_set_center_freq(d, kCentre + 200000), 0);
  ASSERT_EQ(rtlsdr_reset_buffer(d), 0);
  b = Read(d, 10000);
  EXPECT_GT(ToneAmplitude(b, 0, 10000, kOffset), strong);
  b = Read(d, 6384 + 8192);
  EXPECT_GT(ToneAmplitude(b, 0, 6384, kOffset), strong);
  EXPECT_LT(ToneAmplitude(b, 6384, 8192, kOffset), 0.3);
  EXPECT_GT(ToneAmplitude(b, 6384, 8192, kOffset - 200000), strong);
  Close(d);

  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  d = OpenTuned(kCentre);
  b = Read(d, 2048);
  EXPECT_GT(ToneAmplitude(b, 0, 2048, kOffset), AmplitudeOf(-20) * 0.8);
  Close(d);
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "1001", 1);  // odd: ends inside a sample
  d = OpenTuned(kCentre);
  b = Read(d, 1000 + 8192 + 2);
  EXPECT_LT(ToneAmplitude(b, 0, 1000, kOffset), 1.5);
  EXPECT_GT(ToneAmplitude(b, 1002, 8192, kOffset), strong);
}

// A real stick's synthesiser is programmed for the crystal the correction
// describes and runs on the crystal it has, so what it receives is displaced
// by (correction - error) ppm of the tuned frequency: 2700 ppm on an exact
// crystal shows a carrier about 394 kHz high at 146 MHz.
TEST_F(SimTest, CrystalErrorDisplacesWhatIsReceived) {
  struct Row {
    const char* name;
    const char* error;  // RTLSDR_SIM_PPM; null: unset
    int correction;
    double shownOffset;  // where the carrier at kOffset appears
  };
  const double high2700 = kOffset + kCentre * (1 - 1 / 1.0027);  // +393138.5 Hz
  const Row rows[] = {
      {"unset: exact crystal, correction moves nothing", nullptr, 2700, kOffset},
      {"exact crystal, the written 2700 ppm", "0", 2700, high2700},
      {"the correction matches the error", "2700", 2700, kOffset},
      {"crystal 50 ppm slow, no correction", "-50", 0, kOffset + kCentre * 50e-6},
      {"crystal 40.5 ppm fast, 10 ppm corrected", "40.5", 10, kOffset - kCentre * (1.0000405 / 1.00001 - 1)},
  };
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  UseScene("146400300 -20 carrier\n");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    r.error ? ::setenv("RTLSDR_SIM_PPM", r.error, 1) : ::unsetenv("RTLSDR_SIM_PPM");
    rtlsdr_dev_t* d = OpenTuned(kCentre);
    if (r.correction) {
      ASSERT_EQ(rtlsdr_set_freq_correction(d, r.correction), 0);
    }
    const std::vector<uint8_t> b = Read(d, 131072);
    EXPECT_GT(ToneAmplitude(b, 0, b.size(), r.shownOffset), AmplitudeOf(-20) * 0.9);
    if (r.shownOffset != kOffset) {
      EXPECT_LT(ToneAmplitude(b, 0, b.size(), kOffset), 0.3);
    }
    EXPECT_EQ(rtlsdr_get_center_freq(d), kCentre);  // reads back as set, as on a stick
    Close(d);
  }
  EXPECT_NEAR(high2700 - kOffset, 394000, 1000);
}

// With the filter (the default) levels roll off over the outer 30 % of each
// half of the band, a carrier just beyond an edge folds in from the other
// edge, and the converter's DC offset shows at the centre. Half the band is
// 1.6 MHz here.
TEST_F(SimTest, FilterRollsOffTheEdgesFoldsWhatIsBeyondAndMarksTheCentre) {
  UseScene("146800000 -20\n144720000 -20\n147520000 -20\n147680000 -20\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  struct Look {
    const char* what;
    double offset;
    double filteredDb;  // relative to the carrier's own level
  };
  const Look looks[] = {
      {"half way out: flat", 800000, 0},
      {"80 % out", -1280000, -2.2},
      {"95 % out", 1520000, -13.9},
      {"5 % beyond the upper edge, folded to the lower", 1680000 - 3200000, -27.2},
  };
  for (const char* filter : {"0", "1"}) {
    SCOPED_TRACE(std::string("RTLSDR_SIM_FILTER=") + filter);
    ::setenv("RTLSDR_SIM_FILTER", filter, 1);
    rtlsdr_dev_t* d = OpenTuned(kCentre);
    const std::vector<uint8_t> b = Read(d, 262144);
    const bool on = filter[0] == '1';
    for (const Look& l : looks) {
      const double a = ToneAmplitude(b, 0, b.size(), l.offset);
      const bool folded = l.offset == looks[3].offset;
      if (!on && folded) EXPECT_LT(a, 0.05) << l.what;
      else EXPECT_NEAR(Db(a / AmplitudeOf(-20)), on ? l.filteredDb : 0, on ? 0.5 : 0.1) << l.what;
    }
    EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), 0), on ? 0.25 : 0, 0.03) << "DC";
    Close(d);
  }
}

// The receiver noise passes the same filter: the floor in the middle of the
// band stays where it was, toward the edges it falls as the signals do.
TEST_F(SimTest, FilterShapesTheNoiseFloorLikeTheSignals) {
  UseScene("# nothing on the air\n");
  double middle[2], edge[2];
  for (int on : {0, 1}) {
    ::setenv("RTLSDR_SIM_FILTER", on ? "1" : "0", 1);
    rtlsdr_dev_t* d = OpenTuned(kCentre);
    const std::vector<uint8_t> b = Read(d, 1 << 20);
    middle[on] = 10 * std::log10(PowerNear(b, 480000));
    edge[on] = 10 * std::log10(PowerNear(b, -1520000));
    Close(d);
  }
  EXPECT_NEAR(edge[0], middle[0], 0.5);
  EXPECT_NEAR(middle[1], middle[0], 0.5);
  EXPECT_LT(edge[1], middle[1] - 8);
}

// The time base is the moment the simulator was loaded. Reads that straddle
// a switch are left out, so a slow machine only makes the test take longer.
TEST_F(SimTest, KeyedEmitterSendsOnlyInItsOnTimes) {
  UseScene("146400300 -20 carrier on=0.25 off=0.25\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  auto since = [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wg::sim::LoadTime()).count();
  };
  constexpr int kBytes = 4096;
  // Unpaced, a read's samples are dated from a moment within the call and
  // run on for their own length, past its return when it was quick.
  const double span = kBytes / 2.0 / 3200000;
  int seenOn = 0, seenOff = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((seenOn < 3 || seenOff < 3) && std::chrono::steady_clock::now() < deadline) {
    const double t0 = since();
    const std::vector<uint8_t> b = Read(d, kBytes);
    const double t1 = since() + span;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    if (std::floor(t0 / 0.25) != std::floor(t1 / 0.25)) continue;
    const bool on = static_cast<long>(std::floor(t0 / 0.25)) % 2 == 0;
    const double a = ToneAmplitude(b, 0, b.size(), kOffset);
    if (on) {
      EXPECT_GT(a, AmplitudeOf(-20) * 0.9) << t0;
      ++seenOn;
    } else {
      EXPECT_LT(a, 0.5) << t0;
      ++seenOff;
    }
  }
  EXPECT_GE(seenOn, 3);
  EXPECT_GE(seenOff, 3);
}

class StreamTest : public SimTest {
 protected:
  // Opens a stick, reads pieces of the given sizes in turn and closes it.
  std::vector<uint8_t> Take(const std::vector<int>& pieces, const char* seed) {
    if (seed) ::setenv("RTLSDR_SIM_SEED", seed, 1);
    rtlsdr_dev_t* d = OpenTuned(kCentre);
    std::vector<uint8_t> all;
    for (int p : pieces) {
      std::vector<uint8_t> b = Read(d, p);
      all.insert(all.end(), b.begin(), b.end());
    }
    Close(d);
    return all;
  }
};

TEST_F(StreamTest, SameSeedSameBytesAndPhaseRunsOnAcrossReads) {
  // The default scene has FM emitters here too.
  const std::vector<uint8_t> a = Take({131072, 131072}, "42");
  EXPECT_EQ(a, Take({131072, 131072}, "42"));
  EXPECT_NE(a, Take({131072, 131072}, "43"));
  ::unsetenv("RTLSDR_SIM_SEED");  // the default seed is fixed too
  EXPECT_EQ(Take({4096}, nullptr), Take({4096}, nullptr));

  // One read, or many of odd sizes: the same stream. Where the pieces fall
  // may move a rounding by one LSB; a phase jump would show as tens of LSB.
  UseScene("146400300 -10 carrier\n146300000 -20 nfm\n");
  const std::vector<uint8_t> whole = Take({65536}, "7");
  const std::vector<uint8_t> pieces = Take({1, 4095, 3, 20000, 41437}, "7");
  ASSERT_EQ(whole.size(), pieces.size());
  size_t differ = 0;
  for (size_t i = 0; i < whole.size(); ++i) {
    ASSERT_LE(std::abs(whole[i] - pieces[i]), 1) << i;
    differ += whole[i] != pieces[i];
  }
  EXPECT_LT(differ, whole.size() / 1000);
}

TEST_F(SimTest, ReadsArePacedLikeTheStick) {
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) Read(d, 131072);  // 20.48 ms each at 3.2 MS/s
  // Less what the pipeline held already: 4096 bytes, 0.64 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(61440 - 640));
}

// The stick samples all the time. After a retune all it makes before the
// tuning delay is over is stale: a read straight after the retune gets stale
// samples at the stick's pace until then, and only after the delay does the
// new tuning show. Its pipeline holds the newest settle bytes, which a read
// gets at once. Long delays and holds, so that only a stall of seconds could
// change what is seen, and then the check is left out.
TEST_F(SimTest, RetuneLeavesStaleSamplesUntilTheTuningDelayIsOver) {
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;
  UseScene("146400300 -20 carrier\n");
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  ::setenv("RTLSDR_SIM_TUNE_US", "1000000", 1);  // 6.4 MB at 3.2 MS/s
  const double strong = AmplitudeOf(-20) * 0.9;
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  const auto tuned = steady_clock::now();
  std::vector<uint8_t> b = Read(d, 131072);
  if (steady_clock::now() - tuned < milliseconds(800)) {
    EXPECT_LT(ToneAmplitude(b, 0, b.size(), kOffset), 0.3);
  }
  size_t stale = b.size();
  for (; ToneAmplitude(b, b.size() - 8192, 8192, kOffset) < strong && stale < (64u << 20); stale += b.size())
    b = Read(d, 131072);
  EXPECT_GE(steady_clock::now() - tuned, milliseconds(1000));
  EXPECT_GT(ToneAmplitude(Read(d, 131072), 0, 131072, kOffset), strong);  // and stays

  // A reader that waits the delay out gets fresh samples at once.
  ASSERT_EQ(rtlsdr_set_center_freq(d, kCentre + 200000), 0);
  std::this_thread::sleep_for(milliseconds(1100));
  EXPECT_LT(wgtest::HeldFor([&] { b = Read(d, 65536); }), milliseconds(100));
  EXPECT_GT(ToneAmplitude(b, 0, b.size(), kOffset - 200000), strong);
  Close(d);

  // What the pipeline holds comes at once, the rest as the stick makes it.
  ::setenv("RTLSDR_SIM_TUNE_US", "0", 1);
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "1048576", 1);  // 164 ms of samples
  d = OpenTuned(kCentre);
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_LT(wgtest::HeldFor([&] { Read(d, 1 << 20); }), milliseconds(100));
  std::this_thread::sleep_for(milliseconds(300));
  const auto t0 = steady_clock::now();
  Read(d, 2 << 20);
  EXPECT_GE(steady_clock::now() - t0, milliseconds(160));
}

// One read of 131072 bytes: result and count.
std::pair<int, int> ReadOnce(rtlsdr_dev_t* d) {
  static std::vector<uint8_t> buf(131072);
  int n = -7;
  const int r = rtlsdr_read_sync(d, buf.data(), 131072, &n);
  return {r, n};
}

TEST_F(SimTest, InjectedReadFaultsHitTheChosenRead) {
  using R = std::pair<int, int>;
  const R ok{0, 131072};
  struct Case {
    const char* fault;
    const char* after;
    std::vector<R> reads;
  };
  const Case cases[] = {
      {"short", "2", {ok, ok, {0, 65536}, ok}},
      {"error", nullptr, {{-1, 0}, ok}},                // the very first read
      {"unplug", "1", {ok, {-4, 0}, {-4, 0}}},          // libusb's "no device", for good
      {"explode", "0", {ok}},                           // unknown: no fault
  };
  for (const Case& c : cases) {
    ::setenv("RTLSDR_SIM_FAULT", c.fault, 1);
    if (c.after) ::setenv("RTLSDR_SIM_FAULT_AFTER", c.after, 1);
    else ::unsetenv("RTLSDR_SIM_FAULT_AFTER");
    rtlsdr_dev_t* d = OpenTuned(kCentre);
    for (size_t i = 0; i < c.reads.size(); ++i) EXPECT_EQ(ReadOnce(d), c.reads[i]) << c.fault << " " << i;
    if (std::string(c.fault) == "unplug") {
      EXPECT_EQ(rtlsdr_read_async(
                    d, [](unsigned char*, uint32_t, void* dev) { rtlsdr_cancel_async(static_cast<rtlsdr_dev_t*>(dev)); },
                    d, 1, 512),
                -4);
      EXPECT_EQ(rtlsdr_get_center_freq(d), kCentre);  // settings still read back
    }
    Close(d);
  }
}

TEST_F(SimTest, HungReadHoldsNothingOthersNeed) {
  ::setenv("RTLSDR_SIM_FAULT", "hang", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "0", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  auto returned = std::make_shared<std::atomic<bool>>(false);
  auto result = std::make_shared<std::atomic<int>>(0);
  std::thread([d, returned, result] {
    static uint8_t buf[16384];
    int n = 0;
    *result = rtlsdr_read_sync(d, buf, sizeof buf, &n);
    *returned = true;
  }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(*returned);
  // Meanwhile the stick answers on other threads, and reads again.
  EXPECT_EQ(rtlsdr_set_center_freq(d, kCentre + 1000000), 0);
  EXPECT_EQ(rtlsdr_get_center_freq(d), kCentre + 1000000);
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
  EXPECT_FALSE(*returned);
  // Pulled out (none configured at the next listing), it ends: "no device".
  ::setenv("RTLSDR_SIM_DEVICES", "0", 1);
  EXPECT_EQ(rtlsdr_get_device_count(), 0u);
  for (int i = 0; i < 1000 && !*returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(*returned && *result == -4);
}

}  // namespace
