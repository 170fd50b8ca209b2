// The cursor readout and the markers on the real window, fed by the
// simulated receiver and then held still.
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "sweep/SweepEngine.h"
#include "tests/ui/FormFixture.h"
#include "ui/ChartOverlay.h"
#include "ui/ReadTheAir.h"
#include "ui/TraceReadout.h"
#include "ui/Unit1.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class ReadTheAirTest : public FormTest {
 protected:
  TForm1& OpenStill() {
    TForm1& f = Open();
    f.activateWindow();
    (void)QTest::qWaitForWindowActive(&f);
    for (int i = 0; i < 200 && f.Series1->PointX(0) != 138e6; ++i) QTest::qWait(20);
    EXPECT_EQ(f.Series1->PointX(0), 138e6) << "no sweep arrived";
    f.Button2Click(nullptr);
    Paint();
    return f;
  }
  // The readout and markers map through the layout of the last drawing.
  void Paint() {
    QApplication::processEvents();
    form_->Chart1->repaint();
  }
  QRect Plot() const {
    const wg::TRect r = form_->Chart1->GetPlotRect();
    return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1));
  }
  // The point nearest hz, found the long way.
  int Nearest(double hz) const {
    const wg::TFastLineSeries& s = *form_->Series1;
    int best = 0;
    for (int i = 1; i < s.PointCount(); ++i)
      if (std::fabs(s.PointX(i) - hz) < std::fabs(s.PointX(best) - hz)) best = i;
    return best;
  }
  void MoveTo(QPoint p) {
    QMouseEvent e(QEvent::MouseMove, p, form_->Chart1->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form_->Chart1, &e);
  }
};

TEST_F(ReadTheAirTest, TheReadoutFollowsThePointerAtEveryZoom) {
  TForm1& f = OpenStill();
  wg::TReadTheAir& air = f.Air();
  for (int zoom = 0; zoom < 3; ++zoom) {
    const QRect plot = Plot();
    const wg::TChartAxis* b = f.Chart1->BottomAxis();
    const double span = b->Maximum() - b->Minimum();
    const int extent = b->EndPixel - b->StartPixel;
    for (double at : {0.0, 0.37, 0.5, 1.0}) {
      const int x = b->StartPixel + static_cast<int>(at * extent);
      const wg::TReadTheAir::TReadout r = air.ReadoutAt(QPoint(x, plot.center().y()));
      ASSERT_TRUE(r.Shown) << zoom << " " << at;
      EXPECT_NEAR(r.Hz, b->Minimum() + (x - b->StartPixel) * span / extent, span / extent) << zoom << " " << at;
      const int i = Nearest(r.Hz);
      EXPECT_EQ(r.Db, f.Series1->PointY(i)) << zoom << " " << at;
      EXPECT_TRUE(r.Text.contains(QString::number(r.Hz / 1e6, 'f', 4) + " MHz")) << r.Text.toStdString();
      EXPECT_TRUE(r.Text.endsWith(QString::number(r.Db, 'f', 1) + " dB")) << r.Text.toStdString();
      EXPECT_TRUE(plot.contains(r.Rect)) << zoom << " " << at;
      EXPECT_FALSE(r.Rect.contains(r.ReadPoint)) << "the label hides the point it reads";
    }
    if (zoom == 0) f.Chart1->ZoomCentred(120);
    if (zoom == 1) TForm1::ScrollHorizontalAxes(f.Chart1, 5);
    Paint();
  }
  // Past the scan range the plot reads no level.
  f.Air().ResetView();
  Paint();
  EXPECT_TRUE(std::isnan(air.ReadoutAt(QPoint(Plot().right() - 1, Plot().center().y())).Db));
  EXPECT_FALSE(air.ReadoutAt(Plot().topLeft() - QPoint(2, 2)).Shown);
  EXPECT_FALSE(air.ReadoutAt(QPoint(Plot().right() + 3, Plot().center().y())).Shown);

  // Before the first sweep (and with no points at all) there is no level.
  f.Series1->ClearPoints();
  EXPECT_TRUE(std::isnan(air.ReadoutAt(Plot().center()).Db));
  f.StartFreqEdit->SetValue(140);
  f.Button2Click(nullptr);
  const wg::TReadTheAir::TReadout none = air.ReadoutAt(Plot().center());
  EXPECT_TRUE(std::isnan(none.Db));
  EXPECT_TRUE(none.Text.endsWith(QString::fromUtf8("\u2014")));
}

