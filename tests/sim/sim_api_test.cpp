// The simulated stick through the librtlsdr interface: enumeration, opening,
// settings and their read-back, refusal of bad input, the EEPROM and
// asynchronous reading.
#include "sim_test_util.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

namespace {

using simtest::SimTest;

TEST_F(SimTest, OneStickByDefaultLooksLikeACommonDongle) {
  EXPECT_EQ(rtlsdr_get_device_count(), 1u);
  EXPECT_STREQ(rtlsdr_get_device_name(0), "Generic RTL2832U OEM");
  char m[256], p[256], s[256];
  std::memset(m, 'x', sizeof m);
  EXPECT_EQ(rtlsdr_get_device_usb_strings(0, m, p, s), 0);
  EXPECT_STREQ(m, "Realtek");
  EXPECT_STREQ(p, "RTL2838UHIDIR");
  EXPECT_STREQ(s, "00000001");
  EXPECT_EQ(m[255], 0);  // the whole buffer is cleared first
  // Any of the buffers may be left out.
  EXPECT_EQ(rtlsdr_get_device_usb_strings(0, nullptr, nullptr, s), 0);
}

TEST_F(SimTest, DeviceListFollowsTheEnvironment) {
  ::setenv("RTLSDR_SIM_DEVICES", "3", 1);
  EXPECT_EQ(rtlsdr_get_device_count(), 3u);
  char s[256];
  EXPECT_EQ(rtlsdr_get_device_usb_strings(2, nullptr, nullptr, s), 0);
  EXPECT_STREQ(s, "00000003");
  EXPECT_EQ(rtlsdr_get_index_by_serial("00000002"), 1);
  EXPECT_EQ(rtlsdr_get_index_by_serial("12345678"), -3);
  EXPECT_EQ(rtlsdr_get_index_by_serial(nullptr), -1);
  EXPECT_STREQ(rtlsdr_get_device_name(3), "");
  std::strcpy(s, "untouched");
  EXPECT_EQ(rtlsdr_get_device_usb_strings(3, nullptr, nullptr, s), -2);
  EXPECT_STREQ(s, "untouched");

  // Only the one opened is claimed; a second open of it is refused as busy.
  rtlsdr_dev_t* d1 = Open(1);
  char serial[256];
  EXPECT_EQ(rtlsdr_get_usb_strings(d1, nullptr, nullptr, serial), 0);
  EXPECT_STREQ(serial, "00000002");
  rtlsdr_dev_t* again = nullptr;
  EXPECT_EQ(rtlsdr_open(&again, 1), -6);
  EXPECT_EQ(again, nullptr);
  Close(d1);
  rtlsdr_dev_t* d1b = Open(1);
  EXPECT_NE(d1b, nullptr);

  ::setenv("RTLSDR_SIM_DEVICES", "0", 1);
  EXPECT_EQ(rtlsdr_get_device_count(), 0u);
  EXPECT_STREQ(rtlsdr_get_device_name(0), "");
  EXPECT_EQ(rtlsdr_get_device_usb_strings(0, nullptr, nullptr, s), -2);
  EXPECT_EQ(rtlsdr_get_index_by_serial("00000001"), -2);
  rtlsdr_dev_t* none = nullptr;
  EXPECT_EQ(rtlsdr_open(&none, 0), -1);

  // A count that does not read keeps the default of one stick.
  ::setenv("RTLSDR_SIM_DEVICES", "two", 1);
  EXPECT_EQ(rtlsdr_get_device_count(), 1u);
  ::setenv("RTLSDR_SIM_DEVICES", "-1", 1);
  EXPECT_EQ(rtlsdr_get_device_count(), 1u);
}

TEST_F(SimTest, OpenFailsAsAskedAndLeavesTheHandleAlone) {
  rtlsdr_dev_t* const marker = reinterpret_cast<rtlsdr_dev_t*>(0x1234);
  rtlsdr_dev_t* d = marker;
  ::setenv("RTLSDR_SIM_OPEN_FAIL", "1", 1);
  EXPECT_EQ(rtlsdr_open(&d, 0), -1);
  EXPECT_EQ(d, marker);
  ::unsetenv("RTLSDR_SIM_OPEN_FAIL");
  EXPECT_EQ(rtlsdr_open(&d, 1), -1);  // no such stick
  EXPECT_EQ(d, marker);
  EXPECT_EQ(rtlsdr_open(nullptr, 0), -1);
  ::setenv("RTLSDR_SIM_SCENE", "/nonexistent/scene.txt", 1);
  EXPECT_EQ(rtlsdr_open(&d, 0), -1);
  EXPECT_EQ(d, marker);
}

// The calls the viewer makes at start-up, and what it prints from them.
TEST_F(SimTest, SettingsReadBackLikeTheRealLibrary) {
  rtlsdr_dev_t* d = Open();
  EXPECT_EQ(rtlsdr_get_tuner_type(d), RTLSDR_TUNER_R820T);
  EXPECT_EQ(rtlsdr_get_sample_rate(d), 0u);  // nothing set yet
  EXPECT_EQ(rtlsdr_get_center_freq(d), 0u);

  EXPECT_EQ(rtlsdr_set_sample_rate(d, 3200000), 0);
  EXPECT_EQ(rtlsdr_get_sample_rate(d), 3200000u);

  int gains[256];
  const int expected[] = {0,   9,   14,  27,  37,  77,  87,  125, 144, 157,
                          166, 197, 207, 229, 254, 280, 297, 328, 338, 364,
                          372, 386, 402, 421, 434, 439, 445, 480, 496};
  ASSERT_EQ(rtlsdr_get_tuner_gains(d, gains), 29);
  for (int i = 0; i < 29; ++i) EXPECT_EQ(gains[i], expected[i]) << i;
  EXPECT_EQ(rtlsdr_get_tuner_gains(d, nullptr), 29);

  EXPECT_EQ(rtlsdr_set_tuner_gain_mode(d, 364), 0);
  EXPECT_EQ(rtlsdr_get_tuner_gain(d), 0);  // no gain was ever set
  EXPECT_EQ(rtlsdr_set_freq_correction(d, 2700), 0);
  EXPECT_EQ(rtlsdr_get_freq_correction(d), 2700);
  EXPECT_EQ(rtlsdr_set_freq_correction(d, 2700), -2);  // unchanged
  uint32_t rtlXtal = 0, tunerXtal = 0;
  EXPECT_EQ(rtlsdr_get_xtal_freq(d, &rtlXtal, &tunerXtal), 0);
  // 28.8 MHz corrected by 2700 ppm, truncated as the real library does
  // (28800000 * 1.0027 is a hair below 28877760 in doubles).
  EXPECT_EQ(rtlXtal, 28877759u);
  EXPECT_EQ(tunerXtal, 28877759u);
  EXPECT_EQ(rtlsdr_get_xtal_freq(d, nullptr, nullptr), 0);

  // The correction is reported, not applied: the centre stays as set.
  EXPECT_EQ(rtlsdr_set_center_freq(d, 139600000), 0);
  EXPECT_EQ(rtlsdr_get_center_freq(d), 139600000u);
  EXPECT_EQ(rtlsdr_set_tuner_gain(d, 200), 0);
  EXPECT_EQ(rtlsdr_get_tuner_gain(d), 200);  // as asked, like the real library
  EXPECT_EQ(rtlsdr_set_tuner_if_gain(d, 1, 30), 0);
  EXPECT_EQ(rtlsdr_set_tuner_bandwidth(d, 2000000), 0);
  EXPECT_EQ(rtlsdr_set_agc_mode(d, 1), 0);
  EXPECT_EQ(rtlsdr_set_bias_tee(d, 1), 0);
  EXPECT_EQ(rtlsdr_set_bias_tee_gpio(d, 5, 0), 0);
  EXPECT_EQ(rtlsdr_set_offset_tuning(d, 1), -2);  // not with an R820T
  EXPECT_EQ(rtlsdr_get_offset_tuning(d), 0);
  EXPECT_EQ(rtlsdr_set_direct_sampling(d, 2), 0);
  EXPECT_EQ(rtlsdr_get_direct_sampling(d), 2);
  EXPECT_EQ(rtlsdr_set_direct_sampling(d, 0), 0);
  EXPECT_EQ(rtlsdr_reset_buffer(d), 0);
  char m[256], p[256], s[256];
  EXPECT_EQ(rtlsdr_get_usb_strings(d, m, p, s), 0);
  EXPECT_STREQ(p, "RTL2838UHIDIR");
}

TEST_F(SimTest, SampleRatesOutsideTheResamplerAreRefused) {
  rtlsdr_dev_t* d = Open();
  ASSERT_EQ(rtlsdr_set_sample_rate(d, 2048000), 0);
  for (uint32_t bad : {0u, 225000u, 300001u, 600000u, 900000u, 3200001u, 4000000000u}) {
    EXPECT_EQ(rtlsdr_set_sample_rate(d, bad), -EINVAL) << bad;
    EXPECT_EQ(rtlsdr_get_sample_rate(d), 2048000u) << bad;
  }
  for (uint32_t good : {225001u, 250000u, 300000u, 900001u, 1000000u, 2400000u, 2500000u,
                        2560000u, 2800000u, 3200000u}) {
    EXPECT_EQ(rtlsdr_set_sample_rate(d, good), 0) << good;
    EXPECT_EQ(rtlsdr_get_sample_rate(d), good) << good;
  }
}

TEST_F(SimTest, CrystalAndTuningLimits) {
  rtlsdr_dev_t* d = Open();
  EXPECT_EQ(rtlsdr_set_xtal_freq(d, 28798999, 0), -2);
  EXPECT_EQ(rtlsdr_set_xtal_freq(d, 28801001, 0), -2);
  ASSERT_EQ(rtlsdr_set_sample_rate(d, 3200000), 0);
  EXPECT_EQ(rtlsdr_set_xtal_freq(d, 28800500, 0), 0);
  uint32_t rtlXtal = 0, tunerXtal = 0;
  EXPECT_EQ(rtlsdr_get_xtal_freq(d, &rtlXtal, &tunerXtal), 0);
  EXPECT_EQ(rtlXtal, 28800500u);
  EXPECT_EQ(tunerXtal, 28800500u);  // follows the demodulator's crystal
  EXPECT_EQ(rtlsdr_get_sample_rate(d), 3200000u);

  // The tuner does not lock outside its range: the library then reports
  // -1 and a centre of 0, like the real one after a failed tuning.
  EXPECT_EQ(rtlsdr_set_center_freq(d, 100000000), 0);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 10000000), -1);
  EXPECT_EQ(rtlsdr_get_center_freq(d), 0u);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 2000000000), -1);
  // In direct sampling the tuner is bypassed and HF tunes fine.
  EXPECT_EQ(rtlsdr_set_direct_sampling(d, 1), 0);
  EXPECT_EQ(rtlsdr_set_center_freq(d, 7100000), 0);
  EXPECT_EQ(rtlsdr_get_center_freq(d), 7100000u);
}

