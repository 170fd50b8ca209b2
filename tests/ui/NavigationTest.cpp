// Moving and scaling the view of the trace with keys, mouse and wheel, on the
// real window fed by the simulated receiver.
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "sweep/SweepEngine.h"
#include "tests/ui/FormFixture.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

class NavigationTest : public FormTest {
 protected:
  // The window after its first sweep, with the sweep stopped so that the
  // picture holds still; no control has the focus.
  MainWindow& OpenStill() {
    MainWindow& f = Open();
    WaitForASweep(f);
    f.StopSweep();
    if (QWidget* w = QApplication::focusWidget()) w->clearFocus();
    Settle();
    return f;
  }

  static void WaitForASweep(MainWindow& f) {
    for (int i = 0; i < 200 && f.Series1->PointX(0) != 138e6; ++i) QTest::qWait(20);
    ASSERT_EQ(f.Series1->PointX(0), 138e6) << "no sweep arrived";
  }

  // Lets pending paints and publications happen, so that the layout the
  // mouse meets is current.
  static void Settle() { QApplication::processEvents(); }

  void Drag(Qt::MouseButton button, QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
    QTest::mousePress(form_->Chart1, button, mods, from);
    QTest::mouseMove(form_->Chart1, to);
    QTest::mouseRelease(form_->Chart1, button, mods, to);
    Settle();
  }

  void Key(Qt::Key key, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(form_.get(), key, mods);
    Settle();
  }

