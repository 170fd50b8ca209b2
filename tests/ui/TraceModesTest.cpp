// Trace modes on the real window and the simulated receiver: the held line
// over several sweeps, its clearing, the engine's averaging, and what
// averaging does to the noise of the simulator's default scene.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "sweep/SweepEngine.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReadTheAir.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <vector>

namespace {

// A finished sweep's points, as the listeners see them.
struct Point {
  double X, Y;
};
using Levels = std::vector<Point>;

class TraceModesTest : public FormTest {
 protected:
  // The next `count` finished sweeps, as the listeners see them. `atLast`
  // runs as the last of them is shown, before a newer one can be: listeners
  // added earlier (the held line's) have seen that one and no other.
  std::vector<Levels> NextSweeps(MainWindow& f, size_t count, const std::function<void()>& atLast = {}) {
    std::vector<Levels> got;
    const int id = f.Sweep().AddSweepListener([&](const wg::SweepPtr& s) {
      if (got.size() >= count) return;
      Levels& l = got.emplace_back();
      for (size_t i = 0; i < s->PointCount(); ++i) l.push_back({s->X(i), s->Y(i)});
      if (got.size() == count && atLast) atLast();
    });
    for (int i = 0; i < 1000 && got.size() < count; ++i) QTest::qWait(10);
    f.Sweep().RemoveSweepListener(id);
    EXPECT_GE(got.size(), count) << "sweeps did not arrive";
    got.resize(std::min(got.size(), count));
    return got;
  }
  static double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * (v.size() - 1))];
  }
  static std::vector<double> Band(const Levels& s, double lo, double hi) {
    std::vector<double> out;
    for (const Point& p : s)
      if (p.X >= lo && p.X <= hi && !std::isnan(p.Y)) out.push_back(p.Y);
    return out;
  }
  static double Strongest(const Levels& s, double lo, double hi) {
    const std::vector<double> b = Band(s, lo, hi);
    return *std::max_element(b.begin(), b.end());
  }
};

TEST_F(TraceModesTest, PeakHoldKeepsTheMaximaUntilClearedOrTheRangeChanges) {
  MainWindow& f = Open();
  wg::TReadTheAir& air = f.Air();
  EXPECT_EQ(f.Chart1->SeriesCount(), 1) << "nothing chosen: the trace alone";
  // A sweep already taken for the window when the hold begins is shown but
  // not held; with the receiver quiet and its last sweep shown, the hold
  // begins with the next one.
  f.Sweep().Stop();
  ASSERT_TRUE(f.Sweep().WaitIdle(std::chrono::seconds(10)));
  QCoreApplication::processEvents();
  f.ChartMenu->findChild<QAction*>("mode-peak-hold")->trigger();
  ASSERT_NE(air.HoldSeries(), nullptr);
  EXPECT_EQ(f.Chart1->SeriesCount(), 2);
  EXPECT_EQ(f.Sweep().GetTraceMode(), wg::TraceMode::Live) << "the trace under the held line is live";
  ASSERT_TRUE(f.Sweep().Start());

  const wg::TFastLineSeries& hold = *air.HoldSeries();
  Levels held;  // the held line as the third sweep is shown
  const auto takeHeld = [&] {
    held.clear();
    for (int i = 0; i < hold.PointCount(); ++i) held.push_back({hold.PointX(i), hold.PointY(i)});
  };
  const std::vector<Levels> sweeps = NextSweeps(f, 3, takeHeld);
  ASSERT_EQ(sweeps.size(), 3u);
  ASSERT_EQ(static_cast<int>(held.size()), f.Series1->PointCount()) << "the scan range's points, as the trace";
  for (size_t i = 0; i < held.size(); i += 97) {
    const double most = std::max({sweeps[0][i].Y, sweeps[1][i].Y, sweeps[2][i].Y});
    EXPECT_EQ(held[i].Y, most) << i;
    EXPECT_EQ(held[i].X, sweeps[2][i].X) << i;
  }

  f.ChartMenu->findChild<QAction*>("clear-hold")->trigger();
  EXPECT_EQ(hold.PointCount(), 0);
  Levels one = NextSweeps(f, 1, takeHeld).at(0);
  ASSERT_FALSE(held.empty());
  for (size_t i = 0; i < held.size(); i += 97) EXPECT_EQ(held[i].Y, one[i].Y) << i;

  f.StartFreqEdit->SetValue(145);
  EXPECT_EQ(hold.PointCount(), 0) << "a new scan range starts the held line again";
  one = NextSweeps(f, 1).at(0);
  EXPECT_EQ(hold.PointCount(), f.Series1->PointCount());
  EXPECT_EQ(hold.PointX(0), 145e6);

  f.ChartMenu->findChild<QAction*>("mode-live")->trigger();
  EXPECT_EQ(air.HoldSeries(), nullptr);
  EXPECT_EQ(f.Chart1->SeriesCount(), 1);
}

