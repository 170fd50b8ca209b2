#include "fft_levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

namespace {

using wg::kFftSize;

// A carrier of amplitude `amp` at `offsetHz` from the tuned centre, sampled
// at 3.2 MS/s as interleaved unsigned I/Q bytes around 127.5.
std::vector<uint8_t> Carrier(double offsetHz, double amp, size_t bytes = 131072) {
  std::vector<uint8_t> b(bytes);
  for (size_t n = 0; n < bytes / 2; ++n) {
    const double ph = 2 * M_PI * offsetHz * static_cast<double>(n) / 3.2e6;
    b[2 * n] = static_cast<uint8_t>(std::lround(127.5 + amp * std::cos(ph)));
    b[2 * n + 1] = static_cast<uint8_t>(std::lround(127.5 + amp * std::sin(ph)));
  }
  return b;
}

int PeakIndex(const std::vector<double>& lv, int skipCentre = 0) {
  int best = -1;
  for (int g = 0; g < kFftSize; ++g) {
    if (std::abs(g - kFftSize / 2) < skipCentre) continue;
    if (best < 0 || lv[g] > lv[best]) best = g;
  }
  return best;
}

TEST(FFT, MatchesDirectTransformBothDirections) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int N : {8, 64, 512}) {
    for (int dir : {+1, -1}) {
      std::vector<double> re(N), im(N);
      for (int i = 0; i < N; ++i) re[i] = u(rng), im[i] = u(rng);
      std::vector<std::complex<double>> x(N);
      for (int i = 0; i < N; ++i) x[i] = {re[i], im[i]};
      int n = N;
      wg::FFT(re.data(), im.data(), n, 5, dir);
      ASSERT_EQ(n, N);
      for (int k = 0; k < N; ++k) {
        std::complex<double> s = 0;
        for (int t = 0; t < N; ++t)
          s += x[t] * std::polar(1.0, -dir * 2 * M_PI * k * t / N);
        EXPECT_NEAR(re[k], s.real(), 1e-9 * N) << N << " " << dir << " " << k;
        EXPECT_NEAR(im[k], s.imag(), 1e-9 * N) << N << " " << dir << " " << k;
      }
    }
  }
}

TEST(FFT, SizeRoundingAndWindows) {
  std::vector<double> re(4096, 1.0), im(4096, 0.0);
  int n = 4096;
  wg::FFT(re.data(), im.data(), n, 4, 1);
  EXPECT_EQ(n, 4096);
  n = 5;  // 2 * smallest power of two >= 2
  wg::FFT(re.data(), im.data(), n, 5, 1);
  EXPECT_EQ(n, 4);
  n = 6;
  wg::FFT(re.data(), im.data(), n, 5, 1);
  EXPECT_EQ(n, 8);

  EXPECT_NEAR(wg::WindowCoefficient(4, 0, 4096), -0.00277, 1e-15);
  EXPECT_NEAR(wg::WindowCoefficient(1, 0, 4096), 0.42323 - 0.49755 + 0.07922, 1e-15);
  EXPECT_NEAR(wg::WindowCoefficient(3, 2048, 4096), 0.35875 + 0.48829 + 0.14128 + 0.01168, 1e-12);
  EXPECT_EQ(wg::WindowCoefficient(5, 17, 4096), 1.0);

  // An unknown window type leaves the samples as they are, like type 5.
  for (int type : {0, 6, -3}) {
    std::vector<double> r1(64), i1(64), r2(64), i2(64);
    for (int i = 0; i < 64; ++i) r1[i] = r2[i] = i % 7, i1[i] = i2[i] = i % 3;
    int a = 64, b = 64;
    wg::FFT(r1.data(), i1.data(), a, type, 1);
    wg::FFT(r2.data(), i2.data(), b, 5, 1);
    EXPECT_EQ(r1, r2) << type;
    EXPECT_EQ(i1, i2) << type;
  }
}

