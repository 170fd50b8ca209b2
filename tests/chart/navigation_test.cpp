// Zoom, undo, panning and the wheel on a chart set up as the window sets it
// up, driven by real mouse events.
#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "Chart.h"
#include "Series.h"

using namespace wg;

namespace {

class NavigationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chart_ = std::make_unique<TChart>();
    TChart& c = *chart_;
    c.resize(580, 326);
    c.SetView3D(false);
    c.Legend().SetVisible(false);
    c.Title().SetText({"FFT", ""});
    c.BackWall().Brush().SetColor(clWhite);
    c.BackWall().Brush().SetStyle(bsClear);
    c.SetColor(clWhite);
    TChartAxis* b = c.BottomAxis();
    b->SetEndPosition(97);
    b->SetPositionPercent(-2);
    b->Title().SetCaption("Hz");
    b->SetRange(138e6, 153e6);
    TChartAxis* l = c.LeftAxis();
    l->SetAutomatic(false);
    l->SetMaximum(25);
    l->SetMinimum(-120);
    l->SetStartPosition(5);
    l->SetPositionPercent(-1);
    l->Title().SetCaption("dB");
    series_ = c.AddSeries(std::make_unique<TFastLineSeries>());
    // A quiet floor with one carrier, 781.25 Hz apart as a sweep lays them.
    for (int i = 0; i < 19200; ++i) series_->AddPoint(138e6 + i * 781.25, i % 4800 == 2400 ? -20.0 : -95.0);
    c.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
    Settle();
  }

  // Lets pending paints happen, so that the layout the mouse meets is current.
  void Settle() { QApplication::processEvents(); }

  void Drag(Qt::MouseButton button, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
    QTest::mousePress(chart_.get(), button, mods, from);
    QTest::mouseMove(chart_.get(), to);
    QTest::mouseRelease(chart_.get(), button, mods, to);
    Settle();
  }

  void ExpectRange(const TChartAxis* a, double lo, double hi, const char* what) {
    EXPECT_EQ(a->Minimum(), lo) << what;
    EXPECT_EQ(a->Maximum(), hi) << what;
  }

  void Wheel(int delta) {
    const QPointF at(300, 150);
    QWheelEvent e(at, chart_->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart_.get(), &e);
  }

  std::unique_ptr<TChart> chart_;
  TFastLineSeries* series_ = nullptr;
};

TEST_F(NavigationTest, CentredZoomNarrowsThenWidensAndKeepsThePreviousScales) {
  TChart& c = *chart_;
  ASSERT_TRUE(c.ScalesRestored());
  c.ZoomCentred(120);
  ExpectRange(c.BottomAxis(), 141e6, 150e6, "plus keeps the middle 60 %");
  ExpectRange(c.LeftAxis(), -91, -4, "plus on the level axis");
  EXPECT_FALSE(c.ScalesRestored());
  c.ZoomCentred(80);
  ExpectRange(c.BottomAxis(), 139.2e6, 151.8e6, "minus adds 20 % at each end");
  // The axes with no series on them scale automatically to 0 .. 0; a zoom
  // fixes them there.
  EXPECT_FALSE(c.TopAxis()->Automatic());

  const TCustomChart::TSavedAxisScales& s = c.SavedAxisScales();
  EXPECT_EQ(s.Bottom.Minimum, 138e6) << "saved once, at the first zoom";
  EXPECT_EQ(s.Bottom.Maximum, 153e6);
  EXPECT_FALSE(s.Bottom.Automatic);
  EXPECT_EQ(s.Left.Minimum, -120);
  EXPECT_TRUE(s.Top.Automatic);

  c.UndoZoom();
  EXPECT_TRUE(c.ScalesRestored());
  ExpectRange(c.BottomAxis(), 138e6, 153e6, "undo");
  ExpectRange(c.LeftAxis(), -120, 25, "undo");
  EXPECT_TRUE(c.TopAxis()->Automatic()) << "an automatic axis comes back automatic";
  EXPECT_TRUE(c.RightAxis()->AutomaticMinimum());

  // With nothing saved, an undo leaves the axes wherever they are.
  c.BottomAxis()->SetRange(100e6, 110e6);
  c.UndoZoom();
  ExpectRange(c.BottomAxis(), 100e6, 110e6, "undo with nothing saved");
}

TEST_F(NavigationTest, CentredZoomTakesAnAutomaticAxisAtItsSeriesRange) {
  TChart& c = *chart_;
  c.LeftAxis()->SetAutomatic(true);
  c.ZoomCentred(120);
  // -95 .. -20 by the series: 15 dB off each end, though the axis itself
  // still holds the fixed -120 .. 25 until it is drawn.
  ExpectRange(c.LeftAxis(), -80, -35, "automatic level axis");
  EXPECT_TRUE(c.SavedAxisScales().Left.Automatic);
}

