// The simulated stick through the librtlsdr interface: enumeration, opening,
// settings and their read-back, refusal of bad input, the EEPROM,
// asynchronous reading, sticks with faults and crystals of their own, a stick
// pulled out and plugged back, and the options the rtl-sdr tools offer.
#include "sim/RtlSdrDevice.h"
#include "tests/sim/SimTestUtil.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using simtest::AmplitudeOf;
using simtest::Db;
using simtest::SimTest;
using simtest::ToneAmplitude;

constexpr uint32_t kCentre = 146000000;
constexpr double kOffset = 400300;  // of the carrier at 146.4003 MHz

std::string SerialAt(uint32_t index) {
  char s[256] = "";
  rtlsdr_get_device_usb_strings(index, nullptr, nullptr, s);
  return s;
}

std::pair<int, int> ReadResult(rtlsdr_dev_t* d) {
  static std::vector<uint8_t> buf(16384);
  int n = -7;
  const int r = rtlsdr_read_sync(d, buf.data(), static_cast<int>(buf.size()), &n);
  return {r, n};
}

TEST_F(SimTest, DeviceListAndOpeningFollowTheEnvironment) {
  char m[256], p[256], s[256];
  std::memset(m, 'x', sizeof m);
  EXPECT_EQ(rtlsdr_get_device_count(), 1u);
  EXPECT_STREQ(rtlsdr_get_device_name(0), "Generic RTL2832U OEM");
  EXPECT_EQ(rtlsdr_get_device_usb_strings(0, m, p, s), 0);
  EXPECT_STREQ(m, "Realtek");
  EXPECT_STREQ(p, "RTL2838UHIDIR");
  EXPECT_STREQ(s, "00000001");
  EXPECT_EQ(m[255], 0);  // the whole buffer is cleared first
  EXPECT_EQ(rtlsdr_get_device_usb_strings(0, nullptr, nullptr, s), 0);

  ::setenv("RTLSDR_SIM_DEVICES", "3", 1);
  EXPECT_EQ(rtlsdr_get_device_count(), 3u);
  EXPECT_EQ(rtlsdr_get_index_by_serial("00000002"), 1);
  EXPECT_EQ(rtlsdr_get_index_by_serial("12345678"), -3);
  EXPECT_EQ(rtlsdr_get_index_by_serial(nullptr), -1);
  EXPECT_STREQ(rtlsdr_get_device_name(3), "");
  std::strcpy(s, "untouched");
  EXPECT_EQ(rtlsdr_get_device_usb_strings(3, nullptr, nullptr, s), -2);
  EXPECT_STREQ(s, "untouched");
  // Only the one opened is claimed; a second open of it is refused as busy.
  rtlsdr_dev_t* d1 = Open(1);
  EXPECT_EQ(rtlsdr_get_usb_strings(d1, nullptr, nullptr, s), 0);
  EXPECT_STREQ(s, "00000002");
  rtlsdr_dev_t* again = nullptr;
  EXPECT_EQ(rtlsdr_open(&again, 1), -6);
  EXPECT_EQ(again, nullptr);
  Close(d1);
  EXPECT_NE(Open(1), nullptr);

  ::setenv("RTLSDR_SIM_DEVICES", "0", 1);
  EXPECT_EQ(rtlsdr_get_device_count(), 0u);
  EXPECT_EQ(rtlsdr_get_index_by_serial("00000001"), -2);
  rtlsdr_dev_t* const marker = reinterpret_cast<rtlsdr_dev_t*>(0x1234);
  rtlsdr_dev_t* d = marker;
  EXPECT_EQ(rtlsdr_open(&d, 0), -1);
  ::setenv("RTLSDR_SIM_DEVICES", "-1", 1);  // a count that does not read keeps one stick
  EXPECT_EQ(rtlsdr_get_device_count(), 1u);
  EXPECT_EQ(rtlsdr_open(&d, 1), -1);
  EXPECT_EQ(rtlsdr_open(nullptr, 0), -1);
  ::setenv("RTLSDR_SIM_OPEN_FAIL", "1", 1);
  EXPECT_EQ(rtlsdr_open(&d, 0), -1);
  ::unsetenv("RTLSDR_SIM_OPEN_FAIL");
  ::setenv("RTLSDR_SIM_SCENE", "/nonexistent/scene.txt", 1);
  EXPECT_EQ(rtlsdr_open(&d, 0), -1);
  EXPECT_EQ(d, marker);  // a failed open leaves the handle alone
}

