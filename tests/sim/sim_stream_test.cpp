// The samples: where the scene's emitters appear, how a retune settles, how
// the gain scales them, determinism, pacing, and the injected faults.
#include "sim_test_util.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using simtest::AmplitudeOf;
using simtest::SimTest;
using simtest::ToneAmplitude;

constexpr uint32_t kCentre = 146000000;
constexpr double kCarrier = 146400300;  // +400.3 kHz from kCentre

TEST_F(SimTest, CarrierAppearsAtItsOffsetWithItsLevel) {
  UseScene("# one carrier\n146400300 -20 carrier\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  const std::vector<uint8_t> b = Read(d, 65536);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), kCarrier - kCentre), AmplitudeOf(-20), 0.3);
  // Not mirrored, and nothing at other offsets.
  EXPECT_LT(ToneAmplitude(b, 0, b.size(), kCentre - kCarrier), 0.2);
  EXPECT_LT(ToneAmplitude(b, 0, b.size(), 123456), 0.2);
  // Bytes sit around 127.5 with a few LSB of noise.
  double mean = 0;
  for (uint8_t v : b) mean += v;
  mean /= static_cast<double>(b.size());
  EXPECT_NEAR(mean, 127.5, 0.2);

  // Outside the sampled band the carrier is not received at all.
  ASSERT_EQ(rtlsdr_set_center_freq(d, 148100000), 0);
  const std::vector<uint8_t> far = Read(d, 65536);
  EXPECT_LT(ToneAmplitude(far, 0, far.size(), kCarrier - 148100000), 0.2);
}

TEST_F(SimTest, GainScalesTheSignal) {
  UseScene("146400300 -40 carrier\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);  // manual, no gain set: 0 dB
  const double offset = kCarrier - kCentre;
  std::vector<uint8_t> b = Read(d, 131072);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), offset), AmplitudeOf(-40), 0.1);
  // 200 asks for 20 dB; the tuner settles on its 20.7 dB step.
  ASSERT_EQ(rtlsdr_set_tuner_gain(d, 200), 0);
  b = Read(d, 131072);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), offset), AmplitudeOf(-40 + 20.7), 0.2);
  // Automatic gain holds a middle step, 25.4 dB.
  ASSERT_EQ(rtlsdr_set_tuner_gain_mode(d, 0), 0);
  b = Read(d, 131072);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), offset), AmplitudeOf(-40 + 25.4), 0.3);
}

TEST_F(SimTest, RetuneShowsOnlyAfterTheSettleBytes) {
  UseScene("146400300 -20 carrier\n");
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  const double strong = AmplitudeOf(-20) * 0.9;
  // The first 16384 bytes after the first tuning still carry what the stick
  // received before: nothing of the scene.
  std::vector<uint8_t> b = Read(d, 16384 + 8192);
  EXPECT_LT(ToneAmplitude(b, 0, 16384, kCarrier - kCentre), 0.3);
  EXPECT_GT(ToneAmplitude(b, 16384, 8192, kCarrier - kCentre), strong);

  // Retune by 200 kHz; the old offset holds for 16384 bytes, split over reads.
  ASSERT_EQ(rtlsdr_set_center_freq(d, kCentre + 200000), 0);
  ASSERT_EQ(rtlsdr_reset_buffer(d), 0);
  b = Read(d, 10000);
  EXPECT_GT(ToneAmplitude(b, 0, 10000, kCarrier - kCentre), strong);
  b = Read(d, 6384 + 8192);
  EXPECT_GT(ToneAmplitude(b, 0, 6384, kCarrier - kCentre), strong);
  EXPECT_LT(ToneAmplitude(b, 6384, 8192, kCarrier - kCentre), 0.3);
  EXPECT_GT(ToneAmplitude(b, 6384, 8192, kCarrier - kCentre - 200000), strong);
}

TEST_F(SimTest, SettleBytesAreConfigurable) {
  UseScene("146400300 -20 carrier\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  std::vector<uint8_t> b = Read(d, 2048);
  EXPECT_GT(ToneAmplitude(b, 0, 2048, kCarrier - kCentre), AmplitudeOf(-20) * 0.8);
  Close(d);

  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "1001", 1);  // odd: ends inside a sample
  d = OpenTuned(kCentre);
  b = Read(d, 1000 + 8192 + 2);
  EXPECT_LT(ToneAmplitude(b, 0, 1000, kCarrier - kCentre), 1.5);
  EXPECT_GT(ToneAmplitude(b, 1002, 8192, kCarrier - kCentre), AmplitudeOf(-20) * 0.9);
}

