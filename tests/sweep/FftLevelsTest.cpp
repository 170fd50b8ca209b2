#include "sweep/FftLevels.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The levels the spectrum had while the bytes entered the transform with their
// offset and the strongest bin was made the 0 dB mark.
std::vector<double> OffsetPeakNormalisedLevels(const std::vector<uint8_t>& block) {
  const uint8_t* s = block.data() + block.size() - wg::kSpectrumBytes;
  std::vector<double> re(kFftSize), im(kFftSize), lv(kFftSize);
  for (int n = 0; n < kFftSize; ++n) re[n] = s[2 * n], im[n] = s[2 * n + 1];
  int N = kFftSize;
  wg::FFT(re.data(), im.data(), N, 4, +1);
  double peak = -1000;
  for (int g = 0; g < kFftSize; ++g) {
    const int k = (g + kFftSize / 2) % kFftSize;
    lv[g] = 20 * std::log10(std::max(std::hypot(re[k], im[k]), 1e-100) / 4096);
    peak = std::max(peak, lv[g]);
  }
  if (peak >= 0)
    for (double& v : lv) v -= peak;
  return lv;
}

TEST(Spectrum, ReferenceIsTheMidScaleBlocksCentreLevel) {
  // A constant block's centre bin is the window's sum (4096 a0) times the
  // complex offset, so full-scale DC of 127.5 on I and Q reads 0 dB.
  EXPECT_NEAR(wg::CentreReferenceLevel(), 20 * std::log10(127.5 * std::sqrt(2.0) * 0.40217), 1e-9);
  EXPECT_NEAR(wg::CentreReferenceLevel(), 37.2, 0.05);
}

// I and Q both alternate lo, hi from sample to sample: the mean (less 127.5)
// lands on the centre bin and the alternation on the band's edge (g = 0),
// each spread over its three neighbours by the window, nothing elsewhere.
TEST(Spectrum, OffsetAndAlternationLandWhereAndHowLargeTheyShould) {
  struct Case {
    int lo, hi;
  };
  const auto dB = [](double amp) { return 20 * std::log10(amp / 127.5); };
  for (Case c : {Case{127, 128}, Case{128, 132}, Case{130, 130}, Case{0, 0}, Case{255, 255}}) {
    std::vector<uint8_t> block(131072);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i % 4 < 2 ? c.lo : c.hi);
    std::vector<double> lv(kFftSize);
    wg::SpectrumOfBlock(block.data(), block.size(), 131072, lv.data());
    const double mean = (c.lo + c.hi) / 2.0 - 127.5, swing = (c.hi - c.lo) / 2.0;
    if (mean == 0) {
      EXPECT_LT(lv[2048], -90) << c.lo;
    } else {
      EXPECT_NEAR(lv[2048], dB(std::abs(mean)), 1e-6) << c.lo;
    }
    if (swing == 0) {
      EXPECT_LT(lv[0], -90) << c.lo;
    } else {
      EXPECT_NEAR(lv[0], dB(swing), 1e-6) << c.lo;
    }
    for (int g = 4; g < kFftSize - 3; ++g) {
      if (std::abs(g - 2048) > 3) {
        ASSERT_LT(lv[g], -90) << c.lo << " " << g;
      }
    }
  }
}

TEST(Spectrum, CarriersKeepTheLevelsTheyReadWithTheOffsetAsMark) {
  for (double amp : {90.0, 60.0, 12.0}) {
    const auto block = Carrier(500000, amp);
    std::vector<double> lv(kFftSize);
    wg::SpectrumOfBlock(block.data(), block.size(), 131072, lv.data());
    const auto old = OffsetPeakNormalisedLevels(block);
    EXPECT_EQ(PeakIndex(lv), 2048 + 640) << amp;
    EXPECT_NEAR(lv[2048 + 640], old[2048 + 640], 0.05) << amp;
    EXPECT_NEAR(lv[2048 + 640], 20 * std::log10(amp / 127.5 / std::sqrt(2.0)), 0.1) << amp;
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

namespace {

// Mean power of the 8192-byte pieces ending at `end`, through the plain routine.
std::vector<double> DirectAverage(const std::vector<uint8_t>& block, long end, int pieces) {
  std::vector<double> power(kFftSize, 0.0), lv(kFftSize);
  for (int p = 0; p < pieces; ++p) {
    const uint8_t* s = block.data() + end - (pieces - p) * wg::kSpectrumBytes;
    std::vector<double> re(kFftSize), im(kFftSize);
    for (int n = 0; n < kFftSize; ++n) re[n] = s[2 * n] - 127.5, im[n] = s[2 * n + 1] - 127.5;
    int N = kFftSize;
    wg::FFT(re.data(), im.data(), N, 4, +1);
    for (int k = 0; k < kFftSize; ++k) power[k] += re[k] * re[k] + im[k] * im[k];
  }
  for (int g = 0; g < kFftSize; ++g)
    lv[g] = 10 * std::log10(power[(g + kFftSize / 2) % kFftSize] / pieces) -
            20 * std::log10(4096.0) - wg::CentreReferenceLevel();
  return lv;
}

TEST(AveragedSpectrum, MeanPowerOfThePiecesThatEndAtTheCount) {
  // Noise and a carrier, different in every piece; the early bytes are junk
  // that must not count.
  std::vector<uint8_t> block = Carrier(-300000, 20);
  std::mt19937 rng(17);
  std::normal_distribution<double> noise(0, 6);
  for (auto& b : block) b = static_cast<uint8_t>(std::clamp(std::lround(b + noise(rng)), 0L, 255L));
  struct Case {
    long count;
    int pieces;
  };
  std::vector<double> lv(kFftSize);
  for (Case c : {Case{131072, 8}, Case{200000, 8}, Case{30000, 3}, Case{8192, 1}}) {
    wg::AveragedSpectrumOfBlock(block.data(), block.size(), c.count, lv.data());
    const auto direct = DirectAverage(block, std::min(c.count, 131072L), c.pieces);
    for (int g = 0; g < kFftSize; ++g) ASSERT_NEAR(lv[g], direct[g], 1e-9) << c.count << " " << g;
  }
  // Less than one piece read: the single transform of the block's start.
  std::vector<double> single(kFftSize);
  wg::AveragedSpectrumOfBlock(block.data(), block.size(), 100, lv.data());
  wg::SpectrumOfBlock(block.data(), block.size(), 100, single.data());
  EXPECT_EQ(lv, single);
  // A block of one repeated piece averages to that piece's spectrum.
  std::vector<uint8_t> same(131072);
  for (size_t i = 0; i < same.size(); ++i) same[i] = block[i % wg::kSpectrumBytes];
  wg::AveragedSpectrumOfBlock(same.data(), same.size(), 131072, lv.data());
  wg::SpectrumOfBlock(same.data(), same.size(), 131072, single.data());
  for (int g = 0; g < kFftSize; ++g) ASSERT_NEAR(lv[g], single[g], 1e-9) << g;
}

}  // namespace
