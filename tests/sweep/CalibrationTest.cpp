#include "sweep/Calibration.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// One step of 3.2 MHz at 4096 points around `centre`, noise at -80 dB and a
// carrier at `seen` Hz whose power spills into the next bins as a window's
// main lobe does.
wg::Sweep StepWithCarrier(double centre, double seen) {
  wg::Sweep s;
  s.sampleRate = 3200000;
  s.pointsPerStep = 4096;
  s.binWidth = 781.25;
  s.stepStarts = {static_cast<int64_t>(centre) - s.sampleRate / 2};
  s.levels.assign(4096, -80.f);
  for (int k = 0; k < 4096; ++k) {
    const double d = (static_cast<double>(s.stepStarts[0]) + k * s.binWidth - seen) / s.binWidth;
    if (std::fabs(d) < 1.5) s.levels[static_cast<size_t>(k)] = static_cast<float>(-40 - 6 * d * d);
  }
  return s;
}

TEST(Calibration, FindsThePeakBetweenBinsAndTheCorrectionThatMovesIt) {
  const double centre = 1500000000;
  for (double within : {0.0, 0.25, -0.4}) {
    const double seen = centre + 200000 + (13 + within) * 781.25;
    const wg::Sweep s = StepWithCarrier(centre, seen);
    const auto peak = wg::FindPeak(s, seen + 2 * 781.25);
    ASSERT_TRUE(peak.has_value());
    EXPECT_NEAR(peak->hz, seen, 781.25 / 10) << within;
    EXPECT_EQ(peak->centreHz, centre);
  }
  // A crystal 37 ppm fast under the written 2700 ppm shows a signal at f in
  // a step tuned for c at f - c ((1 + e) / (1 + p) - 1); the correction found
  // from it is the crystal's error.
  for (int error : {37, -12, 0}) {
    const double c = 145600000, f = 145500000;
    const double seen = f - c * ((1 + error / 1e6) / (1 + 2700 / 1e6) - 1);
    EXPECT_EQ(wg::CorrectionFor({seen, c}, f, 2700), error);
    EXPECT_EQ(wg::CorrectionFor({f, c}, f, error), error) << "already right";
  }
  EXPECT_EQ(wg::CorrectionFor({145500000, 145600000}, 146500000, 0), 3000) << "within the receiver's limits";
  // Nothing measured there, or no step there.
  wg::Sweep s = StepWithCarrier(centre, centre);
  EXPECT_FALSE(wg::FindPeak(s, centre + 5e6).has_value());
  for (float& v : s.levels) v = NAN;
  EXPECT_FALSE(wg::FindPeak(s, centre).has_value());
}

}  // namespace
