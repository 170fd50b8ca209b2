#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "controls/SpinDouble.h"
#include "runtime/Beep.h"
#include "runtime/NumText.h"
#include "tests/controls/ControlsTestUtil.h"

using wg::TSpinEditDouble;
using namespace wgtest;

namespace {

// The window's start frequency editor: 7-point text, 65 x 19, flat border,
// steps of 0.1 between 0.1 and 3999, showing 138.
struct EditorHost : Window {
  QLineEdit* other = new QLineEdit(&w);
  TSpinEditDouble* ed = new TSpinEditDouble;
  int changes = 0;
  std::vector<QString> seen;

  EditorHost() {
    rt::SetDecimalSeparator('.');
    rt::ResetBeepCount();
    other->setGeometry(0, 60, 100, 20);
    other->show();
    ed->SetIncrement(0.1);
    ed->SetMinValue(0.1);
    ed->SetMaxValue(3999);
    QFont f = ed->font();
    f.setPointSize(7);
    ed->setFont(f);
    ed->SetCtl3D(false);
    ed->setGeometry(49, 7, 65, 19);
    ed->SetValue(138);
    ed->OnChange = [this](QObject* sender) {
      EXPECT_EQ(sender, ed);
      ++changes;
      seen.push_back(ed->text());
    };
    ed->setParent(&w);
    ed->show();
  }
};

}  // namespace

// One row per write of Value: the limits, the value written, the text shown.
struct ClampRow {
  const char* name;
  double min, max, written;
  const char* shown;
};
const ClampRow kClampRows[] = {
    {"equal limits: no limit", 0, 0, -7.5, "-7.5"},
    {"above the maximum", 0.1, 3999, 5000, "3999"},
    {"below the minimum", 0.1, 3999, 0.05, "0.1"},
    {"within: no decimal part", 0.1, 3999, 138, "138"},
    {"huge", 0.1, 3999, 1e300, "3999"},
    {"huge negative", 0.1, 3999, -1e300, "0.1"},
    {"infinite", 0.2, 4000, HUGE_VAL, "4000"},
    {"negative infinite", 0.2, 4000, -HUGE_VAL, "0.2"},
    {"at the maximum", 0.2, 4000, 4000, "4000"},
};

TEST(SpinEditValue, WritesClampToTheShortestForm) {
  for (const ClampRow& row : kClampRows) {
    TSpinEditDouble ed;
    ed.SetMinValue(row.min);
    ed.SetMaxValue(row.max);
    ed.SetValue(row.written);
    EXPECT_EQ(ed.text(), row.shown) << row.name;
  }
}

TEST(SpinEditValue, BadTextReadsAsMinValueAndReadingNeverClamps) {
  TSpinEditDouble ed;
  ed.SetMinValue(0.1);
  ed.SetMaxValue(3999);
  for (const char* t : {"", "-", "1.2.3", "12a", "88,6", "1e"}) {
    ed.setText(t);
    EXPECT_EQ(ed.Value(), 0.1) << '"' << t << '"';
    EXPECT_EQ(ed.text(), t);
  }
  ed.setText("5000");
  EXPECT_EQ(ed.Value(), 5000.0);
  rt::SetDecimalSeparator(',');
  ed.setText("88,6");
  EXPECT_EQ(ed.Value(), 88.6);
  rt::SetDecimalSeparator('.');
}

TEST(SpinEditStep, ArrowKeysAndButtonsStepFromTheTextAndReadOnlyBeeps) {
  EditorHost h;
  h.ed->SetValue(88.5);
  h.changes = 0;
  QTest::keyClick(h.ed, Qt::Key_Up);
  EXPECT_EQ(h.ed->text(), "88.6");
  EXPECT_EQ(h.changes, 1);
  Click(h.ed->Button()->DownButton());
  Click(h.ed->Button()->DownButton());
  EXPECT_EQ(h.ed->text(), "88.4");
  EXPECT_EQ(h.changes, 3);

  h.ed->SetValue(3999);
  h.changes = 0;
  QTest::keyClick(h.ed, Qt::Key_Up);
  EXPECT_EQ(h.ed->text(), "3999");
  EXPECT_EQ(h.changes, 0);

  // Each step reads the text back, so that rounding errors do not add up.
  h.ed->SetValue(138);
  h.seen.clear();
  for (int i = 0; i < 10; ++i) h.ed->StepUp();
  EXPECT_EQ(h.seen, (std::vector<QString>{"138.1", "138.2", "138.3", "138.4", "138.5", "138.6",
                                          "138.7", "138.8", "138.9", "139"}));

  h.ed->SetReadOnly(true);
  Click(h.ed->Button()->DownButton());
  QTest::keyClick(h.ed, Qt::Key_Down);
  EXPECT_EQ(rt::BeepCount(), 2);
  EXPECT_EQ(h.ed->text(), "139");
}

