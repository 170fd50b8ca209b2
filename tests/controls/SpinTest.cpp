#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

#include "controls/Spin.h"
#include "tests/controls/ControlsTestUtil.h"

using wg::TSpinButton;
using wg::TTimerSpeedButton;
using namespace wgtest;

namespace {

// Plays the expiries of a held button's repeat timer that fall due up to
// untilMs after the press, as the event loop would; returns their times.
std::vector<int> PlayRepeatTimer(TTimerSpeedButton* b, int untilMs) {
  std::vector<int> at;
  for (int t = 0; b->RepeatTimer()->isActive() && t + b->RepeatTimer()->interval() <= untilMs;) {
    t += b->RepeatTimer()->interval();
    at.push_back(t);
    b->RepeatTimerExpired();
  }
  return at;
}

struct SpinHost : Window {
  TSpinButton* spin = new TSpinButton(&w);
  TTimerSpeedButton* up = spin->UpButton();
  TTimerSpeedButton* down = spin->DownButton();
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
  // Presses a half and takes its timer off the event loop, so that only
  // PlayRepeatTimer makes it expire.
  void PressHeld(TTimerSpeedButton* half, Qt::MouseButton b = Qt::LeftButton) {
    Press(half, {5, 4}, b);
    half->RepeatTimer()->blockSignals(true);
  }
};

std::vector<int> BlackColumns(const QImage& img, int y) {
  std::vector<int> xs;
  for (int x = 0; x < img.width(); ++x)
    if (img.pixelColor(x, y) == Qt::black) xs.push_back(x);
  return xs;
}

}  // namespace

TEST(SpinButton, LayoutKeepsWidthFifteenAndHalvesShareOneRow) {
  TSpinButton spin;
  EXPECT_EQ(spin.size(), QSize(20, 25));
  spin.SetBounds(0, 0, 10, 25);
  EXPECT_EQ(spin.width(), 15);
  EXPECT_EQ(spin.UpButton()->geometry(), QRect(0, 0, 15, 12));
  EXPECT_EQ(spin.DownButton()->geometry(), QRect(0, 11, 15, 14));
  spin.resize(4, 25);
  EXPECT_EQ(spin.width(), 15);
  spin.SetBounds(0, 0, 15, 16);  // the editor's pair
  EXPECT_EQ(spin.UpButton()->geometry(), QRect(0, 0, 15, 8));
  EXPECT_EQ(spin.DownButton()->geometry(), QRect(0, 7, 15, 9));
}

TEST(SpinButton, GlyphsAreTrianglesOnOliveAndOliveIsTransparent) {
  const QImage up = TSpinButton::DefaultUpGlyph(), down = TSpinButton::DefaultDownGlyph();
  ASSERT_EQ(up.size(), QSize(9, 6));
  ASSERT_EQ(down.size(), QSize(9, 6));
  const std::vector<std::vector<int>> rows = {{}, {4}, {3, 4, 5}, {2, 3, 4, 5, 6},
                                              {1, 2, 3, 4, 5, 6, 7}, {}};
  for (int y = 0; y < 6; ++y) {
    EXPECT_EQ(BlackColumns(up, y), rows[y]) << y;
    EXPECT_EQ(BlackColumns(down, y), rows[5 - y]) << y;
  }
  EXPECT_EQ(up.pixelColor(0, 5), QColor(128, 128, 0));

  // Olive is see-through on the face.
  Window win;
  TTimerSpeedButton b(&win.w);
  b.resize(15, 12);
  b.show();
  b.SetGlyph(up);  // drawn at (3, 4)
  const QImage img = b.grab().toImage();
  EXPECT_EQ(img.pixelColor(7, 5), Qt::black);
  EXPECT_NE(img.pixelColor(7, 4), QColor(128, 128, 0));
}

TEST(SpinButtonRepeat, HoldGivesTimedStepsThenOneOnReleaseInside) {
  SpinHost h;
  h.PressHeld(h.up);
  EXPECT_TRUE(h.up->Pressed() && h.up->HasMouseCapture());
  EXPECT_EQ(h.ups, 0);
  // A little over one second: steps at 400, 500, ... 1000 ms.
  EXPECT_EQ(PlayRepeatTimer(h.up, 1050), (std::vector<int>{400, 500, 600, 700, 800, 900, 1000}));
  EXPECT_EQ(h.ups, 7);
  Release(h.up);
  EXPECT_EQ(h.ups, 8);
  EXPECT_FALSE(h.up->RepeatTimer()->isActive());

  Press(h.up);  // the next hold starts over at 400 ms
  EXPECT_EQ(h.up->RepeatTimer()->interval(), 400);
  Release(h.up, {5, h.up->height()});  // the bottom edge counts as inside
  EXPECT_EQ(h.ups, 9);
  EXPECT_EQ(h.downs, 0);
}

