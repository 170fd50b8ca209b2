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
#include "ui/MainWindow.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class ReadTheAirTest : public FormTest {
 protected:
  MainWindow& OpenStill() {
    MainWindow& f = Open();
    f.activateWindow();
    (void)QTest::qWaitForWindowActive(&f);
    for (int i = 0; i < 200 && f.Series1->PointX(0) != 138e6; ++i) QTest::qWait(20);
    EXPECT_EQ(f.Series1->PointX(0), 138e6) << "no sweep arrived";
    f.StopSweep();
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
  MainWindow& f = OpenStill();
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
    if (zoom == 1) MainWindow::ScrollHorizontalAxes(f.Chart1, 5);
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
  f.StopSweep();
  const wg::TReadTheAir::TReadout none = air.ReadoutAt(Plot().center());
  EXPECT_TRUE(std::isnan(none.Db));
  EXPECT_TRUE(none.Text.endsWith(QString::fromUtf8("\u2014")));
}

TEST_F(ReadTheAirTest, NothingChosenLeavesThePictureAloneAndTheImageNeverHoldsTheLayer) {
  MainWindow& f = OpenStill();
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
  MainWindow& f = OpenStill();
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
  // Each snapped to the strongest point within four pixels of the click.
  const wg::TChartAxis* b = f.Chart1->BottomAxis();
  const int firstPeak = peakOf(b->PixelToValue(plot.left() + 16), b->PixelToValue(plot.left() + 24));
  EXPECT_EQ(m[0].Hz, s.PointX(firstPeak));
  EXPECT_EQ(m[0].Db, s.PointY(firstPeak));
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

TEST_F(ReadTheAirTest, AtFullSpanTheReadoutAndAClickReadTheCarrierNotTheNoiseBesideIt) {
  MainWindow& f = OpenStill();
  const wg::TFastLineSeries& s = *f.Series1;
  const wg::TChartAxis* b = f.Chart1->BottomAxis();
  int carrier = 0;
  for (int i = 1; i < s.PointCount(); ++i)
    if (s.PointY(i) > s.PointY(carrier)) carrier = i;
  const int x = b->ValueToPixel(s.PointX(carrier));
  ASSERT_GT(std::fabs(b->PixelToValue(x + 1) - b->PixelToValue(x)), 2 * (s.PointX(1) - s.PointX(0)))
      << "a pixel holds several points";
  const wg::TReadTheAir::TReadout r = f.Air().ReadoutAt(QPoint(x, Plot().center().y()));
  EXPECT_EQ(r.Db, s.PointY(carrier));
  EXPECT_EQ(r.Hz, s.PointX(carrier));
  for (int off : {-wg::TReadTheAir::kSnapPixels, 3, wg::TReadTheAir::kSnapPixels}) {
    f.Air().ClearMarkers();
    QTest::mouseClick(f.Chart1, Qt::LeftButton, Qt::ControlModifier, QPoint(x + off, Plot().center().y()));
    ASSERT_EQ(f.Air().FixedMarkers().size(), 1u) << off;
    EXPECT_EQ(f.Air().FixedMarkers()[0], s.PointX(carrier)) << off;
  }
}

TEST_F(ReadTheAirTest, LabelsNeverOverlapEvenWithMarkersOnePixelApart) {
  MainWindow& f = OpenStill();
  wg::TReadTheAir& air = f.Air();
  const QRect plot = Plot();
  const wg::TChartAxis* b = f.Chart1->BottomAxis();
  std::vector<QRect> editors;
  for (QWidget* w : {static_cast<QWidget*>(f.StartFreqEdit), static_cast<QWidget*>(f.StopFreqEdit),
                     static_cast<QWidget*>(f.Label2)})
    editors.push_back(w->geometry());
  // Near the left edge (by the editors), the middle and the right edge; the
  // pointer on them.
  for (int x0 : {plot.left() + 2, plot.center().x(), plot.right() - 5}) {
    std::vector<double> hz;
    for (int k = 0; k < 4; ++k) hz.push_back(b->PixelToValue(x0 + k));
    air.SetFixedMarkers(hz);
    air.SetPeakMarker(true);
    for (const QPoint pointer : {QPoint(x0, plot.center().y()), QPoint(x0 + 2, plot.top() + 3),
                                 QPoint(x0, plot.bottom() - 2)}) {
      const wg::TReadTheAir::TLayout l = air.Layout(&pointer);
      ASSERT_EQ(l.labels.size(), 5u);
      std::vector<QRect> all = l.labels;
      all.push_back(l.readout.Rect);
      for (size_t i = 0; i < all.size(); ++i) {
        if (i < l.labels.size()) {
          EXPECT_FALSE(all[i].isEmpty()) << "every label finds a place " << x0 << " " << i;
          EXPECT_FALSE(all[i].intersects(l.table)) << x0 << " " << i;
        }
        EXPECT_TRUE(plot.contains(all[i]) || all[i].isEmpty()) << x0 << " " << i;
        for (const QRect& e : editors) EXPECT_FALSE(all[i].intersects(e)) << x0 << " " << i;
        for (size_t j = i + 1; j < all.size(); ++j) EXPECT_FALSE(all[i].intersects(all[j])) << x0 << " " << i << " " << j;
      }
    }
  }
  // A plot with no room left: a label is left out rather than laid over another.
  const std::vector<QRect> cramped = wg::PlaceMarkerLabels({QSize(50, 12), QSize(50, 12)}, {QPoint(30, 20), QPoint(31, 20)},
                                                           QRect(0, 0, 60, 16), {});
  EXPECT_FALSE(cramped[0].isEmpty());
  EXPECT_TRUE(cramped[1].isEmpty());
}

TEST_F(ReadTheAirTest, AMarkerIsDraggedAndDeletedAlone) {
  MainWindow& f = OpenStill();
  wg::TReadTheAir& air = f.Air();
  const wg::TFastLineSeries& s = *f.Series1;
  const wg::TChartAxis* b = f.Chart1->BottomAxis();
  const QRect plot = Plot();
  air.SetFixedMarkers({b->PixelToValue(plot.left() + 40), b->PixelToValue(plot.left() + 200)});
  Paint();
  wg::TReadTheAir::TLayout l = air.Layout(nullptr);
  const QPoint grip = l.tips[0] - QPoint(0, 3);
  ASSERT_EQ(air.MarkerAt(grip), 0);
  // Dragged onto the carrier's column, it lands on the carrier; the chart
  // neither zooms nor pans.
  int carrier = 0;
  for (int i = 1; i < s.PointCount(); ++i)
    if (s.PointY(i) > s.PointY(carrier)) carrier = i;
  const QPoint onto(b->ValueToPixel(s.PointX(carrier)) + 2, grip.y() + 30);
  QTest::mousePress(f.Chart1, Qt::LeftButton, Qt::NoModifier, grip);
  QTest::mouseMove(f.Chart1, (grip + onto) / 2);
  QTest::mouseMove(f.Chart1, onto);
  QTest::mouseRelease(f.Chart1, Qt::LeftButton, Qt::NoModifier, onto);
  EXPECT_TRUE(f.Chart1->ScalesRestored()) << "the drag moved the marker, not the view";
  ASSERT_EQ(air.FixedMarkers().size(), 2u);
  EXPECT_EQ(air.FixedMarkers()[0], s.PointX(carrier));
  EXPECT_EQ(f.Settings().Values().markers, air.FixedMarkers()) << "remembered";

  // A right click on the second opens its own menu, whose Delete removes it alone.
  air.SetPeakMarker(true);
  Paint();
  l = air.Layout(nullptr);
  QTest::mouseClick(f.Chart1, Qt::RightButton, Qt::NoModifier, l.tips[1] - QPoint(0, 3));
  EXPECT_TRUE(air.MarkerMenu()->isVisible());
  EXPECT_FALSE(f.ChartMenu->isVisible());
  air.MarkerMenu()->findChild<QAction*>("marker-delete")->trigger();
  air.MarkerMenu()->hide();
  ASSERT_EQ(air.FixedMarkers().size(), 1u);
  EXPECT_EQ(air.FixedMarkers()[0], s.PointX(carrier));
  EXPECT_TRUE(air.PeakMarker());
  // Away from every marker the chart's own menu opens.
  QTest::mouseClick(f.Chart1, Qt::RightButton, Qt::NoModifier, QPoint(plot.right() - 3, plot.bottom() - 3));
  EXPECT_FALSE(air.MarkerMenu()->isVisible());
  f.ChartMenu->hide();
}

}  // namespace