// Every call with a null handle, with a closed one and with a pointer that
// was never a handle returns the real library's error value, and nothing
// crashes.
TEST_F(SimTest, BadHandlesAreRefused) {
  rtlsdr_dev_t* closed = Open();
  Close(closed);
  int local = 0;
  rtlsdr_dev_t* foreign = reinterpret_cast<rtlsdr_dev_t*>(&local);
  for (rtlsdr_dev_t* d : {static_cast<rtlsdr_dev_t*>(nullptr), closed, foreign}) {
    uint8_t buf[512];
    int n = 77;
    uint32_t a = 5, b = 6;
    char s[256];
    int gains[256];
    EXPECT_EQ(rtlsdr_close(d), -1);
    EXPECT_EQ(rtlsdr_set_xtal_freq(d, 0, 0), -1);
    EXPECT_EQ(rtlsdr_get_xtal_freq(d, &a, &b), -1);
    EXPECT_EQ(a, 5u);
    EXPECT_EQ(rtlsdr_get_usb_strings(d, s, s, s), -1);
    EXPECT_EQ(rtlsdr_write_eeprom(d, buf, 0, 8), -1);
    EXPECT_EQ(rtlsdr_read_eeprom(d, buf, 0, 8), -1);
    EXPECT_EQ(rtlsdr_set_center_freq(d, 100000000), -1);
    EXPECT_EQ(rtlsdr_get_center_freq(d), 0u);
    EXPECT_EQ(rtlsdr_set_freq_correction(d, 10), -1);
    EXPECT_EQ(rtlsdr_get_freq_correction(d), 0);
    EXPECT_EQ(rtlsdr_get_tuner_type(d), RTLSDR_TUNER_UNKNOWN);
    EXPECT_EQ(rtlsdr_get_tuner_gains(d, gains), -1);
    EXPECT_EQ(rtlsdr_get_tuner_gains(d, nullptr), -1);
    EXPECT_EQ(rtlsdr_set_tuner_gain(d, 100), -1);
    EXPECT_EQ(rtlsdr_set_tuner_bandwidth(d, 100000), -1);
    EXPECT_EQ(rtlsdr_get_tuner_gain(d), 0);
    EXPECT_EQ(rtlsdr_set_tuner_if_gain(d, 1, 1), -1);
    EXPECT_EQ(rtlsdr_set_tuner_gain_mode(d, 1), -1);
    EXPECT_EQ(rtlsdr_set_sample_rate(d, 3200000), -1);
    EXPECT_EQ(rtlsdr_get_sample_rate(d), 0u);
    EXPECT_EQ(rtlsdr_set_testmode(d, 1), -1);
    EXPECT_EQ(rtlsdr_set_agc_mode(d, 1), -1);
    EXPECT_EQ(rtlsdr_set_direct_sampling(d, 1), -1);
    EXPECT_EQ(rtlsdr_get_direct_sampling(d), -1);
    EXPECT_EQ(rtlsdr_set_offset_tuning(d, 1), -1);
    EXPECT_EQ(rtlsdr_get_offset_tuning(d), -1);
    EXPECT_EQ(rtlsdr_reset_buffer(d), -1);
    EXPECT_EQ(rtlsdr_read_sync(d, buf, sizeof buf, &n), -1);
    EXPECT_EQ(rtlsdr_read_async(d, [](unsigned char*, uint32_t, void*) {}, nullptr, 1, 512), -1);
    EXPECT_EQ(rtlsdr_wait_async(d, [](unsigned char*, uint32_t, void*) {}, nullptr), -1);
    EXPECT_EQ(rtlsdr_cancel_async(d), -1);
    EXPECT_EQ(rtlsdr_set_bias_tee(d, 1), -1);
    EXPECT_EQ(rtlsdr_set_bias_tee_gpio(d, 0, 1), -1);
  }
}

