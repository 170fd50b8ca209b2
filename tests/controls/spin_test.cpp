#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "Spin.h"
#include "controls_test_util.h"

using wg::TSpinButton;
using wg::TTimerSpeedButton;
using namespace wgtest;

namespace {

// Plays the repeat timer's expiries that fall due up to untilMs after the
// press, the way the event loop would, and returns the expiry times.
std::vector<int> PlayRepeatTimer(TTimerSpeedButton* b, int untilMs) {
  std::vector<int> at;
  int t = 0;
  while (b->RepeatTimer()->isActive() && t + b->RepeatTimer()->interval() <= untilMs) {
    t += b->RepeatTimer()->interval();
    at.push_back(t);
    b->RepeatTimerExpired();
  }
  return at;
}

struct SpinHost : Window {
  TSpinButton* spin = new TSpinButton(&w);
  int ups = 0, downs = 0;
  SpinHost() {
    spin->SetBounds(10, 10, 15, 24);
    spin->show();
    spin->OnUpClick = [this](QObject* sender) {
      EXPECT_EQ(sender, spin);
      ++ups;
    };
    spin->OnDownClick = [this](QObject*) { ++downs; };
  }
  // Presses a half and takes its repeat timer off the event loop, so that
  // only PlayRepeatTimer makes it expire.
  void PressHeld(TTimerSpeedButton* half, Qt::MouseButton b = Qt::LeftButton) {
    Press(half, {5, 4}, b);
    ASSERT_NE(half->RepeatTimer(), nullptr);
    half->RepeatTimer()->blockSignals(true);
  }
};

std::vector<int> Row(const QImage& img, int y) {
  std::vector<int> black;
  for (int x = 0; x < img.width(); ++x)
    if (img.pixelColor(x, y) == QColor(0, 0, 0)) black.push_back(x);
  return black;
}

}  // namespace

TEST(SpinButtonLayout, WidthAtLeastFifteenAndHalvesShareOneRow) {
  TSpinButton spin;
  EXPECT_EQ(spin.size(), QSize(20, 25));
  EXPECT_EQ(spin.FocusedButton(), spin.UpButton());

  spin.SetBounds(0, 0, 10, 25);
  EXPECT_EQ(spin.width(), 15);
  EXPECT_EQ(spin.UpButton()->geometry(), QRect(0, 0, 15, 12));
  EXPECT_EQ(spin.DownButton()->geometry(), QRect(0, 11, 15, 14));

  spin.resize(4, 25);  // a plain resize obeys the rule as well
  EXPECT_EQ(spin.width(), 15);

  // The editor's pair: 15 x 16.
  spin.SetBounds(0, 0, 15, 16);
  EXPECT_EQ(spin.UpButton()->geometry(), QRect(0, 0, 15, 8));
  EXPECT_EQ(spin.DownButton()->geometry(), QRect(0, 7, 15, 9));

  // Resizing a shown spin button lays the halves out again.
  Window win;
  auto* shown = new TSpinButton(&win.w);
  shown->show();
  shown->resize(30, 41);
  QApplication::processEvents();
  EXPECT_EQ(shown->UpButton()->geometry(), QRect(0, 0, 30, 20));
  EXPECT_EQ(shown->DownButton()->geometry(), QRect(0, 19, 30, 22));
}