  void Wheel(int delta) {
    const QPointF at(300, 150);
    QWheelEvent e(at, form_->Chart1->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(form_->Chart1, &e);
  }

  static void ExpectRange(const wg::TChartAxis* a, double lo, double hi, const char* what) {
    EXPECT_EQ(a->Minimum(), lo) << what;
    EXPECT_EQ(a->Maximum(), hi) << what;
  }
};

TEST_F(NavigationTest, KeysScrollAndZoomWhateverModifiersAreHeld) {
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
  const wg::TChartAxis* b = c.BottomAxis();
  const wg::TChartAxis* l = c.LeftAxis();

  Key(Qt::Key_Right, Qt::ControlModifier);
  ExpectRange(b, 138750000, 153750000, "ctrl + right arrow");
  Key(Qt::Key_Left, Qt::ShiftModifier);
  ExpectRange(b, 138000000, 153000000, "shift + left arrow");
  Key(Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);
  ExpectRange(l, -112.75, 32.25, "up arrow");
  Key(Qt::Key_Down);
  ExpectRange(l, -120, 25, "down arrow");
  EXPECT_TRUE(c.ScalesRestored()) << "scrolling saves nothing";

  Key(Qt::Key_Plus, Qt::KeypadModifier);
  ExpectRange(b, 141000000, 150000000, "plus on the numeric pad keeps the middle 60 %");
  ExpectRange(l, -91, -4, "plus on the level axis");
  Key(Qt::Key_Minus);
  ExpectRange(b, 139200000, 151800000, "minus on the main keyboard adds 20 % at each end");
  Key(Qt::Key_Equal);
  EXPECT_LT(b->Maximum() - b->Minimum(), 151800000 - 139200000) << "the main keyboard's plus key zooms in";
  Key(Qt::Key_Minus, Qt::KeypadModifier);

  const wg::TCustomChart::TSavedAxisScales& s = c.SavedAxisScales();
  EXPECT_EQ(s.Bottom.Minimum, 138000000) << "saved once, at the first zoom";
  EXPECT_EQ(s.Bottom.Maximum, 153000000);
  EXPECT_FALSE(s.Bottom.Automatic);
  EXPECT_EQ(s.Left.Minimum, -120);

  c.UndoZoom();
  EXPECT_TRUE(c.ScalesRestored());
  ExpectRange(b, 138000000, 153000000, "undo");
  ExpectRange(l, -120, 25, "undo");

  // With nothing saved, an undo leaves the axes wherever they are.
  Key(Qt::Key_Right);
  c.UndoZoom();
  ExpectRange(b, 138750000, 153750000, "undo with nothing saved");
}

TEST_F(NavigationTest, CentredZoomTakesAnAutomaticAxisAtItsSeriesRange) {
  MainWindow& f = OpenStill();
  wg::TChartAxis* l = f.Chart1->LeftAxis();
  l->SetAutomatic(true);
  double lo = f.Series1->PointY(0), hi = lo;
  for (int i = 1; i < f.Series1->PointCount(); ++i) {
    lo = std::min(lo, f.Series1->PointY(i));
    hi = std::max(hi, f.Series1->PointY(i));
  }
  ASSERT_LT(lo, hi);
  f.Chart1->ZoomCentred(120);
  // The axis itself still held -120 .. 25: the series' span counts.
  const double d = (hi - lo) * 0.2;
  EXPECT_DOUBLE_EQ(l->Minimum(), lo + d);
  EXPECT_DOUBLE_EQ(l->Maximum(), hi - d);
  EXPECT_TRUE(f.Chart1->SavedAxisScales().Left.Automatic);
  EXPECT_FALSE(l->Automatic());
  f.Chart1->UndoZoom();
  EXPECT_TRUE(l->Automatic()) << "an automatic axis comes back automatic";
}

TEST_F(NavigationTest, LeftDragZoomsOnlyPastSixteenPixelsAndUpLeftUndoes) {
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
  const wg::TChartAxis* b = c.BottomAxis();
  const wg::TChartAxis* l = c.LeftAxis();
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
  Drag(Qt::LeftButton, {100, 100}, {200, 200});
  Drag(Qt::LeftButton, {100, 200}, {200, 100});
  ExpectRange(b, 138e6, 153e6, "right and up");
}

TEST_F(NavigationTest, UndoBringsBackTheViewOfTheFirstZoom) {
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
  const wg::TChartAxis* b = c.BottomAxis();
  const wg::TChartAxis* l = c.LeftAxis();
  Drag(Qt::LeftButton, {120, 80}, {300, 220});
  ASSERT_FALSE(c.ScalesRestored());
  Key(Qt::Key_Right);
  Key(Qt::Key_Up);
  Drag(Qt::LeftButton, {300, 220}, {150, 100});
  ExpectRange(l, -120, 25, "levels from before the zoom");
  ExpectRange(b, 138e6, 153e6, "frequencies from before the zoom");

  // A new scan range puts the bottom axis on it directly; an undo still
  // returns to the range at the time of the zoom.
  Drag(Qt::LeftButton, {120, 80}, {300, 220});
  f.StartFreqEdit->SetValue(140);
  ExpectRange(b, 140e6, 153e6, "the new scan range");
  c.UndoZoom();
  ExpectRange(b, 138e6, 153e6, "the range saved at the zoom");
}

TEST_F(NavigationTest, TheOutlineFollowsTheDragAndLeavesNoTrace) {
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
  const QImage before = c.Canvas().Image().copy();
  QTest::mousePress(&c, Qt::LeftButton, {}, {250, 200});
  QTest::mouseMove(&c, {150, 120});
  Settle();
  ASSERT_TRUE(c.ZoomRecord().Dragging);
  const QImage during = c.Canvas().Image();
  // Drawn up and to the left, the outline runs from (150, 120) to
  // (249, 199): its top row and left column are inverted, the pixel just
  // outside is not.
  int inverted = 0;
  for (int x = 160; x < 240; ++x) inverted += (during.pixel(x, 120) ^ before.pixel(x, 120)) & 0xFFFFFF ? 1 : 0;
  EXPECT_EQ(inverted, 80) << "top edge";
  EXPECT_NE(during.pixel(150, 160) & 0xFFFFFF, before.pixel(150, 160) & 0xFFFFFF) << "left edge";
  EXPECT_EQ(during.pixel(149, 160) & 0xFFFFFF, before.pixel(149, 160) & 0xFFFFFF);

  QTest::mouseRelease(&c, Qt::LeftButton, {}, {150, 120});
  Settle();
  EXPECT_EQ(c.Canvas().Image(), before) << "an undo with nothing saved, and the outline gone";
}

TEST_F(NavigationTest, RightDragPansUntilThePointerLeavesThePlot) {
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
  wg::TChartAxis* b = c.BottomAxis();
  wg::TChartAxis* l = c.LeftAxis();
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
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
  using C = wg::TCustomChart;
  const wg::TRect t = c.Title().TitleRect();
  const QPoint onTitle((t.Left + t.Right) / 2, t.Top + 2);
  EXPECT_EQ(c.CalcClickedPart(onTitle.x(), onTitle.y()), C::cpTitle);
  for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    QTest::mousePress(&c, button, {}, onTitle);
    EXPECT_FALSE(c.ZoomRecord().Dragging);
    EXPECT_FALSE(c.PanningRecord().Dragging);
    QTest::mouseRelease(&c, button, {}, onTitle);
  }
  EXPECT_EQ(c.CalcClickedPart(c.width() - 3, 150), C::cpNone) << "the margin";