TEST(SpinEditTyping, RefusedCharactersBeepAndAreDropped) {
  EditorHost h;
  h.ed->setText("");
  QTest::keyClicks(h.ed, "12a");
  EXPECT_EQ(h.ed->text(), "12");
  EXPECT_EQ(rt::BeepCount(), 1);
  QTest::keyClicks(h.ed, ",");
  QTest::keyClick(h.ed, Qt::Key_Return);
  EXPECT_EQ(rt::BeepCount(), 3);
  QTest::keyClicks(h.ed, "-+.5");
  QTest::keyClick(h.ed, Qt::Key_Backspace);
  EXPECT_EQ(h.ed->text(), "12-+.");
  QInputMethodEvent ime;  // input methods go through the same filter
  ime.setCommitString("1x");
  QApplication::sendEvent(h.ed, &ime);
  EXPECT_EQ(h.ed->text(), "12-+.1");
  EXPECT_EQ(rt::BeepCount(), 4);

  // Editor disabled: nothing typed or erased, the buttons still step.
  h.ed->SetValue(138);
  h.ed->SetEditorEnabled(false);
  QTest::keyClicks(h.ed, "5");
  QTest::keyClick(h.ed, Qt::Key_Backspace);
  EXPECT_EQ(rt::BeepCount(), 6);
  h.ed->home(false);
  QTest::keyClick(h.ed, Qt::Key_Delete);
  EXPECT_EQ(h.ed->text(), "138");
  QTest::keyClick(h.ed, Qt::Key_Up);
  EXPECT_EQ(h.ed->text(), "138.1");
}