TEST(SpinButtonGlyphs, TrianglesOnTransparentOlive) {
  const QImage up = TSpinButton::DefaultUpGlyph();
  const QImage down = TSpinButton::DefaultDownGlyph();
  ASSERT_EQ(up.size(), QSize(9, 6));
  ASSERT_EQ(down.size(), QSize(9, 6));
  const std::vector<std::vector<int>> upRows = {
      {}, {4}, {3, 4, 5}, {2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6, 7}, {}};
  for (int y = 0; y < 6; ++y) {
    EXPECT_EQ(Row(up, y), upRows[y]) << "row " << y;
    EXPECT_EQ(Row(down, y), upRows[5 - y]) << "row " << y;
  }
  EXPECT_EQ(up.pixelColor(0, 0), QColor(128, 128, 0));
  EXPECT_EQ(down.pixelColor(0, 5), QColor(128, 128, 0));

  TSpinButton spin;
  EXPECT_EQ(spin.UpGlyph(), up);
  spin.SetUpGlyph(QImage(4, 4, QImage::Format_RGB32));
  EXPECT_EQ(spin.UpGlyph().size(), QSize(4, 4));
  spin.SetUpGlyph(QImage());  // back to the built-in one
  EXPECT_EQ(spin.UpGlyph(), up);
}

TEST(SpinButtonPaint, OliveIsTransparentAndFocusMarkMovesWhenPressed) {
  Window win;
  TTimerSpeedButton b(&win.w);
  b.resize(15, 12);
  b.show();
  b.SetGlyph(TSpinButton::DefaultUpGlyph());
  QImage img = b.grab().toImage();
  const QColor face = img.pixelColor(7, 4);  // olive row above the triangle tip
  EXPECT_NE(face, QColor(128, 128, 0));
  EXPECT_EQ(img.pixelColor(7, 5), QColor(0, 0, 0));  // tip of the triangle, glyph at (3, 4)

  b.SetGlyph(QImage());
  b.SetRepeatState(TTimerSpeedButton::ShowFocusRect);
  img = b.grab().toImage();
  const QColor mark = b.palette().color(QPalette::ButtonText);
  EXPECT_EQ(img.pixelColor(3, 3), mark);
  EXPECT_EQ(img.pixelColor(11, 3), mark);
  EXPECT_NE(img.pixelColor(4, 3), mark);  // dotted
  EXPECT_EQ(img.pixelColor(3, 7), mark);

  b.setDown(true);
  img = b.grab().toImage();
  EXPECT_EQ(img.pixelColor(4, 4), mark);
  EXPECT_NE(img.pixelColor(3, 3), mark);

  b.setDown(false);
  b.SetGlyph(TSpinButton::DefaultUpGlyph());
  b.setEnabled(false);  // no disabled image in the bitmap: an embossed one is made
  img = b.grab().toImage();
  EXPECT_NE(img.pixelColor(7, 5), QColor(0, 0, 0));
}

TEST(SpinButtonRepeat, HoldOverOneSecondGivesSevenTimedStepsAndOneOnRelease) {
  SpinHost h;
  TTimerSpeedButton* up = h.spin->UpButton();
  h.PressHeld(up);
  EXPECT_TRUE(up->Pressed());
  EXPECT_TRUE(up->HasMouseCapture());
  EXPECT_EQ(up->RepeatTimer()->interval(), 400);
  EXPECT_EQ(h.ups, 0);  // a press alone does not step

  EXPECT_EQ(PlayRepeatTimer(up, 1050), (std::vector<int>{400, 500, 600, 700, 800, 900, 1000}));
  EXPECT_EQ(h.ups, 7);
  Release(up, {5, 4});
  EXPECT_EQ(h.ups, 8);
  EXPECT_FALSE(up->RepeatTimer()->isActive());
  EXPECT_FALSE(up->Pressed());

  // The next hold starts over at 400 ms; a short click gives one step.
  Press(up, {5, 4});
  EXPECT_EQ(up->RepeatTimer()->interval(), 400);
  Release(up, {5, 4});
  EXPECT_EQ(h.ups, 9);
  EXPECT_EQ(h.downs, 0);
}