TEST_F(SimTest, SettingsReadBackLikeTheRealLibrary) {
  rtlsdr_dev_t* d = Open();
  EXPECT_EQ(rtlsdr_get_tuner_type(d), RTLSDR_TUNER_R820T);
  EXPECT_EQ(rtlsdr_get_sample_rate(d), 0u);  // nothing set yet
  int gains[256];
  const std::vector<int> r820t{0,   9,   14,  27,  37,  77,  87,  125, 144, 157, 166, 197, 207, 229, 254,
                               280, 297, 328, 338, 364, 372, 386, 402, 421, 434, 439, 445, 480, 496};
  ASSERT_EQ(rtlsdr_get_tuner_gains(d, gains), 29);
  EXPECT_EQ(std::vector<int>(gains, gains + 29), r820t);
  EXPECT_EQ(rtlsdr_get_tuner_gains(d, nullptr), 29);
  EXPECT_EQ(rtlsdr_set_tuner_gain_mode(d, 364), 0);
  EXPECT_EQ(rtlsdr_get_tuner_gain(d), 0);  // no gain was ever set
  EXPECT_EQ(rtlsdr_set_tuner_gain(d, 200), 0);
  EXPECT_EQ(rtlsdr_get_tuner_gain(d), 200);  // as asked, like the real library
  EXPECT_EQ(rtlsdr_set_freq_correction(d, 2700), 0);
  EXPECT_EQ(rtlsdr_get_freq_correction(d), 2700);
  EXPECT_EQ(rtlsdr_set_freq_correction(d, 2700), -2);  // unchanged
  // 28.8 MHz corrected by 2700 ppm, truncated as the real library does.
  uint32_t rtlXtal = 0, tunerXtal = 0;
  EXPECT_EQ(rtlsdr_get_xtal_freq(d, &rtlXtal, &tunerXtal), 0);
  EXPECT_EQ(rtlXtal, 28877759u);
  EXPECT_EQ(tunerXtal, 28877759u);
  EXPECT_EQ(rtlsdr_set_xtal_freq(d, 28798999, 0), -2);
  EXPECT_EQ(rtlsdr_set_offset_tuning(d, 1), -2);  // not with an R820T

  // The real library's resampler ranges.
  ASSERT_EQ(rtlsdr_set_sample_rate(d, 2048000), 0);
  for (uint32_t bad : {0u, 225000u, 300001u, 600000u, 900000u, 3200001u, 4000000000u}) {
    EXPECT_EQ(rtlsdr_set_sample_rate(d, bad), -EINVAL) << bad;
    EXPECT_EQ(rtlsdr_get_sample_rate(d), 2048000u) << bad;
  }
  for (uint32_t good : {225001u, 300000u, 900001u, 2400000u, 3200000u}) {
    EXPECT_EQ(rtlsdr_set_sample_rate(d, good), 0) << good;
    EXPECT_EQ(rtlsdr_get_sample_rate(d), good) << good;
  }

  // The correction is reported, not applied. Outside the tuner's range it
  // does not lock: -1 and a centre of 0, like the real library; direct
  // sampling bypasses the tuner.
  EXPECT_EQ(rtlsdr_set_center_freq(d, 139600000), 0);
  EXPECT_EQ(rtlsdr_get_center_freq(d), 139600000u);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 10000000), -1);
  EXPECT_EQ(rtlsdr_get_center_freq(d), 0u);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 2000000000), -1);
  EXPECT_EQ(rtlsdr_set_direct_sampling(d, 1), 0);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 7100000), 0);
  EXPECT_EQ(rtlsdr_get_center_freq(d), 7100000u);
}