TEST(SpinEditTyping, PasteAndCutOnlyWhenEditableAndUnfiltered) {
  EditorHost h;
  QClipboard* cb = QGuiApplication::clipboard();
  cb->setText("x9");
  h.ed->selectAll();
  QTest::keyClick(h.ed, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(h.ed->text(), "x9");
  EXPECT_EQ(rt::BeepCount(), 0);

  for (bool editorEnabled : {false, true}) {
    h.ed->setText("138");
    h.ed->SetEditorEnabled(editorEnabled);
    h.ed->SetReadOnly(editorEnabled);
    h.ed->selectAll();
    QTest::keyClick(h.ed, Qt::Key_X, Qt::ControlModifier);
    h.ed->Paste();
    EXPECT_EQ(h.ed->text(), "138");
    EXPECT_EQ(cb->text(), "x9");  // a refused cut copies nothing either
    std::unique_ptr<QMenu> menu(h.ed->CreateContextMenu());
    EXPECT_FALSE(menu->findChild<QAction*>("edit-paste")->isEnabled());
  }
  h.ed->SetReadOnly(false);
  h.ed->Cut();
  EXPECT_EQ(h.ed->text(), "");
  EXPECT_EQ(cb->text(), "138");
}

TEST(SpinEditFocus, LeavingClampsNumbersAndLeavesOtherTextAlone) {
  EditorHost h;
  auto leaveWith = [&](const char* typed) {
    h.ed->setFocus();
    h.ed->setText(typed);
    h.changes = 0;
    h.other->setFocus();
    return h.ed->text();
  };
  EXPECT_EQ(leaveWith("5000"), "3999");
  EXPECT_EQ(h.changes, 1);
  EXPECT_EQ(leaveWith(""), "");
  EXPECT_EQ(h.changes, 0);
  EXPECT_EQ(leaveWith("12.50"), "12.50");
  EXPECT_EQ(leaveWith("0.01"), "0.1");
}

TEST(SpinEditTyping, TypingIsToldApartFromStepsAndWritesAndDoneIsRaised) {
  EditorHost h;
  std::vector<bool> typing;
  int done = 0;
  QString doneText;
  h.ed->OnChange = [&](QObject*) { typing.push_back(h.ed->Typing()); };
  h.ed->OnEditingDone = [&](QObject*) {
    ++done;
    doneText = h.ed->text();
  };
  h.ed->setFocus();
  h.ed->selectAll();
  QTest::keyClicks(h.ed, "12");
  QTest::keyClick(h.ed, Qt::Key_Backspace);
  QGuiApplication::clipboard()->setText("7");
  h.ed->Paste();
  QTest::keyClick(h.ed, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(typing, std::vector<bool>(5, true));
  typing.clear();
  QTest::keyClick(h.ed, Qt::Key_Up);
  Click(h.ed->Button()->UpButton());
  h.ed->SetValue(150);
  EXPECT_EQ(typing, std::vector<bool>(3, false));
  EXPECT_FALSE(h.ed->Typing());

  EXPECT_EQ(done, 0);
  QTest::keyClick(h.ed, Qt::Key_Return);
  EXPECT_EQ(done, 1);
  h.ed->setText("5000");
  h.other->setFocus();
  EXPECT_EQ(done, 2);
  EXPECT_EQ(doneText, "3999") << "the clamp comes before the editor says it is done";
}

TEST(SpinEditFocus, EnteringSelectsAllUnlessByALeftPressInTheText) {
  EditorHost h;
  h.other->setFocus();
  QTest::keyClick(h.other, Qt::Key_Tab);
  ASSERT_TRUE(h.ed->hasFocus());
  EXPECT_EQ(h.ed->selectedText(), "138");

  h.other->setFocus();
  QTest::mouseClick(h.ed, Qt::LeftButton, {}, {10, 9});
  QApplication::processEvents();
  EXPECT_TRUE(h.ed->hasFocus());
  EXPECT_EQ(h.ed->selectedText(), "");

  // A press on the buttons brings the focus and selects the text.
  h.other->setFocus();
  QTest::mousePress(h.ed->Button()->UpButton(), Qt::LeftButton, {}, {5, 4});
  QApplication::processEvents();
  EXPECT_TRUE(h.ed->hasFocus());
  EXPECT_EQ(h.ed->selectedText(), "138");
  QTest::mouseRelease(h.ed->Button()->UpButton(), Qt::LeftButton, {}, {5, 4});
  EXPECT_EQ(h.ed->text(), "138.1");
}

TEST(SpinEditLayout, ButtonPairAndTextAreaFollowTheBorder) {
  EditorHost h;
  EXPECT_EQ(h.ed->size(), QSize(65, 19));
  EXPECT_LE(h.ed->MinimumHeight(), 19);
  wg::TSpinButton* pair = h.ed->Button();
  // Flat border: client (1, 1)..(63, 17); the pair at client (50, 1), 15 x
  // 16, clipped on the right by the border.
  EXPECT_EQ(pair->geometry(), QRect(51, 2, 15, 16));
  EXPECT_EQ(pair->mask().boundingRect(), QRect(0, 0, 13, 16));

  h.ed->setText("1234567890123456789012345");
  h.ed->repaint();  // the text control scrolls while it paints
  const int caret = h.ed->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
  EXPECT_LT(caret, pair->x());
  EXPECT_GT(caret, pair->x() - 12);

  h.ed->SetCtl3D(true);
  h.ed->resize(65, 21);
  QApplication::processEvents();
  EXPECT_EQ(pair->geometry(), QRect(47, 2, 15, 16));
  EXPECT_TRUE(pair->mask().isEmpty());

  QFont big = h.ed->font();  // a larger font raises the floor
  big.setPointSize(20);
  h.ed->setFont(big);
  QApplication::processEvents();
  EXPECT_EQ(h.ed->height(), h.ed->MinimumHeight());
  EXPECT_EQ(pair->height(), h.ed->height() - 5);
}

TEST(SpinEditErrors, OnChangeExceptionsReachTheCallerOrTheSink) {
  g_sunk.clear();
  wg::SetExceptionSink(&Sink);
  EditorHost h;
  h.ed->OnChange = [](QObject*) { throw std::runtime_error("handler"); };
  EXPECT_THROW(h.ed->SetValue(140), std::runtime_error);
  EXPECT_EQ(h.ed->text(), "140");
  QTest::keyClick(h.ed, Qt::Key_Up);
  QTest::keyClicks(h.ed, "1");
  EXPECT_EQ(g_sunk, (std::vector<std::string>{"handler", "handler"}));

  // A held button stops repeating at the first failure.
  wg::TTimerSpeedButton* up = h.ed->Button()->UpButton();
  Press(up);
  up->RepeatTimer()->blockSignals(true);
  EXPECT_THROW(up->RepeatTimerExpired(), std::runtime_error);
  EXPECT_FALSE(up->RepeatTimer()->isActive());
  Release(up, {50, 50});
  wg::SetExceptionSink(nullptr);
}