  // The left axis: from its labels to 3 pixels inside its line.
  wg::TChartAxis* l = c.LeftAxis();
  const int y = (l->StartPixel + l->EndPixel) / 2;
  EXPECT_TRUE(c.AxisClicked(*l, l->LabelBandPos, y));
  EXPECT_TRUE(c.AxisClicked(*l, l->LinePos + 2, y));
  EXPECT_FALSE(c.AxisClicked(*l, l->LinePos + 3, y));
  EXPECT_FALSE(c.AxisClicked(*l, l->LabelBandPos - 1, y));
  EXPECT_TRUE(c.AxisClicked(*l, l->LinePos, l->StartPixel));
  EXPECT_FALSE(c.AxisClicked(*l, l->LinePos, l->EndPixel));
  // The bottom axis has its labels below the line.
  wg::TChartAxis* b = c.BottomAxis();
  const int x = (b->StartPixel + b->EndPixel) / 2;
  EXPECT_TRUE(c.AxisClicked(*b, x, b->LinePos - 3));
  EXPECT_FALSE(c.AxisClicked(*b, x, b->LinePos - 4));
  EXPECT_TRUE(c.AxisClicked(*b, x, b->LabelBandPos - 1));
  EXPECT_FALSE(c.AxisClicked(*b, x, b->LabelBandPos));
  EXPECT_FALSE(c.AxisClicked(*c.TopAxis(), x, c.PlotRect().Top)) << "not drawn, not hit";

  // A press on the axis labels starts a zoom; a second press meanwhile is
  // ignored.
  const QPoint onLabels(l->LabelBandPos + 1, y);
  C::TClickedPart where;
  ASSERT_EQ(c.CalcClickedPart(onLabels.x(), onLabels.y(), &where), C::cpAxis);
  EXPECT_EQ(where.AAxis, l);
  QTest::mousePress(&c, Qt::LeftButton, {}, onLabels);
  EXPECT_TRUE(c.ZoomRecord().Dragging);
  QTest::mousePress(&c, Qt::RightButton, {}, {300, 150});
  EXPECT_FALSE(c.PanningRecord().Dragging);
  QTest::mouseRelease(&c, Qt::LeftButton, {}, onLabels);
  EXPECT_FALSE(c.ZoomRecord().Dragging);

  // A point of the trace is the series; far above the trace is the plot.
  const int i = 9600;
  const int px = b->ValueToPixel(f.Series1->PointX(i)), py = l->ValueToPixel(f.Series1->PointY(i));
  ASSERT_EQ(c.CalcClickedPart(px, py, &where), C::cpSeries);
  EXPECT_EQ(where.ASeries, f.Series1);
  EXPECT_NEAR(where.PointIndex, i, 40);
  EXPECT_EQ(c.CalcClickedPart(px, l->ValueToPixel(20)), C::cpChartRect);
  f.Series1->SetActive(false);
  EXPECT_EQ(c.CalcClickedPart(px, l->ValueToPixel(20)), C::cpNone) << "no active series";
}