TEST_F(ReadTheAirTest, NothingChosenLeavesThePictureAloneAndTheImageNeverHoldsTheLayer) {
  TForm1& f = OpenStill();
  wg::TChartOverlay* layer = f.Air().Overlay();
  const QImage plain = f.Chart1->grab().toImage();
  layer->hide();
  EXPECT_EQ(f.Chart1->grab().toImage(), plain) << "the layer draws nothing when nothing is chosen";
  layer->show();

  const QImage chartImage = f.Chart1->Canvas().Image().copy();
  MoveTo(Plot().center());
  EXPECT_NE(layer->Pointer(), nullptr);
  f.Air().SetPeakMarker(true);
  f.Air().SetFixedMarkers({145e6});
  Paint();
  EXPECT_NE(f.Chart1->grab().toImage(), plain) << "readout and markers are on the window";
  EXPECT_EQ(f.Chart1->Canvas().Image(), chartImage) << "and never in the chart's image";
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(f.Chart1, &leave);
  EXPECT_EQ(layer->Pointer(), nullptr);
}

TEST_F(ReadTheAirTest, MarkersReadThePeakAndFixedFrequencies) {
  TForm1& f = OpenStill();
  wg::TReadTheAir& air = f.Air();
  const wg::TFastLineSeries& s = *f.Series1;
  f.ChartMenu->findChild<QAction*>("mark-peak")->trigger();
  auto peakOf = [&](double lo, double hi) {
    int best = -1;
    for (int i = 0; i < s.PointCount(); ++i)
      if (s.PointX(i) >= lo && s.PointX(i) <= hi && (best < 0 || s.PointY(i) > s.PointY(best))) best = i;
    return best;
  };
  std::vector<wg::TReadTheAir::TMarker> m = air.Markers();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_TRUE(m[0].Peak);
  EXPECT_EQ(m[0].Hz, s.PointX(peakOf(138e6, 153e6)));
  // Zoomed away from it, the marker takes the strongest point in view.
  const double away = m[0].Hz < 145.5e6 ? 149e6 : 140e6;
  f.Chart1->BottomAxis()->SetRange(away, away + 2e6);
  Paint();
  m = air.Markers();
  EXPECT_EQ(m[0].Hz, s.PointX(peakOf(away, away + 2e6)));

  // Ctrl + click sets fixed markers, up to four; a Ctrl-drag still zooms.
  const QRect plot = Plot();
  for (int k = 0; k < 5; ++k) {
    const QPoint p(plot.left() + 20 + 40 * k, plot.center().y());
    QTest::mouseClick(f.Chart1, Qt::LeftButton, Qt::ControlModifier, p);
  }
  m = air.Markers();
  ASSERT_EQ(m.size(), 5u) << "four fixed and the peak";
  const double first = f.Chart1->BottomAxis()->PixelToValue(plot.left() + 20);
  EXPECT_EQ(m[0].Hz, first);
  EXPECT_EQ(m[0].Db, s.PointY(Nearest(first)));
  EXPECT_TRUE(m[1].Text.contains(QString::fromUtf8("\u0394 +"))) << m[1].Text.toStdString();
  EXPECT_TRUE(m[1].Text.endsWith(wg::FormatDeltaDb(m[1].Db - m[0].Db) + ")")) << m[1].Text.toStdString();
  EXPECT_EQ(air.FixedMarkers().size(), 4u);
  QTest::mousePress(f.Chart1, Qt::LeftButton, Qt::ControlModifier, plot.center());
  QTest::mouseMove(f.Chart1, plot.center() + QPoint(40, 40));
  QTest::mouseRelease(f.Chart1, Qt::LeftButton, Qt::ControlModifier, plot.center() + QPoint(40, 40));
  EXPECT_FALSE(f.Chart1->ScalesRestored()) << "zoomed";

  // A marker where nothing is measured reads no level.
  air.SetFixedMarkers({100e6, 146e6});
  m = air.Markers();
  EXPECT_TRUE(std::isnan(m[0].Db));
  EXPECT_TRUE(m[0].Text.endsWith(QString::fromUtf8("\u2014")));
  f.ChartMenu->findChild<QAction*>("clear-marker")->trigger();
  EXPECT_TRUE(air.Markers().empty());
  EXPECT_FALSE(air.PeakMarker());
}

}  // namespace