TEST_F(SimTest, BadBuffersAndLengthsAreRefused) {
  rtlsdr_dev_t* d = Open();
  uint8_t buf[64];
  int n = 99;
  EXPECT_EQ(rtlsdr_read_sync(d, nullptr, 64, &n), -2);
  EXPECT_EQ(n, 0);
  n = 99;
  EXPECT_EQ(rtlsdr_read_sync(d, buf, 0, &n), -2);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(rtlsdr_read_sync(d, buf, -5, &n), -2);
  EXPECT_EQ(rtlsdr_read_sync(d, buf, sizeof buf, nullptr), 0);  // the count is optional
  EXPECT_EQ(rtlsdr_read_async(d, nullptr, nullptr, 1, 512), -1);
  EXPECT_EQ(rtlsdr_cancel_async(d), -2);  // nothing to cancel

  EXPECT_EQ(rtlsdr_read_eeprom(d, buf, 250, 7), -2);
  EXPECT_EQ(rtlsdr_write_eeprom(d, buf, 255, 2), -2);
  EXPECT_EQ(rtlsdr_read_eeprom(d, nullptr, 0, 8), -1);
  EXPECT_EQ(rtlsdr_write_eeprom(d, nullptr, 0, 8), -1);
  EXPECT_EQ(rtlsdr_read_eeprom(d, buf, 0, 0), 0);
  EXPECT_EQ(rtlsdr_set_bias_tee_gpio(d, 8, 1), -1);
  EXPECT_EQ(rtlsdr_set_bias_tee_gpio(d, -1, 1), -1);
}

