// Calibrating the frequency correction on a marker, on the simulated stick
// with a crystal error of its own, over the tuner's whole range.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/FastLineSeries.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "tests/ui/FormFixture.h"
#include "ui/CalibrateOnMarker.h"
#include "ui/ReadTheAir.h"
#include "ui/TraceReadout.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

constexpr double kCarriers[] = {24300000, 100300000, 433920000, 868300000, 1090100000, 1500200000, 1762300000};
constexpr double kBin = 781.25;
constexpr int kCrystalError = 37;

class CalibrationTest : public FormTest {
 protected:
  void SetUp() override {
    for (const char* name : {"RTLSDR_SIM_PPM", "RTLSDR_SIM_PACE", "RTLSDR_SIM_SCENE"}) saved_.emplace_back(name, qgetenv(name));
    qputenv("RTLSDR_SIM_PPM", QByteArray::number(kCrystalError));
    qputenv("RTLSDR_SIM_PACE", "0");
  }
  void TearDown() override {
    FormTest::TearDown();
    for (const auto& [name, value] : saved_)
      if (value.isNull()) qunsetenv(name); else qputenv(name, value);
  }
  // The window over 24-1766 MHz with the written 2700 ppm, on a scene of
  // carriers across it.
  MainWindow& OpenWide(wg::TSettings& settings) {
    if (dir_.empty()) Bind(WG_SIM_LIB);
    const std::string scene = (dir_ / "scene.txt").string();
    std::ofstream out(scene);
    for (double hz : kCarriers) out << static_cast<int64_t>(hz) << " -40 carrier\n";
    out.close();
    qputenv("RTLSDR_SIM_SCENE", QByteArray::fromStdString(scene));
    wg::Options o;
    o.start = 24000000;
    o.stop = 1766000000;
    form_ = std::make_unique<MainWindow>(settings, o);
    form_->show();
    listener_ = form_->Sweep().AddSweepListener([this](const wg::SweepPtr&) { ++sweeps_; });
    return *form_;
  }
  // Waits for `n` more whole sweeps.
  bool Sweeps(int n) {
    const int until = sweeps_ + n + 1;  // the one under way may predate the change
    for (int i = 0; i < 3000 && sweeps_ < until; ++i) QTest::qWait(20);
    return sweeps_ >= until;
  }
  double PeakNear(double hz, double within) const {
    const wg::TFastLineSeries& s = *form_->Series1;
    const int i = wg::StrongestBetween(s, hz - within, hz + within);
    return i < 0 ? NAN : s.PointX(i);
  }
  std::vector<std::pair<const char*, QByteArray>> saved_;
  int listener_ = -1;
  int sweeps_ = 0;
};

TEST_F(CalibrationTest, OneCalibrationPutsEveryCarrierWithinABinAndTheStickKeepsIt) {
  wg::TSettings settings;
  MainWindow& f = OpenWide(settings);
  ASSERT_TRUE(Sweeps(1));
  EXPECT_TRUE(f.Air().MarkerMenu()->findChild<QAction*>("marker-calibrate")) << "on every marker's menu";
  // Under 2700 ppm against a crystal 37 ppm off, 1500.2 MHz shows about 4 MHz higher.
  const double seen = PeakNear(1500.2e6 * (1 + (2700 - kCrystalError) / 1e6), 200e3);
  ASSERT_TRUE(std::isfinite(seen));
  EXPECT_GT(std::fabs(seen - 1500.2e6), 3e6);
  f.Air().SetFixedMarkers({seen});
  EXPECT_EQ(f.Calibration().Calibrate(seen, 1500.2e6), kCrystalError);
  EXPECT_EQ(f.Receiver().FreqCorrection(), kCrystalError);
  EXPECT_TRUE(Lines().join('\n').contains(QStringLiteral("37 ppm"))) << Lines().join('\n').toStdString();
  ASSERT_TRUE(Sweeps(1));
  for (double hz : kCarriers) EXPECT_NEAR(PeakNear(hz, 50e3), hz, kBin) << hz;

  // Remembered for the stick: opened again with another correction in force, it gets its own back.
  EXPECT_EQ(settings.OwnOf("00000001").ppm, kCrystalError);
  form_->Sweep().RemoveSweepListener(listener_);
  form_.reset();
  settings.SetPpm(2700);
  MainWindow& again = OpenWide(settings);
  EXPECT_EQ(again.Receiver().FreqCorrection(), kCrystalError);
  form_.reset();  // before the settings it uses
}

}  // namespace