TEST(SpinButtonRepeat, PointerOffTheButtonSuspendsStepsAndReleaseOffGivesNone) {
  SpinHost h;
  TTimerSpeedButton* up = h.spin->UpButton();
  h.PressHeld(up);
  PlayRepeatTimer(up, 450);
  EXPECT_EQ(h.ups, 1);

  Move(up, {5, -3});
  EXPECT_FALSE(up->Pressed());
  up->RepeatTimerExpired();
  up->RepeatTimerExpired();
  EXPECT_EQ(h.ups, 1);

  Move(up, {5, 4});
  EXPECT_TRUE(up->Pressed());
  up->RepeatTimerExpired();
  EXPECT_EQ(h.ups, 2);

  Release(up, {up->width(), 4});  // x == width is outside
  EXPECT_EQ(h.ups, 2);
  EXPECT_FALSE(up->RepeatTimer()->isActive());

  // The bottom edge itself still counts as on the button.
  Press(up, {5, 4});
  Release(up, {5, up->height()});
  EXPECT_EQ(h.ups, 3);
}

TEST(SpinButtonRepeat, RightButtonStartsTheTimerButNeverRepeats) {
  SpinHost h;
  TTimerSpeedButton* down = h.spin->DownButton();
  h.PressHeld(down, Qt::RightButton);
  EXPECT_TRUE(down->RepeatTimer()->isActive());
  EXPECT_FALSE(down->Pressed());
  PlayRepeatTimer(down, 2000);
  Release(down, {5, 4}, Qt::RightButton);
  EXPECT_EQ(h.downs, 0);
  EXPECT_FALSE(down->RepeatTimer()->isActive());
}

TEST(SpinButtonRepeat, WindowLosingTheMouseEndsTheHold) {
  SpinHost h;
  TTimerSpeedButton* up = h.spin->UpButton();
  h.PressHeld(up);
  h.spin->setEnabled(false);
  EXPECT_FALSE(up->HasMouseCapture());
  EXPECT_FALSE(up->RepeatTimer()->isActive());
  h.spin->setEnabled(true);
  up->RepeatTimerExpired();
  Release(up, {5, 4});
  EXPECT_EQ(h.ups, 0);
}

TEST(SpinButtonRepeat, RealTimerKeepsStepping) {
  SpinHost h;
  TTimerSpeedButton* up = h.spin->UpButton();
  Press(up, {5, 4});
  EXPECT_TRUE(WaitFor([&] { return h.ups >= 3; }));
  EXPECT_EQ(up->RepeatTimer()->interval(), 100);
  Release(up, {5, 4});
  const int after = h.ups;
  QTest::qWait(250);
  EXPECT_EQ(h.ups, after);
}

namespace {
std::vector<std::string> g_sunk;
void Sink(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    g_sunk.push_back(x.what());
  }
}
}  // namespace

TEST(SpinButtonRepeat, FailingClickStopsTheRepeatBeforeItPropagates) {
  g_sunk.clear();
  wg::SetExceptionSink(&Sink);
  SpinHost h;
  h.spin->OnUpClick = [&](QObject*) {
    ++h.ups;
    throw std::runtime_error("boom");
  };
  TTimerSpeedButton* up = h.spin->UpButton();
  // Called directly, the expiry passes the exception on after stopping.
  h.PressHeld(up);
  EXPECT_THROW(up->RepeatTimerExpired(), std::runtime_error);
  EXPECT_FALSE(up->RepeatTimer()->isActive());
  EXPECT_EQ(h.ups, 1);
  // A failing click on release stops the timer too, and the exception ends
  // in the sink instead of unwinding through the toolkit.
  up->RepeatTimer()->start();
  Release(up, {5, 4});
  EXPECT_FALSE(up->RepeatTimer()->isActive());
  EXPECT_EQ(h.ups, 2);
  EXPECT_EQ(g_sunk, (std::vector<std::string>{"boom"}));

  // Through the event loop: stepped once, reported once, stopped.
  g_sunk.clear();
  h.ups = 0;
  up->RepeatTimer()->blockSignals(false);
  Press(up, {5, 4});
  EXPECT_TRUE(WaitFor([&] { return !g_sunk.empty(); }));
  EXPECT_FALSE(up->RepeatTimer()->isActive());
  EXPECT_EQ(h.ups, 1);
  Release(up, {50, 50});
  wg::SetExceptionSink(nullptr);
}