TEST(SpinButtonRepeat, LeavingSuspendsAndReleaseOutsideGivesNoStep) {
  SpinHost h;
  h.PressHeld(h.up);
  PlayRepeatTimer(h.up, 450);
  Move(h.up, {5, -3});
  EXPECT_FALSE(h.up->Pressed());
  h.up->RepeatTimerExpired();
  EXPECT_EQ(h.ups, 1);
  Move(h.up, {5, 4});
  h.up->RepeatTimerExpired();
  EXPECT_EQ(h.ups, 2);
  Release(h.up, {h.up->width(), 4});
  EXPECT_EQ(h.ups, 2);
  EXPECT_FALSE(h.up->RepeatTimer()->isActive());
}

TEST(SpinButtonRepeat, RightButtonNeverRepeatsAndALostMouseEndsTheHold) {
  SpinHost h;
  h.PressHeld(h.down, Qt::RightButton);
  EXPECT_TRUE(h.down->RepeatTimer()->isActive());
  PlayRepeatTimer(h.down, 2000);
  Release(h.down, {5, 4}, Qt::RightButton);
  EXPECT_EQ(h.downs, 0);
  EXPECT_FALSE(h.down->RepeatTimer()->isActive());

  // A release that never comes must not leave the button stepping.
  h.PressHeld(h.up);
  h.spin->setEnabled(false);
  h.spin->setEnabled(true);
  EXPECT_FALSE(h.up->RepeatTimer()->isActive());
  h.up->RepeatTimerExpired();
  Release(h.up);
  EXPECT_EQ(h.ups, 0);
}

TEST(SpinButtonRepeat, FailingClickStopsTheRepeatBeforeItPropagates) {
  g_sunk.clear();
  wg::SetExceptionSink(&Sink);
  SpinHost h;
  h.spin->OnUpClick = [&](QObject*) {
    ++h.ups;
    throw std::runtime_error("boom");
  };
  h.PressHeld(h.up);
  EXPECT_THROW(h.up->RepeatTimerExpired(), std::runtime_error);
  EXPECT_FALSE(h.up->RepeatTimer()->isActive());
  Release(h.up, {50, 50});

  // Through the event loop: one step, one report, no more steps.
  h.up->RepeatTimer()->blockSignals(false);
  h.ups = 0;
  Press(h.up);
  EXPECT_TRUE(WaitFor([&] { return g_sunk.size() == 1; }));
  EXPECT_FALSE(h.up->RepeatTimer()->isActive());
  EXPECT_EQ(h.ups, 1);
  Release(h.up, {50, 50});
  wg::SetExceptionSink(nullptr);
}

TEST(SpinButtonFocus, FocusControlKeepsOrTakesTheFocus) {
  SpinHost h;
  auto* other = new QLineEdit(&h.w);
  auto* target = new QLineEdit(&h.w);
  other->setGeometry(100, 0, 80, 20);
  target->setGeometry(100, 40, 80, 20);
  other->show();
  target->show();
  h.spin->SetFocusControl(target);

  target->setText("12345");
  target->setFocus();
  target->setSelection(1, 2);
  QTest::mouseClick(h.up, Qt::LeftButton, {}, {5, 4});
  EXPECT_TRUE(target->hasFocus());
  EXPECT_EQ(target->selectedText(), "23");

  other->setFocus();
  Click(h.down);
  EXPECT_TRUE(target->hasFocus());

  other->setFocus();
  delete target;
  EXPECT_EQ(h.spin->FocusControl(), nullptr);
  Click(h.up);
  EXPECT_TRUE(other->hasFocus());
  EXPECT_EQ(h.ups, 2);
}

TEST(SpinButtonFocus, TabStopSpinButtonTakesKeysAndShowsTheFocusMark) {
  SpinHost h;
  auto mark = [](TTimerSpeedButton* b) {
    return (b->RepeatState() & TTimerSpeedButton::ShowFocusRect) != 0;
  };
  h.spin->FocusButton(h.down);  // not a tab stop: the mark stays
  EXPECT_EQ(h.spin->FocusedButton(), h.up);
  h.spin->SetTabStop(true);
  Click(h.down);
  EXPECT_TRUE(h.spin->hasFocus());
  EXPECT_TRUE(mark(h.down) && !mark(h.up));
  QTest::keyClick(h.spin, Qt::Key_Space);
  QTest::keyClick(h.spin, Qt::Key_Up);
  EXPECT_EQ(h.downs, 2);
  EXPECT_EQ(h.ups, 1);
  EXPECT_TRUE(mark(h.up) && !mark(h.down));
  h.spin->clearFocus();
  EXPECT_FALSE(mark(h.up));
}