TEST_F(NavigationTest, NotificationsAreLeftUnassignedAndCanBeHeard) {
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
  EXPECT_FALSE(c.OnZoom || c.OnUndoZoom || c.OnScroll || c.OnAllowScroll || c.OnClickAxis || c.OnClickSeries ||
               c.OnClickLegend || c.OnClickBackground);

  int zooms = 0, undos = 0, scrolls = 0, backgrounds = 0;
  Qt::KeyboardModifiers held;
  c.OnZoom = [&](wg::TCustomChart&) { ++zooms; };
  c.OnUndoZoom = [&](wg::TCustomChart&) { ++undos; };
  c.OnScroll = [&](wg::TCustomChart&) { ++scrolls; };
  c.OnClickBackground = [&](wg::TCustomChart&, Qt::MouseButton, Qt::KeyboardModifiers shift, int, int) {
    ++backgrounds;
    held = shift;
  };
  // Panning may be refused axis by axis: here the frequencies stay put.
  c.OnAllowScroll = [&](wg::TChartAxis& axis, double&, double&, bool& allow) {
    allow = axis.IsHorizontal() ? false : allow;
  };
  const double y0 = c.LeftAxis()->PixelToValue(60);
  QTest::mousePress(&c, Qt::RightButton, Qt::ShiftModifier, {200, 60});
  QTest::mouseMove(&c, {230, 90});
  QTest::mouseRelease(&c, Qt::RightButton, Qt::ShiftModifier, {230, 90});
  EXPECT_EQ(backgrounds, 1);
  EXPECT_EQ(held, Qt::ShiftModifier);
  EXPECT_EQ(scrolls, 1);
  ExpectRange(c.BottomAxis(), 138e6, 153e6, "refused");
  EXPECT_NEAR(c.LeftAxis()->Minimum(), -120 + y0 - c.LeftAxis()->PixelToValue(90), 1e-9) << "allowed";

  Drag(Qt::LeftButton, {100, 100}, {200, 200});
  EXPECT_EQ(zooms, 1);
  Drag(Qt::LeftButton, {200, 200}, {100, 100});
  EXPECT_EQ(undos, 1);
  ExpectRange(c.LeftAxis(), -120, 25, "the pan and the zoom undone together");
}

TEST_F(NavigationTest, AWheelNotchMovesTheLevelsByThreePercent) {
  MainWindow& f = OpenStill();
  wg::TChart& c = *f.Chart1;
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

// Sweeps keep arriving while the user navigates; neither disturbs the other.
TEST_F(NavigationTest, NavigationDuringLiveSweepingLeavesTheSweepAlone) {
  MainWindow& f = Open();
  WaitForASweep(f);
  if (QWidget* w = QApplication::focusWidget()) w->clearFocus();
  wg::TChart& c = *f.Chart1;
  int draws = 0;
  f.Series1->AfterDrawValues = [&](wg::TChartSeries&) { ++draws; };
  const auto sweepUntouched = [&](const char* after) {
    EXPECT_EQ(f.Sweep().StartFrequency(), 138000000) << after;
    EXPECT_EQ(f.Sweep().StopFrequency(), 153000000) << after;
    EXPECT_EQ(f.Series1->PointCount(), 19200) << after;
    EXPECT_TRUE(f.Sweep().Running()) << after;
  };
  const auto someSweeps = [&] {
    const double y = f.Series1->PointY(100);
    for (int i = 0; i < 200 && f.Series1->PointY(100) == y; ++i) QTest::qWait(20);
    const int seen = draws;
    for (int i = 0; i < 200 && draws == seen; ++i) QTest::qWait(20);
  };

  for (Qt::Key k : {Qt::Key_Plus, Qt::Key_Minus}) Key(k);
  c.UndoZoom();
  for (Qt::Key k : {Qt::Key_Right, Qt::Key_Up, Qt::Key_Left, Qt::Key_Down}) Key(k);
  sweepUntouched("keys");

  // The zoom outline outlives the redraws that finished sweeps cause.
  QTest::mousePress(&c, Qt::LeftButton, {}, {120, 60});
  QTest::mouseMove(&c, {300, 220});
  someSweeps();
  someSweeps();
  const QImage& image = c.Canvas().Image();
  int dark = 0;
  for (int x = 130; x < 290; ++x) dark += (image.pixel(x, 60) & 0xFFFFFF) == 0 ? 1 : 0;
  EXPECT_GT(dark, 150) << "the outline's top edge, black over the white plot";
  QTest::mouseRelease(&c, Qt::LeftButton, {}, {300, 220});
  someSweeps();
  sweepUntouched("zoom");

  QTest::mousePress(&c, Qt::RightButton, {}, {200, 150});
  QTest::mouseMove(&c, {260, 120});
  someSweeps();
  QTest::mouseRelease(&c, Qt::RightButton, {}, {260, 120});
  Wheel(-120);
  Drag(Qt::LeftButton, {300, 220}, {100, 100});
  someSweeps();
  sweepUntouched("panning, wheel and undo");
  ExpectRange(c.BottomAxis(), 138e6, 153e6, "undone");
  EXPECT_EQ(f.Series1->PointX(0), 138e6);
}

}  // namespace
