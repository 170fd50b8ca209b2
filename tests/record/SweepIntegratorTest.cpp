// Bins joined and sweeps integrated before they are written: levels are
// exactly the total power of what they join, the mean (or peak) over the
// sweeps, and intervals are closed and dated by rtl_power's rule.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "record/RtlPowerCsv.h"
#include "record/SweepIntegrator.h"

using wg::IntegrationChoice;
using wg::RtlPowerSweep;
using wg::TSweepIntegrator;
using Clock = std::chrono::system_clock;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const Clock::time_point kStart = Clock::from_time_t(1796642966);

Clock::time_point At(double seconds) {
  return kStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Two steps of eight 100 Hz bins; each level differs with sweep, step and bin.
RtlPowerSweep Sweep(int n, double endsAt) {
  RtlPowerSweep s;
  s.binsPerStep = 8;
  s.sampleRate = 800;
  s.binWidth = 100;
  s.samples = 8;
  s.lows = {1000000, 1000800};
  s.start = 1000000;
  s.stop = 1001500;  // inside the second step
  s.noiseBins = 1.5;
  for (int step = 0; step < 2; ++step)
    for (int i = 0; i < 8; ++i) s.levels.push_back(-40.0 + 7.3 * std::sin(n * 1.7 + step * 0.9 + i * 2.3));
  s.when = At(endsAt);
  return s;
}

std::vector<RtlPowerSweep> Integrate(IntegrationChoice c, const std::vector<RtlPowerSweep>& in, int* pending = nullptr) {
  TSweepIntegrator g(c, kStart + std::chrono::milliseconds(300));
  std::vector<RtlPowerSweep> out;
  for (const auto& s : in) g.Add(s, [&](RtlPowerSweep& o) { out.push_back(o); });
  if (pending) *pending = g.Pending();
  return out;
}

double Power(double db) { return std::pow(10.0, db / 10.0); }

TEST(SweepIntegrator, BinsJoinTheMostWholeBinsThatFitTheSizeAsked) {
  EXPECT_EQ(wg::CombinedBins(0, 781.25, 4096), 1);
  EXPECT_EQ(wg::CombinedBins(781.25, 781.25, 4096), 1);
  EXPECT_EQ(wg::CombinedBins(500, 781.25, 4096), 1);        // below the finest: the finest
  EXPECT_EQ(wg::CombinedBins(1600, 781.25, 4096), 2);
  EXPECT_EQ(wg::CombinedBins(10000, 781.25, 4096), 12);     // 9375 Hz bins, not 12.5 kHz
  EXPECT_EQ(wg::CombinedBins(100000, 781.25, 4096), 128);   // 100 kHz exactly
  EXPECT_EQ(wg::CombinedBins(1e9, 781.25, 4096), 4096);     // one bin a step at most
  // Steps with their edges cut off keep fewer bins (3072 at a crop of 0.25,
  // 3264 at 0.2): the same rule.
  EXPECT_EQ(wg::CombinedBins(1e6, 781.25, 3072), 1280);
  EXPECT_EQ(wg::CombinedBins(100000, 781.25, 3264), 128);
  EXPECT_EQ(wg::CombinedBins(1e9, 100, 12), 12);
}

// The joined, integrated level of every bin is the total power of the three
// fine bins it joins (one across the steps' edge), less the noise spread, of
// all the sweeps that measured them; bins whose band would reach beyond the
// stop are left out, and the lines hold two bins.
TEST(SweepIntegrator, JoinedBinsHoldTheTotalPowerOfWhatTheyJoin) {
  std::vector<RtlPowerSweep> in = {Sweep(0, 0.5), Sweep(1, 1.2), Sweep(2, 2.9)};
  in[1].levels[8 + 3] = kNaN;  // bin 3 not measured whole in sweep 1
  for (bool peak : {false, true}) {
    const auto out = Integrate({350, 10, peak}, in);
    ASSERT_EQ(out.size(), 0u);  // the interval has not ended
    const auto done = Integrate({350, 3, peak}, {in[0], in[1], in[2], Sweep(3, 3.1)});
    ASSERT_EQ(done.size(), 1u);
    const RtlPowerSweep& o = done[0];
    EXPECT_EQ(o.binsPerStep, 2);
    EXPECT_EQ(o.binWidth, 300);
    EXPECT_EQ(o.lows, (std::vector<int64_t>{1000100, 1000700}));
    EXPECT_EQ(o.lines, (std::vector<RtlPowerSweep::Line>{{2, 1000700}, {2, 1001300}}));
    EXPECT_EQ(o.samples, 32);
    EXPECT_EQ(o.when, At(3.1));
    const std::vector<RtlPowerSweep> covered = {in[0], in[1], in[2], Sweep(3, 3.1)};
    for (int m = 0; m < 4; ++m) {
      double sum = 0, most = 0;
      int sweeps = 0;
      for (const auto& s : covered) {
        const double p = (Power(s.levels[3 * m]) + Power(s.levels[3 * m + 1]) + Power(s.levels[3 * m + 2])) / 1.5;
        if (std::isnan(p)) continue;
        sum += p;
        most = std::max(most, p);
        ++sweeps;
      }
      const double want = 10 * std::log10(peak ? most : sum / sweeps);
      EXPECT_NEAR(o.levels[m], want, 1e-9) << "bin " << m << " peak " << peak;
    }
  }
  // Nothing chosen but the bin size: every sweep on its own, its own date.
  const auto single = Integrate({200, 0, false}, {in[0]});
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].samples, 8);
  EXPECT_NEAR(single[0].levels[0], 10 * std::log10((Power(in[0].levels[0]) + Power(in[0].levels[1])) / 1.5), 1e-9);
  // A range too narrow for one bin of the size asked: the widest that fits.
  in[0].stop = 1001000;
  EXPECT_EQ(Integrate({1e6, 0, false}, {in[0]}).at(0).lines, (std::vector<RtlPowerSweep::Line>{{1, 1001000}}));
  // A step never measured in the interval is not written; with bins joined,
  // a bin not measured whole splits its line.
  RtlPowerSweep dark = Sweep(0, 0.5);
  dark.levels[0] = kNaN;
  const auto lines = Integrate({0, 0, false}, {dark});
  std::string text;
  EXPECT_EQ(wg::AppendRtlPowerLines(text, lines.at(0)), 1u);
  dark.levels[4] = kNaN;
  EXPECT_EQ(Integrate({200, 0, false}, {dark}).at(0).lows, (std::vector<int64_t>{1000250, 1000650, 1000850}));
}