// A null handle, a closed one and a pointer that was never a handle: every
// call returns the real library's error value and nothing crashes.
TEST_F(SimTest, BadHandlesBuffersAndLengthsAreRefused) {
  rtlsdr_dev_t* closed = Open();
  Close(closed);
  int local = 0;
  auto cb = [](unsigned char*, uint32_t, void*) {};
  for (rtlsdr_dev_t* d : {static_cast<rtlsdr_dev_t*>(nullptr), closed, reinterpret_cast<rtlsdr_dev_t*>(&local)}) {
    uint8_t buf[512];
    int n = 77, gains[256];
    uint32_t a = 5, b = 6;
    char s[256];
    const int minusOne[] = {
        rtlsdr_close(d), rtlsdr_set_xtal_freq(d, 0, 0), rtlsdr_get_xtal_freq(d, &a, &b),
        rtlsdr_get_usb_strings(d, s, s, s), rtlsdr_write_eeprom(d, buf, 0, 8), rtlsdr_read_eeprom(d, buf, 0, 8),
        rtlsdr_set_center_freq(d, 100000000), rtlsdr_set_freq_correction(d, 10), rtlsdr_get_tuner_gains(d, gains),
        rtlsdr_get_tuner_gains(d, nullptr), rtlsdr_set_tuner_gain(d, 100), rtlsdr_set_tuner_bandwidth(d, 100000),
        rtlsdr_set_tuner_if_gain(d, 1, 1), rtlsdr_set_tuner_gain_mode(d, 1), rtlsdr_set_sample_rate(d, 3200000),
        rtlsdr_set_testmode(d, 1), rtlsdr_set_agc_mode(d, 1), rtlsdr_set_direct_sampling(d, 1),
        rtlsdr_get_direct_sampling(d), rtlsdr_set_offset_tuning(d, 1), rtlsdr_get_offset_tuning(d),
        rtlsdr_reset_buffer(d), rtlsdr_read_sync(d, buf, sizeof buf, &n), rtlsdr_read_async(d, cb, nullptr, 1, 512),
        rtlsdr_wait_async(d, cb, nullptr), rtlsdr_cancel_async(d), rtlsdr_set_bias_tee(d, 1),
        rtlsdr_set_bias_tee_gpio(d, 0, 1)};
    for (size_t i = 0; i < std::size(minusOne); ++i) EXPECT_EQ(minusOne[i], -1) << i;
    const int zero[] = {static_cast<int>(rtlsdr_get_center_freq(d)), rtlsdr_get_freq_correction(d),
                        rtlsdr_get_tuner_gain(d), static_cast<int>(rtlsdr_get_sample_rate(d)),
                        rtlsdr_get_tuner_type(d) - RTLSDR_TUNER_UNKNOWN};
    for (size_t i = 0; i < std::size(zero); ++i) EXPECT_EQ(zero[i], 0) << i;
    EXPECT_EQ(a, 5u);
  }

  rtlsdr_dev_t* d = Open();
  uint8_t buf[64];
  for (int len : {64, 0, -5}) {
    int n = 99;
    EXPECT_EQ(rtlsdr_read_sync(d, len == 64 ? nullptr : buf, len, &n), -2) << len;
    EXPECT_EQ(n, 0) << len;
  }
  EXPECT_EQ(rtlsdr_read_sync(d, buf, sizeof buf, nullptr), 0);  // the count is optional
  EXPECT_EQ(rtlsdr_read_async(d, nullptr, nullptr, 1, 512), -1);
  EXPECT_EQ(rtlsdr_cancel_async(d), -2);  // nothing to cancel
  EXPECT_EQ(rtlsdr_read_eeprom(d, buf, 250, 7), -2);
  EXPECT_EQ(rtlsdr_write_eeprom(d, buf, 255, 2), -2);
  EXPECT_EQ(rtlsdr_read_eeprom(d, nullptr, 0, 8), -1);
  EXPECT_EQ(rtlsdr_write_eeprom(d, nullptr, 0, 8), -1);
  EXPECT_EQ(rtlsdr_set_bias_tee_gpio(d, 8, 1), -1);
  EXPECT_EQ(rtlsdr_set_bias_tee_gpio(d, -1, 1), -1);

}