TEST(SpinButtonFocus, FocusControlKeepsOrTakesTheFocus) {
  Window win;
  auto* other = new QLineEdit(&win.w);
  auto* target = new QLineEdit(&win.w);
  target->move(0, 40);
  auto* spin = new TSpinButton(&win.w);
  spin->SetBounds(200, 10, 15, 24);
  spin->SetFocusControl(target);
  other->show();
  target->show();
  spin->show();

  target->setText("12345");
  target->setFocus();
  target->setSelection(1, 2);
  QTest::mousePress(spin->UpButton(), Qt::LeftButton, {}, {5, 4});
  QTest::mouseRelease(spin->UpButton(), Qt::LeftButton, {}, {5, 4});
  EXPECT_TRUE(target->hasFocus());
  EXPECT_EQ(target->selectedText(), "23");

  other->setFocus();
  QTest::mousePress(spin->DownButton(), Qt::LeftButton, {}, {5, 4});
  QTest::mouseRelease(spin->DownButton(), Qt::LeftButton, {}, {5, 4});
  EXPECT_TRUE(target->hasFocus());

  // Not a tab stop: the press leaves the focus alone.
  other->setFocus();
  target->setFocusPolicy(Qt::ClickFocus);
  Press(spin->UpButton(), {5, 4});
  Release(spin->UpButton(), {5, 4});
  EXPECT_TRUE(other->hasFocus());

  delete target;
  EXPECT_EQ(spin->FocusControl(), nullptr);
  Press(spin->UpButton(), {5, 4});
  Release(spin->UpButton(), {5, 4});
  EXPECT_TRUE(other->hasFocus());
}

TEST(SpinButtonFocus, TabStopSpinButtonTakesKeysAndShowsTheFocusMark) {
  Window win;
  auto* other = new QLineEdit(&win.w);
  other->show();
  auto* spin = new TSpinButton(&win.w);
  spin->SetBounds(200, 10, 15, 24);
  spin->show();
  int ups = 0, downs = 0;
  spin->OnUpClick = [&](QObject*) { ++ups; };
  spin->OnDownClick = [&](QObject*) { ++downs; };
  auto mark = [](TTimerSpeedButton* b) {
    return (b->RepeatState() & TTimerSpeedButton::ShowFocusRect) != 0;
  };

  other->setFocus();
  // Without TabStop the focus mark never moves.
  spin->FocusButton(spin->DownButton());
  EXPECT_EQ(spin->FocusedButton(), spin->UpButton());

  spin->SetTabStop(true);
  QTest::mousePress(spin->DownButton(), Qt::LeftButton, {}, {5, 4});
  EXPECT_TRUE(spin->hasFocus());
  EXPECT_EQ(spin->FocusedButton(), spin->DownButton());
  EXPECT_TRUE(mark(spin->DownButton()));
  EXPECT_FALSE(mark(spin->UpButton()));
  QTest::mouseRelease(spin->DownButton(), Qt::LeftButton, {}, {5, 4});
  EXPECT_EQ(downs, 1);

  QTest::keyClick(spin, Qt::Key_Space);
  EXPECT_EQ(downs, 2);
  QTest::keyClick(spin, Qt::Key_Up);
  EXPECT_EQ(ups, 1);
  EXPECT_EQ(spin->FocusedButton(), spin->UpButton());
  EXPECT_TRUE(mark(spin->UpButton()));
  EXPECT_FALSE(mark(spin->DownButton()));
  QTest::keyClick(spin, Qt::Key_Down);
  EXPECT_EQ(downs, 3);

  other->setFocus();
  EXPECT_FALSE(mark(spin->DownButton()));
  EXPECT_FALSE(mark(spin->UpButton()));
}