TEST_F(NavigationTest, LeftDragZoomsOnlyPastSixteenPixelsAndUpLeftUndoes) {
  TChart& c = *chart_;
  const TChartAxis* b = c.BottomAxis();
  const TChartAxis* l = c.LeftAxis();
  const double x100 = b->PixelToValue(100), x117 = b->PixelToValue(117);
  const double y100 = l->PixelToValue(100), y117 = l->PixelToValue(117);

  // Ctrl held makes no difference.
  Drag(Qt::LeftButton, {100, 100}, {117, 117}, Qt::ControlModifier);
  EXPECT_FALSE(c.ZoomRecord().Dragging);
  ExpectRange(b, x100, x117, "17 pixels each way zoom");
  ExpectRange(l, y117, y100, "the lower edge gives the lower level");

  const double zb0 = b->Minimum(), zb1 = b->Maximum();
  Drag(Qt::LeftButton, {100, 100}, {116, 200});
  ExpectRange(b, zb0, zb1, "16 pixels across change nothing");

  Drag(Qt::LeftButton, {200, 200}, {100, 100});
  ExpectRange(b, 138e6, 153e6, "an up-left drag undoes");
  ExpectRange(l, -120, 25, "an up-left drag undoes");
  EXPECT_TRUE(c.ScalesRestored());

  // A drag right and up is no zoom either: it undoes too.
  Drag(Qt::LeftButton, {100, 200}, {200, 100});
  ExpectRange(b, 138e6, 153e6, "right and up");
}

TEST_F(NavigationTest, UndoAfterZoomAndScrollsBringsBackThePreZoomView) {
  TChart& c = *chart_;
  TChartAxis* b = c.BottomAxis();
  TChartAxis* l = c.LeftAxis();
  Drag(Qt::LeftButton, {120, 80}, {300, 220});
  ASSERT_FALSE(c.ScalesRestored());
  // Two scrolls as the arrow keys do them; they do not touch the saved
  // scales.
  for (int i = 0; i < 2; ++i) {
    const double bs = (b->Maximum() - b->Minimum()) / 20, ls = (l->Maximum() - l->Minimum()) / 20;
    b->SetRange(b->Minimum() + bs, b->Maximum() + bs);
    l->SetRange(l->Minimum() + ls, l->Maximum() + ls);
  }
  Settle();
  Drag(Qt::LeftButton, {300, 220}, {150, 100});
  ExpectRange(l, -120, 25, "levels before the zoom");
  ExpectRange(b, 138e6, 153e6, "frequencies at the time of the zoom");
}

TEST_F(NavigationTest, TheOutlineFollowsADragUpAndLeftAndLeavesNoTrace) {
  TChart& c = *chart_;
  const QImage before = c.Canvas().Image().copy();
  QTest::mousePress(&c, Qt::LeftButton, {}, {250, 200});
  QTest::mouseMove(&c, {150, 120});
  Settle();
  ASSERT_TRUE(c.ZoomRecord().Dragging);
  const QImage during = c.Canvas().Image();
  // The outline runs from (150, 120) to (249, 199): its top row and left
  // column are inverted, the pixel just outside is not.
  int inverted = 0;
  for (int x = 160; x < 240; ++x) inverted += (during.pixel(x, 120) ^ before.pixel(x, 120)) & 0xFFFFFF ? 1 : 0;
  EXPECT_EQ(inverted, 80) << "top edge";
  EXPECT_NE(during.pixel(150, 160) & 0xFFFFFF, before.pixel(150, 160) & 0xFFFFFF) << "left edge";
  EXPECT_EQ(during.pixel(149, 160) & 0xFFFFFF, before.pixel(149, 160) & 0xFFFFFF);

  QTest::mouseRelease(&c, Qt::LeftButton, {}, {150, 120});
  Settle();
  EXPECT_EQ(c.Canvas().Image(), before) << "undo with nothing saved, outline gone";
}

TEST_F(NavigationTest, RightDragPansUntilThePointerLeavesThePlot) {
  TChart& c = *chart_;
  TChartAxis* b = c.BottomAxis();
  TChartAxis* l = c.LeftAxis();
  const double dx = b->PixelToValue(200) - b->PixelToValue(230);
  const double dy = l->PixelToValue(150) - l->PixelToValue(170);

  QTest::mousePress(&c, Qt::RightButton, {}, {200, 150});
  EXPECT_TRUE(c.PanningRecord().Dragging);
  EXPECT_FALSE(c.ZoomRecord().Dragging);
  QTest::mouseMove(&c, {230, 150});
  ExpectRange(b, 138e6 + dx, 153e6 + dx, "dragged right: lower frequencies come in");
  ExpectRange(l, -120, 25, "no vertical movement");
  EXPECT_FALSE(c.ScalesRestored());
  Settle();
  QTest::mouseMove(&c, {230, 170});
  EXPECT_NEAR(l->Minimum(), -120 + dy, 1e-9);
  EXPECT_NEAR(l->Maximum(), 25 + dy, 1e-9);

  // Out of the plot and back in: the drag is over.
  const double b0 = b->Minimum(), l0 = l->Minimum();
  QTest::mouseMove(&c, {5, 5});
  EXPECT_FALSE(c.PanningRecord().Dragging);
  QTest::mouseMove(&c, {300, 250});
  EXPECT_EQ(b->Minimum(), b0);
  EXPECT_EQ(l->Minimum(), l0);
  QTest::mouseRelease(&c, Qt::RightButton, {}, {300, 250});
  Settle();

  c.UndoZoom();
  ExpectRange(b, 138e6, 153e6, "a pan is undone like a zoom");
  ExpectRange(l, -120, 25, "a pan is undone like a zoom");
}