struct AsyncCounter {
  rtlsdr_dev_t* dev = nullptr;
  int stopAfter = 3;
  int calls = 0;
  uint32_t lastLen = 0;
  int nestedRead = 0;
  bool closeInstead = false;
};

void CountAndCancel(unsigned char*, uint32_t len, void* ctx) {
  auto* c = static_cast<AsyncCounter*>(ctx);
  ++c->calls;
  c->lastLen = len;
  // A second asynchronous reading cannot start while one runs.
  c->nestedRead = rtlsdr_read_async(c->dev, CountAndCancel, ctx, 1, 512);
  if (c->calls == c->stopAfter) {
    if (c->closeInstead) EXPECT_EQ(rtlsdr_close(c->dev), 0);
    else rtlsdr_cancel_async(c->dev);
  }
}

TEST_F(SimTest, AsynchronousReadingRunsUntilCancelledOrClosed) {
  rtlsdr_dev_t* d = OpenTuned(146000000);
  AsyncCounter c{d};
  EXPECT_EQ(rtlsdr_read_async(d, CountAndCancel, &c, 4, 16384), 0);
  EXPECT_EQ(c.calls, 3);
  EXPECT_EQ(c.lastLen, 16384u);
  EXPECT_EQ(c.nestedRead, -2);
  EXPECT_EQ(rtlsdr_cancel_async(d), -2);  // over
  // Not a whole number of 512-byte packets: the library's default buffer.
  AsyncCounter c2{d, 1};
  EXPECT_EQ(rtlsdr_read_async(d, CountAndCancel, &c2, 0, 1000), 0);
  EXPECT_EQ(c2.lastLen, 262144u);
  AsyncCounter c3{d, 2};
  EXPECT_EQ(rtlsdr_wait_async(d, CountAndCancel, &c3), 0);
  EXPECT_EQ(c3.calls, 2);

  rtlsdr_dev_t* own = nullptr;  // closed from its own callback
  ASSERT_EQ(rtlsdr_open(&own, 0), -6);  // still claimed by d
  Close(d);
  ASSERT_EQ(rtlsdr_open(&own, 0), 0);
  AsyncCounter c4{own, 1};
  c4.closeInstead = true;
  EXPECT_EQ(rtlsdr_read_async(own, CountAndCancel, &c4, 1, 512), 0);
  EXPECT_EQ(c4.calls, 1);
  EXPECT_EQ(rtlsdr_close(own), -1);  // gone
}