// Opens a stick, reads pieces of the given sizes in turn and closes it.
class StreamTest : public SimTest {
 protected:
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

TEST_F(StreamTest, SameSeedSameBytesOtherSeedOtherBytes) {
  // The default scene has FM emitters here too.
  const std::vector<uint8_t> a = Take({131072, 131072}, "42");
  const std::vector<uint8_t> b = Take({131072, 131072}, "42");
  const std::vector<uint8_t> c = Take({131072, 131072}, "43");
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  // The default seed is fixed too.
  ::unsetenv("RTLSDR_SIM_SEED");
  EXPECT_EQ(Take({4096}, nullptr), Take({4096}, nullptr));
}

TEST_F(StreamTest, PhaseRunsOnAcrossReads) {
  UseScene("146400300 -10 carrier\n146300000 -20 nfm\n");
  // One read, or many of odd sizes: the same stream. Where the pieces fall
  // may move a rounding by one LSB, no more; a phase jump would show as
  // differences of tens of LSB.
  const std::vector<uint8_t> whole = Take({65536}, "7");
  const std::vector<uint8_t> pieces = Take({1, 4095, 3, 20000, 41437}, "7");
  ASSERT_EQ(whole.size(), pieces.size());
  size_t differ = 0;
  int worst = 0;
  for (size_t i = 0; i < whole.size(); ++i) {
    const int diff = std::abs(whole[i] - pieces[i]);
    if (diff) ++differ;
    worst = std::max(worst, diff);
  }
  EXPECT_LE(worst, 1);
  EXPECT_LT(differ, whole.size() / 1000);
}

TEST_F(SimTest, ReadsArePacedLikeTheStick) {
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) Read(d, 131072);  // 20.48 ms each at 3.2 MS/s
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(61440));
}

class FaultTest : public SimTest {
 protected:
  rtlsdr_dev_t* OpenWithFault(const char* fault, const char* after) {
    ::setenv("RTLSDR_SIM_FAULT", fault, 1);
    if (after) ::setenv("RTLSDR_SIM_FAULT_AFTER", after, 1);
    return OpenTuned(kCentre);
  }
  // One read of 131072 bytes: result and count.
  std::pair<int, int> ReadOnce(rtlsdr_dev_t* d) {
    buf_.assign(131072, 0);
    int n = -7;
    const int r = rtlsdr_read_sync(d, buf_.data(), 131072, &n);
    return {r, n};
  }
  std::vector<uint8_t> buf_;
};

TEST_F(FaultTest, ShortReadHitsTheChosenReadOnly) {
  rtlsdr_dev_t* d = OpenWithFault("short", "2");
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 65536));
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
}

TEST_F(FaultTest, ErrorReadReturnsMinusOne) {
  rtlsdr_dev_t* d = OpenWithFault("error", nullptr);  // the very first read
  EXPECT_EQ(ReadOnce(d), std::make_pair(-1, 0));
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
}

TEST_F(FaultTest, UnplugIsForGood) {
  rtlsdr_dev_t* d = OpenWithFault("unplug", "1");
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
  EXPECT_EQ(ReadOnce(d), std::make_pair(-4, 0));  // LIBUSB_ERROR_NO_DEVICE
  EXPECT_EQ(ReadOnce(d), std::make_pair(-4, 0));
  EXPECT_EQ(rtlsdr_read_async(
                d,
                [](unsigned char*, uint32_t, void* dev) {
                  rtlsdr_cancel_async(static_cast<rtlsdr_dev_t*>(dev));
                },
                d, 1, 512),
            -4);
  // Settings still read back.
  EXPECT_EQ(rtlsdr_get_center_freq(d), kCentre);
}

TEST_F(FaultTest, HungReadHoldsNothingOthersNeed) {
  rtlsdr_dev_t* d = OpenWithFault("hang", "0");
  auto returned = std::make_shared<std::atomic<bool>>(false);
  std::thread([d, returned] {
    static uint8_t buf[16384];
    int n = 0;
    rtlsdr_read_sync(d, buf, sizeof buf, &n);
    *returned = true;
  }).detach();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(*returned);
  // Meanwhile the stick answers on other threads, and reads again.
  EXPECT_EQ(rtlsdr_set_center_freq(d, kCentre + 1000000), 0);
  EXPECT_EQ(rtlsdr_get_center_freq(d), kCentre + 1000000);
  EXPECT_EQ(rtlsdr_get_sample_rate(d), 3200000u);
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
  EXPECT_FALSE(*returned);
}

TEST_F(FaultTest, UnknownFaultNameMeansNoFault) {
  rtlsdr_dev_t* d = OpenWithFault("explode", "0");
  EXPECT_EQ(ReadOnce(d), std::make_pair(0, 131072));
}

}  // namespace