TEST_F(SimTest, EepromHoldsTheUsbStringsAndKeepsWrites) {
  rtlsdr_dev_t* d = Open();
  uint8_t e[256];
  ASSERT_EQ(rtlsdr_read_eeprom(d, e, 0, 256), 0);
  EXPECT_EQ(e[0], 0x28);
  EXPECT_EQ(e[1], 0x32);
  EXPECT_EQ(e[2] | e[3] << 8, 0x0bda);
  EXPECT_EQ(e[4] | e[5] << 8, 0x2838);
  // String descriptors from byte 9: length, type 3, UTF-16LE text.
  std::vector<std::string> strings;
  size_t pos = 9;
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(e[pos + 1], 0x03);
    std::string s;
    for (size_t i = pos + 2; i < pos + e[pos]; i += 2) s.push_back(static_cast<char>(e[i]));
    strings.push_back(s);
    pos += e[pos];
  }
  EXPECT_EQ(strings, (std::vector<std::string>{"Realtek", "RTL2838UHIDIR", "00000001"}));

  uint8_t w[4] = {1, 2, 3, 4};
  ASSERT_EQ(rtlsdr_write_eeprom(d, w, 252, 4), 0);
  uint8_t r[4] = {};
  ASSERT_EQ(rtlsdr_read_eeprom(d, r, 252, 4), 0);
  EXPECT_EQ(std::memcmp(w, r, 4), 0);
}