TEST_F(NavigationTest, OnlySeriesAxesAndThePlotStartADrag) {
  TChart& c = *chart_;
  const TRect t = c.Title().TitleRect();
  const QPoint onTitle((t.Left + t.Right) / 2, t.Top + 2);
  EXPECT_EQ(c.CalcClickedPart(onTitle.x(), onTitle.y()), TCustomChart::cpTitle);
  for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    QTest::mousePress(&c, button, {}, onTitle);
    EXPECT_FALSE(c.ZoomRecord().Dragging);
    EXPECT_FALSE(c.PanningRecord().Dragging);
    QTest::mouseRelease(&c, button, {}, onTitle);
  }
  EXPECT_EQ(c.CalcClickedPart(3, 3), TCustomChart::cpNone) << "the margin";

  // The left axis: from its labels to 3 pixels inside its line.
  const TChartAxis* l = c.LeftAxis();
  const int y = (l->StartPixel + l->EndPixel) / 2;
  EXPECT_TRUE(c.AxisClicked(*l, l->LabelBandPos, y));
  EXPECT_TRUE(c.AxisClicked(*l, l->LinePos + 2, y));
  EXPECT_FALSE(c.AxisClicked(*l, l->LinePos + 3, y));
  EXPECT_FALSE(c.AxisClicked(*l, l->LabelBandPos - 1, y));
  EXPECT_TRUE(c.AxisClicked(*l, l->LinePos, l->StartPixel));
  EXPECT_FALSE(c.AxisClicked(*l, l->LinePos, l->EndPixel));
  // The bottom axis has its labels below the line.
  const TChartAxis* b = c.BottomAxis();
  const int x = (b->StartPixel + b->EndPixel) / 2;
  EXPECT_TRUE(c.AxisClicked(*b, x, b->LinePos - 3));
  EXPECT_FALSE(c.AxisClicked(*b, x, b->LinePos - 4));
  EXPECT_TRUE(c.AxisClicked(*b, x, b->LabelBandPos - 1));
  EXPECT_FALSE(c.AxisClicked(*b, x, b->LabelBandPos));
  EXPECT_FALSE(c.AxisClicked(*c.TopAxis(), x, c.PlotRect().Top)) << "not drawn, not hit";

  // A press on the axis labels starts a zoom; a second press meanwhile is
  // ignored.
  const QPoint onLabels(l->LabelBandPos + 1, y);
  ASSERT_EQ(c.CalcClickedPart(onLabels.x(), onLabels.y()), TCustomChart::cpAxis);
  QTest::mousePress(&c, Qt::LeftButton, {}, onLabels);
  EXPECT_TRUE(c.ZoomRecord().Dragging);
  QTest::mousePress(&c, Qt::RightButton, {}, {300, 150});
  EXPECT_FALSE(c.PanningRecord().Dragging);
  QTest::mouseRelease(&c, Qt::LeftButton, {}, onLabels);
  EXPECT_FALSE(c.ZoomRecord().Dragging);

  // The carrier's stroke is the series; the empty plot around it the plot.
  const int carrierX = b->ValueToPixel(138e6 + 2400 * 781.25);
  const int carrierY = l->ValueToPixel(-50);
  EXPECT_EQ(c.CalcClickedPart(carrierX, carrierY), TCustomChart::cpSeries);
  EXPECT_EQ(c.CalcClickedPart(carrierX + 40, carrierY), TCustomChart::cpChartRect);
  series_->SetActive(false);
  EXPECT_EQ(c.CalcClickedPart(carrierX + 40, carrierY), TCustomChart::cpNone) << "no active series";
}

TEST_F(NavigationTest, AWheelNotchMovesTheLevelsByThreePercent) {
  TChart& c = *chart_;
  const double step = (25.0 - -120.0) * 3 * 0.01;
  Wheel(-60);
  ExpectRange(c.LeftAxis(), -120, 25, "half a notch waits");
  Wheel(-60);
  ExpectRange(c.LeftAxis(), -120 + step, 25 + step, "a notch toward the user shows higher levels");
  ExpectRange(c.BottomAxis(), 138e6, 153e6, "the wheel leaves the frequencies");
  EXPECT_TRUE(c.ScalesRestored()) << "the wheel saves nothing";
  Wheel(240);
  const double back = (c.LeftAxis()->Maximum() - c.LeftAxis()->Minimum()) * 3 * 0.01;
  EXPECT_NEAR(c.LeftAxis()->Minimum(), -120 + step - 2 * back, 1e-9) << "two notches away from the user";
  EXPECT_FALSE(c.LeftAxis()->Automatic());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