TEST_F(TraceModesTest, AverageSwitchesTheEngineAndLeavesLiveAsItWas) {
  MainWindow& f = Open();
  f.ChartMenu->findChild<QAction*>("mode-average")->trigger();
  EXPECT_EQ(f.Sweep().GetTraceMode(), wg::TraceMode::Average);
  EXPECT_TRUE(f.Sweep().Running());
  EXPECT_TRUE(f.ChartMenu->findChild<QAction*>("mode-average")->isChecked());
  f.Air().SetMode(wg::TraceMode::PeakHold);
  EXPECT_EQ(f.Sweep().GetTraceMode(), wg::TraceMode::Live);
  EXPECT_FALSE(f.ChartMenu->findChild<QAction*>("mode-average")->isChecked());
  EXPECT_EQ(wg::TraceModeFromKey(wg::TraceModeKey(wg::TraceMode::PeakHold)),
            wg::TraceMode::PeakHold);
  EXPECT_FALSE(wg::TraceModeFromKey("bogus").has_value());
}

TEST_F(TraceModesTest, ModeAndMarkersAreRememberedAndACommandLineModeWinsForOneRun) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("wideglass.ini"));
  Bind(WG_SIM_LIB);
  {
    wg::TSettings settings(file);
    MainWindow f(settings, {});
    f.Air().SetMode(wg::TraceMode::PeakHold);
    f.Air().SetPeakMarker(true);
    f.Air().SetFixedMarkers({145e6, 146e6});
  }
  {
    wg::TSettings settings(file);
    MainWindow f(settings, {});
    EXPECT_EQ(f.Air().Mode(), wg::TraceMode::PeakHold);
    EXPECT_NE(f.Air().HoldSeries(), nullptr);
    EXPECT_TRUE(f.Air().PeakMarker());
    EXPECT_EQ(f.Air().FixedMarkers(), (std::vector<double>{145e6, 146e6}));
  }
  {
    wg::TSettings settings(file);
    wg::Options options;
    options.mode = wg::TraceMode::Average;
    MainWindow f(settings, options);
    EXPECT_EQ(f.Air().Mode(), wg::TraceMode::Average);
    EXPECT_EQ(f.Sweep().GetTraceMode(), wg::TraceMode::Average);
  }
  wg::TSettings settings(file);
  EXPECT_EQ(settings.Values().traceView, wg::TraceMode::PeakHold) << "the command line's mode is for one run";
}

// Noise of a band without emitters, the 95th minus the 5th percentile of its
// levels, in Live and in Average; and the weak emitters of the default scene
// against the highest noise level in Average.
TEST_F(TraceModesTest, AveragingAtLeastHalvesTheNoiseAndBringsOutWeakEmitters) {
  MainWindow& f = Open();
  struct Noise {
    double spread, top;
  };
  const auto noise = [&](const Levels& s, double lo, double hi) {
    const std::vector<double> quiet = Band(s, lo, hi);
    return Noise{Percentile(quiet, 0.95) - Percentile(quiet, 0.05), Percentile(quiet, 1.0)};
  };
  const Levels live = NextSweeps(f, 2).at(1);
  f.Air().SetMode(wg::TraceMode::Average);
  const Levels average = NextSweeps(f, 2).at(1);
  const Noise liveNoise = noise(live, 143.0e6, 144.0e6), averageNoise = noise(average, 143.0e6, 144.0e6);
  EXPECT_LE(averageNoise.spread, liveNoise.spread / 2);
  const double liveCarrier = Strongest(live, 152.04e6, 152.06e6);
  const double carrier = Strongest(average, 152.04e6, 152.06e6);
  EXPECT_GT(carrier, averageNoise.top + 3);

  // The FM broadcast band from 88 MHz puts 91.2 MHz on the edge between two steps.
  f.StartFreqEdit->SetValue(88);
  f.StopFreqEdit->SetValue(108);
  const Levels fm = NextSweeps(f, 2).at(1);
  const Noise fmNoise = noise(fm, 93.0e6, 94.0e6);
  const double station = Strongest(fm, 91.1e6, 91.3e6);
  EXPECT_GT(station, fmNoise.top + 3);
  std::printf(
      "noise 143-144 MHz (95th - 5th percentile / highest): live %.2f / %.2f dB, average %.2f / %.2f dB\n"
      "152.05 MHz: live %.2f dB, average %.2f dB; 91.2 MHz in average %.2f dB over noise up to %.2f dB\n",
      liveNoise.spread, liveNoise.top, averageNoise.spread, averageNoise.top, liveCarrier, carrier, station,
      fmNoise.top);
}

}  // namespace