TEST(Spectrum, ZeroBlockStaysAtTheFloorUnnormalised) {
  std::vector<uint8_t> block(131072, 0);
  std::vector<double> lv(kFftSize);
  wg::SpectrumOfBlock(block.data(), block.size(), 131072, lv.data());
  const double floor = 20 * std::log10(1e-100 / 4096);
  for (double v : lv) EXPECT_DOUBLE_EQ(v, floor);
}

TEST(Spectrum, ConstantBlockLandsOnTheCentreBin) {
  for (int c : {1, 2, 3, 200}) {
    std::vector<uint8_t> block(131072, static_cast<uint8_t>(c));
    std::vector<double> lv(kFftSize);
    wg::SpectrumOfBlock(block.data(), block.size(), 131072, lv.data());
    EXPECT_EQ(PeakIndex(lv), 2048) << c;
    const double raw = 20 * std::log10(0.40217 * c * std::sqrt(2.0));
    if (raw >= 0) {
      EXPECT_NEAR(lv[2048], 0.0, 1e-9) << c;
    } else {
      EXPECT_NEAR(lv[2048], raw, 1e-6) << c;
    }
  }
}

TEST(Spectrum, OnlyTheLastSamplesReadCount) {
  std::vector<uint8_t> a = Carrier(500000, 60);
  std::vector<uint8_t> b = a;
  std::mt19937 rng(3);
  for (size_t i = 0; i < 131072 - 8192; ++i) b[i] = static_cast<uint8_t>(rng());
  std::vector<double> la(kFftSize), lb(kFftSize);
  wg::SpectrumOfBlock(a.data(), a.size(), 131072, la.data());
  wg::SpectrumOfBlock(b.data(), b.size(), 131072, lb.data());
  EXPECT_EQ(la, lb);

  // A short read takes the 8192 bytes that end at the count...
  std::vector<uint8_t> c(131072, 0);
  std::copy(a.begin(), a.begin() + 8192, c.begin() + 20000);
  wg::SpectrumOfBlock(c.data(), c.size(), 28192, lb.data());
  wg::SpectrumOfBlock(a.data(), a.size(), 8192, la.data());
  EXPECT_EQ(la, lb);
  // ...and the block's first 8192 when fewer were read.
  wg::SpectrumOfBlock(a.data(), a.size(), 100, lb.data());
  EXPECT_EQ(la, lb);
}

TEST(Spectrum, CarriersAppearAtTheirTrueOffsets) {
  std::vector<double> lv(kFftSize);
  auto up = Carrier(500000, 60);
  wg::SpectrumOfBlock(up.data(), up.size(), 131072, lv.data());
  EXPECT_NEAR(PeakIndex(lv, 8), 2048 + 640, 1);
  auto down = Carrier(-700000, 60);
  wg::SpectrumOfBlock(down.data(), down.size(), 131072, lv.data());
  EXPECT_NEAR(PeakIndex(lv, 8), 2048 - 896, 1);
  // No mirror image on the other side of the centre.
  EXPECT_LT(lv[2048 + 896], lv[2048 - 896] - 30);
}

TEST(Spectrum, FastPathIsBitIdenticalToTheReference) {
  std::mt19937 rng(11);
  std::vector<uint8_t> block(131072);
  std::vector<double> fast(kFftSize), ref(kFftSize);
  for (int round = 0; round < 4; ++round) {
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    if (round == 1) block = Carrier(123456, 90);
    const long count = round == 3 ? 50000 : 131072;
    wg::SpectrumOfBlock(block.data(), block.size(), count, fast.data());
    wg::SpectrumOfBlockReference(block.data(), block.size(), count, ref.data());
    for (int g = 0; g < kFftSize; ++g)
      ASSERT_EQ(std::memcmp(&fast[g], &ref[g], sizeof(double)), 0) << round << " " << g;
  }
}

}  // namespace