// rtl_power's clock: the survey began at 0.3 s, so intervals of 3 s end at
// 3, 6, 9... whole seconds; an interval goes out with the first sweep that
// ends in the second of its end or later, dated as that sweep ends.
TEST(SweepIntegrator, IntervalsCloseAndAreDatedAsRtlPowerDoes) {
  const std::vector<double> ends = {0.9, 1.5, 2.8, 3.0, 3.4, 5.9, 6.2, 9.7, 17.5, 18.0, 19.9};
  std::vector<RtlPowerSweep> in;
  for (size_t i = 0; i < ends.size(); ++i) in.push_back(Sweep(static_cast<int>(i), ends[i]));
  int pending = 0;
  const auto out = Integrate({0, 3, false}, in, &pending);
  // 3.0 closes 0-3 (4 sweeps), 6.2 closes 3-6 (3), 9.7 closes 6-9 (1), the
  // slow sweep to 17.5 closes 9-12 and leaves 12-15 and 15-18 without lines;
  // 18.0 closes the interval that ends at 18; 19.9 waits for 21.
  const std::vector<std::pair<double, int>> want = {{3.0, 4}, {6.2, 3}, {9.7, 1}, {17.5, 1}, {18.0, 1}};
  ASSERT_EQ(out.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(out[i].when, At(want[i].first)) << i;
    EXPECT_EQ(out[i].samples, 8 * want[i].second) << i;
  }
  EXPECT_EQ(pending, 1);
}

// Another range in the middle of an interval: what was integrated goes out
// first, dated by its last sweep, and the new range starts an interval's
// integration of its own on the same clock.
TEST(SweepIntegrator, AnotherRangeSendsOutTheIntervalSoFar) {
  RtlPowerSweep moved = Sweep(2, 2.5);
  moved.lows = {2000000, 2000800};
  const auto out = Integrate({0, 3, false}, {Sweep(0, 0.5), Sweep(1, 1.5), moved, Sweep(3, 3.2)});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].when, At(1.5));
  EXPECT_EQ(out[0].samples, 16);
  EXPECT_EQ(out[1].lows[0], 2000000);
  EXPECT_EQ(out[1].when, At(2.5));
  EXPECT_EQ(out[2].lows[0], 1000000);
  EXPECT_EQ(out[2].when, At(3.2));
}

}  // namespace