// Faults, open failures and crystal errors given per stick hit only that
// stick.
TEST_F(SimTest, EachStickHasItsOwnFaultsAndCrystal) {
  UseScene("146400300 -20 carrier\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  ::setenv("RTLSDR_SIM_DEVICES", "3", 1);
  ::setenv("RTLSDR_SIM_OPEN_FAIL", "0:1", 1);
  ::setenv("RTLSDR_SIM_FAULT", "1:error,2:unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "2:1", 1);
  ::setenv("RTLSDR_SIM_PPM", ",,-50", 1);
  rtlsdr_dev_t* d0 = nullptr;
  EXPECT_EQ(rtlsdr_open(&d0, 0), -1);

  rtlsdr_dev_t* d1 = Open(1);
  rtlsdr_dev_t* d2 = Open(2);
  for (rtlsdr_dev_t* d : {d1, d2}) {
    ASSERT_EQ(rtlsdr_set_sample_rate(d, 3200000), 0);
    ASSERT_EQ(rtlsdr_set_tuner_gain_mode(d, 1), 0);
    ASSERT_EQ(rtlsdr_set_center_freq(d, kCentre), 0);
  }
  EXPECT_EQ(ReadResult(d1), std::make_pair(-1, 0));
  std::vector<uint8_t> b = Read(d1, 131072);
  EXPECT_GT(ToneAmplitude(b, 0, b.size(), kOffset), AmplitudeOf(-20) * 0.9);  // exact crystal
  b = Read(d2, 131072);
  EXPECT_GT(ToneAmplitude(b, 0, b.size(), kOffset + kCentre * 50e-6), AmplitudeOf(-20) * 0.9);
  EXPECT_EQ(ReadResult(d2), std::make_pair(-4, 0));
  EXPECT_EQ(ReadResult(d1).first, 0);
}

// Without RTLSDR_SIM_REPLUG_MS a pulled stick stays listed, as it always
// did. With it, the stick leaves the list (the others move up), comes back
// under its serial that much later and opens afresh, while the old handle
// goes on failing.
TEST_F(SimTest, UnpluggedStickComesBackUnderItsSerial) {
  ::setenv("RTLSDR_SIM_DEVICES", "2", 1);
  ::setenv("RTLSDR_SIM_FAULT", "0:unplug", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "1", 1);
  rtlsdr_dev_t* old = OpenTuned(kCentre);
  EXPECT_EQ(ReadResult(old).first, 0);
  EXPECT_EQ(ReadResult(old).first, -4);
  EXPECT_EQ(rtlsdr_get_device_count(), 2u);
  Close(old);

  ::setenv("RTLSDR_SIM_REPLUG_MS", "1000", 1);
  old = OpenTuned(kCentre);
  EXPECT_EQ(ReadResult(old).first, 0);
  const auto pulled = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadResult(old).first, -4);
  if (std::chrono::steady_clock::now() - pulled < std::chrono::milliseconds(800)) {
    EXPECT_EQ(rtlsdr_get_device_count(), 1u);
    EXPECT_EQ(SerialAt(0), "00000002");
    EXPECT_EQ(rtlsdr_get_index_by_serial("00000001"), -3);
  }
  while (rtlsdr_get_device_count() < 2 &&
         std::chrono::steady_clock::now() - pulled < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(std::chrono::steady_clock::now() - pulled, std::chrono::milliseconds(1000));
  ASSERT_EQ(rtlsdr_get_device_count(), 2u);
  EXPECT_EQ(SerialAt(0), "00000001");
  EXPECT_EQ(rtlsdr_get_index_by_serial("00000001"), 0);

  // The old handle is still open and still dead; the stick opens beside it.
  rtlsdr_dev_t* fresh = OpenTuned(kCentre);
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(ReadResult(fresh).first, 0);
  EXPECT_EQ(ReadResult(old).first, -4);
  EXPECT_EQ(rtlsdr_get_center_freq(old), kCentre);
}

// Direct sampling takes the HF input below the tuner's range, the bias-T
// powers an amplifier at the antenna when there is one, and the
// demodulator's AGC raises a weak signal.
TEST_F(SimTest, DirectSamplingBiasTeeAndAgcActOnTheStream) {
  UseScene("7100000 -20\n146400300 -40\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  ::setenv("RTLSDR_SIM_LNA_DB", "12", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  auto level = [&](double offset) {
    const std::vector<uint8_t> b = Read(d, 131072);
    return ToneAmplitude(b, 0, b.size(), offset);
  };
  const double plain = level(kOffset);
  EXPECT_NEAR(Db(plain / AmplitudeOf(-40)), 0, 0.2);

  EXPECT_EQ(rtlsdr_set_center_freq(d, 7000000), -1);  // below the tuner
  EXPECT_EQ(rtlsdr_set_direct_sampling(d, 2), 0);
  EXPECT_EQ(rtlsdr_get_direct_sampling(d), 2);
  ASSERT_EQ(rtlsdr_set_center_freq(d, 7000000), 0);
  EXPECT_NEAR(Db(level(100000) / AmplitudeOf(-20)), 0, 0.2);
  ASSERT_EQ(rtlsdr_set_center_freq(d, kCentre), 0);
  EXPECT_LT(level(kOffset), 0.2) << "the HF input hears nothing at VHF";
  EXPECT_EQ(rtlsdr_set_direct_sampling(d, 0), 0);
  EXPECT_EQ(rtlsdr_get_direct_sampling(d), 0);
  EXPECT_EQ(rtlsdr_set_offset_tuning(d, 1), -2);  // not with an R820T
  EXPECT_EQ(rtlsdr_get_offset_tuning(d), 0);

  EXPECT_EQ(rtlsdr_set_bias_tee(d, 1), 0);
  EXPECT_TRUE(wg::sim::Find(d)->biasTeeOn);
  EXPECT_NEAR(Db(level(kOffset) / plain), 12, 0.3);
  EXPECT_EQ(rtlsdr_set_bias_tee_gpio(d, 0, 0), 0);
  EXPECT_FALSE(wg::sim::Find(d)->biasTeeOn);
  EXPECT_NEAR(Db(level(kOffset) / plain), 0, 0.2);

  EXPECT_EQ(rtlsdr_set_agc_mode(d, 1), 0);
  EXPECT_GT(Db(level(kOffset) / plain), 10);
  EXPECT_EQ(rtlsdr_set_agc_mode(d, 0), 0);
  EXPECT_NEAR(Db(level(kOffset) / plain), 0, 0.2);
}

// An E4000 stick: its own gains and range, and offset tuning, which moves
// the DC offset out of the band while the scene stays where it is.
TEST_F(SimTest, E4000StickTunesOffsetToLoseTheCentreSpike) {
  UseScene("146400300 -20\n");
  ::setenv("RTLSDR_SIM_SETTLE_BYTES", "0", 1);
  ::setenv("RTLSDR_SIM_FILTER", "1", 1);
  ::setenv("RTLSDR_SIM_TUNER", "e4000", 1);
  rtlsdr_dev_t* d = OpenTuned(kCentre);
  EXPECT_EQ(rtlsdr_get_tuner_type(d), RTLSDR_TUNER_E4000);
  int gains[64];
  ASSERT_EQ(rtlsdr_get_tuner_gains(d, gains), 14);
  EXPECT_EQ(gains[0], -10);
  EXPECT_EQ(gains[13], 420);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 40000000), -1);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 1200000000), -1);  // the L-band gap
  EXPECT_EQ(rtlsdr_set_center_freq(d, 2100000000), 0);
  ASSERT_EQ(rtlsdr_set_center_freq(d, kCentre), 0);

  std::vector<uint8_t> b = Read(d, 262144);
  EXPECT_NEAR(ToneAmplitude(b, 0, b.size(), 0), 0.25, 0.03);
  EXPECT_EQ(rtlsdr_set_offset_tuning(d, 1), 0);
  EXPECT_EQ(rtlsdr_get_offset_tuning(d), 1);
  b = Read(d, 262144);
  EXPECT_LT(ToneAmplitude(b, 0, b.size(), 0), 0.03);
  EXPECT_GT(ToneAmplitude(b, 0, b.size(), kOffset), AmplitudeOf(-20) * 0.9);
  EXPECT_EQ(rtlsdr_get_center_freq(d), kCentre);
  EXPECT_EQ(rtlsdr_set_offset_tuning(d, 0), 0);
  EXPECT_EQ(rtlsdr_get_offset_tuning(d), 0);

  ASSERT_EQ(rtlsdr_set_direct_sampling(d, 1), 0);
  EXPECT_EQ(rtlsdr_set_offset_tuning(d, 1), -3);
}

}  // namespace