struct AsyncCounter {
  rtlsdr_dev_t* dev = nullptr;
  int calls = 0;
  int stopAfter = 3;
  uint32_t lastLen = 0;
  int nestedRead = 0;
};

void CountAndCancel(unsigned char* buf, uint32_t len, void* ctx) {
  auto* c = static_cast<AsyncCounter*>(ctx);
  (void)buf;
  ++c->calls;
  c->lastLen = len;
  // A second asynchronous reading cannot start while one runs.
  c->nestedRead = rtlsdr_read_async(c->dev, CountAndCancel, ctx, 1, 512);
  if (c->calls == c->stopAfter) rtlsdr_cancel_async(c->dev);
}

TEST_F(SimTest, AsynchronousReadingRunsUntilCancelled) {
  rtlsdr_dev_t* d = Open();
  ASSERT_EQ(rtlsdr_set_sample_rate(d, 3200000), 0);
  AsyncCounter c{d};
  EXPECT_EQ(rtlsdr_read_async(d, CountAndCancel, &c, 4, 16384), 0);
  EXPECT_EQ(c.calls, 3);
  EXPECT_EQ(c.lastLen, 16384u);
  EXPECT_EQ(c.nestedRead, -2);
  EXPECT_EQ(rtlsdr_cancel_async(d), -2);  // over

  // A length that is not a whole number of 512-byte packets takes the
  // library's default buffer.
  AsyncCounter c2{d, 0, 1};
  EXPECT_EQ(rtlsdr_read_async(d, CountAndCancel, &c2, 0, 1000), 0);
  EXPECT_EQ(c2.lastLen, 262144u);
  AsyncCounter c3{d, 0, 2};
  EXPECT_EQ(rtlsdr_wait_async(d, CountAndCancel, &c3), 0);
  EXPECT_EQ(c3.calls, 2);
}

TEST_F(SimTest, CloseStopsAnAsynchronousReadingOnAnotherThread) {
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  rtlsdr_dev_t* d = Open();
  ASSERT_EQ(rtlsdr_set_sample_rate(d, 3200000), 0);
  std::atomic<int> calls{0};
  std::atomic<int> result{99};
  std::thread reader([&] {
    result = rtlsdr_read_async(
        d, [](unsigned char*, uint32_t, void* ctx) { ++*static_cast<std::atomic<int>*>(ctx); },
        &calls, 2, 16384);
  });
  while (calls.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Close(d);
  // The reading has ended by the time close returns.
  const int afterClose = calls.load();
  reader.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(calls.load(), afterClose);
}

TEST_F(SimTest, CloseFromTheCallbackEndsTheReading) {
  rtlsdr_dev_t* d = nullptr;
  ASSERT_EQ(rtlsdr_open(&d, 0), 0);
  AsyncCounter c{d};
  EXPECT_EQ(rtlsdr_read_async(
                d,
                [](unsigned char*, uint32_t, void* ctx) {
                  auto* c = static_cast<AsyncCounter*>(ctx);
                  if (++c->calls == 1) {
                    EXPECT_EQ(rtlsdr_close(c->dev), 0);
                  }
                },
                &c, 1, 512),
            0);
  EXPECT_EQ(c.calls, 1);
  EXPECT_EQ(rtlsdr_close(d), -1);  // gone
}

TEST_F(SimTest, TestModeDeliversAByteCounter) {
  rtlsdr_dev_t* d = Open();
  ASSERT_EQ(rtlsdr_set_testmode(d, 1), 0);
  std::vector<uint8_t> a = Read(d, 300);
  std::vector<uint8_t> b = Read(d, 301);
  for (size_t i = 1; i < a.size(); ++i) ASSERT_EQ(a[i], static_cast<uint8_t>(a[i - 1] + 1));
  EXPECT_EQ(b[0], static_cast<uint8_t>(a.back() + 1));
  for (size_t i = 1; i < b.size(); ++i) ASSERT_EQ(b[i], static_cast<uint8_t>(b[i - 1] + 1));
}

}  // namespace
