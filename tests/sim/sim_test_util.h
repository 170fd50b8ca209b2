// Shared by the simulator's tests: a clean set of RTLSDR_SIM_* variables per
// test, handles that are closed afterwards, scene files, and a measure of
// how strongly a tone is present in I/Q bytes.
#pragma once

#include <rtl-sdr.h>

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace simtest {

inline const char* const kSimVariables[] = {
    "RTLSDR_SIM_SCENE",      "RTLSDR_SIM_DEVICES",    "RTLSDR_SIM_PACE",
    "RTLSDR_SIM_SEED",       "RTLSDR_SIM_SETTLE_BYTES", "RTLSDR_SIM_OPEN_FAIL",
    "RTLSDR_SIM_FAULT",      "RTLSDR_SIM_FAULT_AFTER"};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kSimVariables) ::unsetenv(v);
    ::setenv("RTLSDR_SIM_PACE", "0", 1);
  }
  void TearDown() override {
    for (rtlsdr_dev_t* d : open_) rtlsdr_close(d);
    for (const std::string& f : files_) std::remove(f.c_str());
    for (const char* v : kSimVariables) ::unsetenv(v);
  }

  // Opens receiver `index`; fails the test when that does not work.
  rtlsdr_dev_t* Open(uint32_t index = 0) {
    rtlsdr_dev_t* d = nullptr;
    const int r = rtlsdr_open(&d, index);
    EXPECT_EQ(r, 0);
    EXPECT_NE(d, nullptr);
    if (d) open_.push_back(d);
    return d;
  }
  void Close(rtlsdr_dev_t* d) {
    for (auto it = open_.begin(); it != open_.end(); ++it)
      if (*it == d) {
        open_.erase(it);
        break;
      }
    EXPECT_EQ(rtlsdr_close(d), 0);
  }

  // Writes a scene file and points RTLSDR_SIM_SCENE at it.
  std::string UseScene(const std::string& text) {
    char name[] = "/tmp/wg-sim-scene-XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    ::close(fd);
    std::ofstream(name) << text;
    files_.push_back(name);
    ::setenv("RTLSDR_SIM_SCENE", name, 1);
    return name;
  }

  std::vector<uint8_t> Read(rtlsdr_dev_t* d, int len) {
    std::vector<uint8_t> b(static_cast<size_t>(len));
    int n = -1;
    EXPECT_EQ(rtlsdr_read_sync(d, b.data(), len, &n), 0);
    EXPECT_EQ(n, len);
    return b;
  }

  // A receiver tuned to `centre` at 3.2 MS/s with manual gain at 0 dB, so
  // that scene levels come through unchanged.
  rtlsdr_dev_t* OpenTuned(uint32_t centre) {
    rtlsdr_dev_t* d = Open();
    if (!d) return d;
    EXPECT_EQ(rtlsdr_set_sample_rate(d, 3200000), 0);
    EXPECT_EQ(rtlsdr_set_tuner_gain_mode(d, 1), 0);
    EXPECT_EQ(rtlsdr_set_center_freq(d, centre), 0);
    return d;
  }

 private:
  std::vector<rtlsdr_dev_t*> open_;
  std::vector<std::string> files_;
};

// Amplitude in LSB of a complex tone at offsetHz from the centre in the I/Q
// bytes b[from, from + bytes), by correlation at exactly that frequency.
inline double ToneAmplitude(const std::vector<uint8_t>& b, size_t from, size_t bytes,
                            double offsetHz, double rate = 3200000) {
  const size_t n = bytes / 2;
  std::complex<double> acc = 0;
  const double step = -2 * M_PI * offsetHz / rate;
  for (size_t i = 0; i < n; ++i) {
    const std::complex<double> z(b[from + 2 * i] - 127.5, b[from + 2 * i + 1] - 127.5);
    acc += z * std::polar(1.0, step * static_cast<double>(i));
  }
  return std::abs(acc) / static_cast<double>(n);
}

// Amplitude in LSB of a tone `levelDb` relative to full scale.
inline double AmplitudeOf(double levelDb) { return 127.5 * std::pow(10.0, levelDb / 20); }

}  // namespace simtest
