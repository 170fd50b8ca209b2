// Shared by the simulator's tests: a clean set of RTLSDR_SIM_* variables per
// test, handles closed afterwards, scene files, and how strongly a tone is
// present in I/Q bytes.
#pragma once

#include <rtl-sdr.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace simtest {

inline const char* const kSimVariables[] = {
    "RTLSDR_SIM_SCENE",      "RTLSDR_SIM_DEVICES",     "RTLSDR_SIM_PACE",   "RTLSDR_SIM_SEED",
    "RTLSDR_SIM_SETTLE_BYTES", "RTLSDR_SIM_OPEN_FAIL", "RTLSDR_SIM_FAULT",  "RTLSDR_SIM_FAULT_AFTER",
    "RTLSDR_SIM_PPM",        "RTLSDR_SIM_TUNE_US",     "RTLSDR_SIM_FILTER", "RTLSDR_SIM_REPLUG_MS",
    "RTLSDR_SIM_TUNER",      "RTLSDR_SIM_LNA_DB"};

inline void ClearSimVariables() {
  for (const char* v : kSimVariables) ::unsetenv(v);
}

class SimTest : public ::testing::Test {
 protected:
  // Unpaced, and without the demodulator's filter so that levels are the
  // scene's; the tests of the filter turn it on.
  void SetUp() override {
    ClearSimVariables();
    ::setenv("RTLSDR_SIM_PACE", "0", 1);
    ::setenv("RTLSDR_SIM_FILTER", "0", 1);
  }
  void TearDown() override {
    for (rtlsdr_dev_t* d : open_) rtlsdr_close(d);
    if (!scene_.empty()) std::remove(scene_.c_str());
    ClearSimVariables();
  }

  rtlsdr_dev_t* Open(uint32_t index = 0) {
    rtlsdr_dev_t* d = nullptr;
    EXPECT_EQ(rtlsdr_open(&d, index), 0);
    if (d) open_.push_back(d);
    return d;
  }
  void Close(rtlsdr_dev_t* d) {
    std::erase(open_, d);
    EXPECT_EQ(rtlsdr_close(d), 0);
  }
  // A receiver at 3.2 MS/s with manual gain at 0 dB, so that scene levels
  // come through unchanged.
  rtlsdr_dev_t* OpenTuned(uint32_t centre) {
    rtlsdr_dev_t* d = Open();
    EXPECT_EQ(rtlsdr_set_sample_rate(d, 3200000), 0);
    EXPECT_EQ(rtlsdr_set_tuner_gain_mode(d, 1), 0);
    EXPECT_EQ(rtlsdr_set_center_freq(d, centre), 0);
    return d;
  }

  void UseScene(const std::string& text) {
    if (scene_.empty()) scene_ = "/tmp/wg-sim-scene-" + std::to_string(::getpid());
    std::ofstream(scene_) << text;
    ::setenv("RTLSDR_SIM_SCENE", scene_.c_str(), 1);
  }

  std::vector<uint8_t> Read(rtlsdr_dev_t* d, int len) {
    std::vector<uint8_t> b(static_cast<size_t>(len));
    int n = -1;
    EXPECT_EQ(rtlsdr_read_sync(d, b.data(), len, &n), 0);
    EXPECT_EQ(n, len);
    return b;
  }

 private:
  std::vector<rtlsdr_dev_t*> open_;
  std::string scene_;
};

// Amplitude in LSB of a complex tone at offsetHz from the centre in the I/Q
// bytes b[from, from + bytes), by correlation at exactly that frequency.
inline double ToneAmplitude(const std::vector<uint8_t>& b, size_t from, size_t bytes, double offsetHz,
                            double rate = 3200000) {
  const size_t n = bytes / 2;
  std::complex<double> acc = 0;
  const double step = -2 * M_PI * offsetHz / rate;
  // A rotating phasor, set afresh every 4096 samples so it stays exact.
  const std::complex<double> turn = std::polar(1.0, step);
  std::complex<double> z = 1;
  for (size_t i = 0; i < n; ++i) {
    if (i % 4096 == 0) z = std::polar(1.0, step * static_cast<double>(i));
    acc += std::complex<double>(b[from + 2 * i] - 127.5, b[from + 2 * i + 1] - 127.5) * z;
    z *= turn;
  }
  return std::abs(acc) / static_cast<double>(n);
}

// Amplitude in LSB of a tone `levelDb` relative to full scale.
inline double AmplitudeOf(double levelDb) { return 127.5 * std::pow(10.0, levelDb / 20); }

inline double Db(double amplitudeRatio) { return 20 * std::log10(amplitudeRatio); }

// Mean power in LSB squared of what lies around offsetHz: the squared
// correlation over many short pieces, averaged, so noise reads steadily.
inline double PowerNear(const std::vector<uint8_t>& b, double offsetHz, double rate = 3200000) {
  constexpr size_t kPiece = 512;  // bytes
  double sum = 0;
  size_t pieces = 0;
  for (size_t from = 0; from + kPiece <= b.size(); from += kPiece, ++pieces) {
    const double a = ToneAmplitude(b, from, kPiece, offsetHz, rate);
    sum += a * a;
  }
  return sum / static_cast<double>(pieces);
}

}  // namespace simtest
