#include <QAction>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "SpinDouble.h"
#include "beep.h"
#include "controls_test_util.h"
#include "numtext.h"

using wg::TSpinEditDouble;
using wg::TTimerSpeedButton;
using namespace wgtest;

namespace {

// The window's frequency editor: 7-point grey text on white, 65 x 19, flat
// border, 0.1 steps between 0.1 and 3999.
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
    ed->SetFontColor(QColor(0x80, 0x80, 0x80));
    ed->SetColor(Qt::white);
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
    QApplication::processEvents();
  }
};

std::vector<std::string> g_sunk;
void Sink(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    g_sunk.push_back(x.what());
  }
}

}  // namespace

TEST(SpinEditValue, ClampsAndWritesTheShortestForm) {
  TSpinEditDouble ed;
  EXPECT_EQ(ed.text(), "0");
  EXPECT_EQ(ed.Value(), 0.0);
  EXPECT_EQ(ed.Increment(), 1.0);

  ed.SetValue(-7.5);  // equal limits: no limit at all
  EXPECT_EQ(ed.text(), "-7.5");
  ed.SetValue(1e20);
  EXPECT_EQ(ed.text(), "1E20");

  ed.SetMinValue(0.1);
  ed.SetMaxValue(3999);
  EXPECT_EQ(ed.text(), "1E20");  // new limits wait for the next write
  ed.SetValue(5000);
  EXPECT_EQ(ed.text(), "3999");
  ed.SetValue(0.05);
  EXPECT_EQ(ed.text(), "0.1");
  ed.SetValue(138);
  EXPECT_EQ(ed.text(), "138");
  ed.SetValue(88.6);
  EXPECT_EQ(ed.text(), "88.6");
}

TEST(SpinEditValue, TextThatIsNoNumberReadsAsMinValue) {
  TSpinEditDouble ed;
  ed.SetMinValue(0.2);
  ed.SetMaxValue(4000);
  for (const char* t : {"", "-", "+", "1.2.3", "12a", "88,6", ".", "1e", "abc"}) {
    ed.setText(t);
    EXPECT_EQ(ed.Value(), 0.2) << '"' << t << '"';
    EXPECT_EQ(ed.text(), t);  // reading never touches the text
  }
  ed.setText(" 5000 ");  // reading never clamps
  EXPECT_EQ(ed.Value(), 5000.0);
  ed.setText("-3");
  EXPECT_EQ(ed.Value(), -3.0);

  // The program-wide separator decides, both ways.
  rt::SetDecimalSeparator(',');
  ed.setText("88,6");
  EXPECT_EQ(ed.Value(), 88.6);
  ed.setText("88.6");
  EXPECT_EQ(ed.Value(), 0.2);
  ed.SetValue(0.5);
  EXPECT_EQ(ed.text(), "0,5");
  EXPECT_TRUE(ed.AcceptsChar(U','));
  EXPECT_FALSE(ed.AcceptsChar(U'.'));
  rt::SetDecimalSeparator('.');
}

TEST(SpinEditStep, ArrowKeysStepAndRaiseOnChangeOnlyOnAChange) {
  EditorHost h;
  h.ed->SetValue(88.5);
  h.changes = 0;
  QTest::keyClick(h.ed, Qt::Key_Up);
  EXPECT_EQ(h.ed->text(), "88.6");
  EXPECT_EQ(h.changes, 1);
  QTest::keyClick(h.ed, Qt::Key_Down);
  QTest::keyClick(h.ed, Qt::Key_Down);
  EXPECT_EQ(h.ed->text(), "88.4");
  EXPECT_EQ(h.changes, 3);

  h.ed->SetValue(3999);
  h.changes = 0;
  QTest::keyClick(h.ed, Qt::Key_Up);
  EXPECT_EQ(h.ed->text(), "3999");
  EXPECT_EQ(h.changes, 0);

  // Held key: one step per repeated key press.
  h.ed->SetValue(10);
  for (int i = 0; i < 3; ++i) QTest::keyPress(h.ed, Qt::Key_Up, {}, -1);
  EXPECT_EQ(h.ed->text(), "10.3");
}

TEST(SpinEditStep, StepsReadBackFromTheTextSoErrorsDoNotAccumulate) {
  EditorHost h;
  h.seen.clear();
  for (int i = 0; i < 10; ++i) h.ed->StepUp();
  EXPECT_EQ(h.seen, (std::vector<QString>{"138.1", "138.2", "138.3", "138.4", "138.5", "138.6",
                                          "138.7", "138.8", "138.9", "139"}));
  TSpinEditDouble ed;
  ed.SetIncrement(0.1);
  ed.SetValue(0.1);
  ed.StepUp();
  ed.StepUp();
  EXPECT_EQ(ed.text(), "0.3");
  ed.setText("");  // empty reads as MinValue 0
  ed.StepDown();
  EXPECT_EQ(ed.text(), "-0.1");
}

TEST(SpinEditStep, SpinButtonsStepAndReadOnlyBeeps) {
  EditorHost h;
  TTimerSpeedButton* up = h.ed->Button()->UpButton();
  TTimerSpeedButton* down = h.ed->Button()->DownButton();
  Press(up, {5, 4});
  Release(up, {5, 4});
  EXPECT_EQ(h.ed->text(), "138.1");
  Press(down, {5, 4});
  Release(down, {5, 4});
  Press(down, {5, 4});
  Release(down, {5, 4});
  EXPECT_EQ(h.ed->text(), "137.9");
  EXPECT_EQ(h.changes, 3);
  EXPECT_EQ(rt::BeepCount(), 0);

  h.ed->SetReadOnly(true);
  Press(up, {5, 4});
  Release(up, {5, 4});
  EXPECT_EQ(rt::BeepCount(), 1);
  QTest::keyClick(h.ed, Qt::Key_Down);
  EXPECT_EQ(rt::BeepCount(), 2);
  EXPECT_EQ(h.ed->text(), "137.9");
  EXPECT_EQ(h.changes, 3);
}

TEST(SpinEditTyping, RefusedCharactersBeepAndAreDropped) {
  EditorHost h;
  h.ed->setFocus();
  h.ed->setText("");
  QTest::keyClicks(h.ed, "12a");
  EXPECT_EQ(h.ed->text(), "12");
  EXPECT_EQ(rt::BeepCount(), 1);
  QTest::keyClicks(h.ed, ",");
  EXPECT_EQ(rt::BeepCount(), 2);
  QTest::keyClicks(h.ed, "-+.5");
  EXPECT_EQ(h.ed->text(), "12-+.5");
  EXPECT_EQ(rt::BeepCount(), 2);
  QTest::keyClick(h.ed, Qt::Key_Return);
  QTest::keyClick(h.ed, Qt::Key_Enter);
  EXPECT_EQ(rt::BeepCount(), 4);
  QTest::keyClick(h.ed, Qt::Key_Backspace);
  EXPECT_EQ(h.ed->text(), "12-+.");
  QKeyEvent zhe(QEvent::KeyPress, static_cast<Qt::Key>(0x0416), Qt::NoModifier, QString::fromUtf8("ж"));
  QApplication::sendEvent(h.ed, &zhe);
  EXPECT_EQ(rt::BeepCount(), 5);
  EXPECT_EQ(h.ed->text(), "12-+.");

  // Input methods are filtered the same way.
  h.ed->setText("");
  QInputMethodEvent ime;
  ime.setCommitString("1x2");
  QApplication::sendEvent(h.ed, &ime);
  EXPECT_EQ(h.ed->text(), "12");
  EXPECT_EQ(rt::BeepCount(), 6);

  EXPECT_TRUE(h.ed->AcceptsChar(8));
  EXPECT_TRUE(h.ed->AcceptsChar(27));
  EXPECT_FALSE(h.ed->AcceptsChar(13));
  EXPECT_FALSE(h.ed->AcceptsChar(U' '));
}

TEST(SpinEditTyping, EditorDisabledKeepsTheTextButButtonsStillStep) {
  EditorHost h;
  h.ed->setFocus();
  h.ed->SetEditorEnabled(false);
  h.ed->end(false);
  QTest::keyClicks(h.ed, "5");
  QTest::keyClick(h.ed, Qt::Key_Backspace);
  EXPECT_EQ(rt::BeepCount(), 2);
  h.ed->home(false);
  QTest::keyClick(h.ed, Qt::Key_Delete);
  EXPECT_EQ(h.ed->text(), "138");
  EXPECT_FALSE(h.ed->AcceptsChar(8));
  EXPECT_TRUE(h.ed->AcceptsChar(3));  // copy still works

  QTest::keyClick(h.ed, Qt::Key_Up);
  EXPECT_EQ(h.ed->text(), "138.1");
  Press(h.ed->Button()->DownButton(), {5, 4});
  Release(h.ed->Button()->DownButton(), {5, 4});
  EXPECT_EQ(h.ed->text(), "138");
}

TEST(SpinEditTyping, PasteAndCutOnlyWhenEditableAndUnfiltered) {
  EditorHost h;
  QClipboard* cb = QGuiApplication::clipboard();
  h.ed->setFocus();

  cb->setText("x9");
  h.ed->selectAll();
  QTest::keyClick(h.ed, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(h.ed->text(), "x9");  // pasted text is not filtered
  EXPECT_EQ(h.ed->Value(), 0.1);
  EXPECT_EQ(rt::BeepCount(), 0);

  h.ed->SetValue(138);
  h.ed->SetEditorEnabled(false);
  h.ed->selectAll();
  h.ed->Paste();
  QTest::keyClick(h.ed, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(h.ed, Qt::Key_X, Qt::ControlModifier);
  h.ed->Cut();
  EXPECT_EQ(h.ed->text(), "138");
  EXPECT_EQ(cb->text(), "x9");  // a refused cut copies nothing either

  h.ed->SetEditorEnabled(true);
  h.ed->SetReadOnly(true);
  h.ed->selectAll();
  h.ed->Cut();
  h.ed->Paste();
  EXPECT_EQ(h.ed->text(), "138");
  EXPECT_EQ(cb->text(), "x9");

  h.ed->SetReadOnly(false);
  h.ed->selectAll();
  h.ed->Cut();
  EXPECT_EQ(h.ed->text(), "");
  EXPECT_EQ(cb->text(), "138");

  // The context menu offers only what the rules allow.
  h.ed->setText("138");
  h.ed->selectAll();
  h.ed->SetEditorEnabled(false);
  std::unique_ptr<QMenu> menu(h.ed->CreateContextMenu());
  int seen = 0;
  for (QAction* a : menu->actions()) {
    const QString name = a->objectName();
    if (name == "edit-cut" || name == "edit-paste" || name == "edit-delete") {
      EXPECT_FALSE(a->isEnabled()) << name.toStdString();
      ++seen;
    }
    if (name == "edit-copy") {
      EXPECT_TRUE(a->isEnabled());
    }
  }
  EXPECT_EQ(seen, 3);
}

TEST(SpinEditFocus, LeavingClampsNumbersAndLeavesOtherTextAlone) {
  EditorHost h;
  h.ed->setFocus();
  h.ed->setText("5000");
  h.changes = 0;
  h.other->setFocus();
  EXPECT_EQ(h.ed->text(), "3999");
  EXPECT_EQ(h.changes, 1);

  h.ed->setFocus();
  h.ed->setText("");
  h.other->setFocus();
  EXPECT_EQ(h.ed->text(), "");
  EXPECT_EQ(h.ed->Value(), 0.1);

  h.ed->setFocus();
  h.ed->setText("12.50");
  h.other->setFocus();
  EXPECT_EQ(h.ed->text(), "12.50");

  h.ed->setFocus();
  h.ed->setText("0.01");
  h.other->setFocus();
  EXPECT_EQ(h.ed->text(), "0.1");
}

TEST(SpinEditFocus, EnteringSelectsAllUnlessByALeftPressInTheText) {
  EditorHost h;
  h.other->setFocus();
  QTest::keyClick(h.other, Qt::Key_Tab);
  ASSERT_TRUE(h.ed->hasFocus());
  EXPECT_EQ(h.ed->selectedText(), "138");

  h.other->setFocus();
  h.ed->setFocus(Qt::OtherFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(h.ed->selectedText(), "138");

  h.other->setFocus();
  QTest::mouseClick(h.ed, Qt::LeftButton, {}, {10, 9});
  QApplication::processEvents();
  EXPECT_TRUE(h.ed->hasFocus());
  EXPECT_EQ(h.ed->selectedText(), "");

  // A press on the buttons brings the focus with the text selected.
  h.other->setFocus();
  TTimerSpeedButton* up = h.ed->Button()->UpButton();
  QTest::mousePress(up, Qt::LeftButton, {}, {5, 4});
  QApplication::processEvents();
  EXPECT_TRUE(h.ed->hasFocus());
  EXPECT_EQ(h.ed->selectedText(), "138");
  QTest::mouseRelease(up, Qt::LeftButton, {}, {5, 4});
  EXPECT_EQ(h.ed->text(), "138.1");

  h.ed->SetAutoSelect(false);
  h.other->setFocus();
  h.ed->setFocus(Qt::OtherFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(h.ed->selectedText(), "");
}

TEST(SpinEditLayout, ButtonPairAndTextAreaFollowTheBorder) {
  EditorHost h;
  EXPECT_EQ(h.ed->size(), QSize(65, 19));
  EXPECT_LE(h.ed->MinimumHeight(), 19);  // the window's 7-point editors fit
  wg::TSpinButton* pair = h.ed->Button();
  // Flat one-pixel border: client (1, 1)..(63, 17); the pair at client
  // (50, 1), 15 x 16, clipped by the border on the right.
  EXPECT_EQ(pair->geometry(), QRect(51, 2, 15, 16));
  EXPECT_EQ(pair->UpButton()->geometry(), QRect(0, 0, 15, 8));
  EXPECT_EQ(pair->DownButton()->geometry(), QRect(0, 7, 15, 9));
  EXPECT_EQ(pair->mask().boundingRect(), QRect(0, 0, 13, 16));

  // The text stops short of the buttons, however long it is.
  h.ed->setText("1234567890123456789012345");
  h.ed->end(false);
  h.ed->repaint();  // the text control scrolls while it paints
  QRect caret = h.ed->inputMethodQuery(Qt::ImCursorRectangle).toRect();
  // The reported rectangle pads the caret by a few pixels on each side.
  EXPECT_LT(caret.center().x(), pair->x());
  EXPECT_GT(caret.center().x(), pair->x() - 12);
  h.ed->home(false);
  h.ed->repaint();
  caret = h.ed->inputMethodQuery(Qt::ImCursorRectangle).toRect();
  EXPECT_GE(caret.center().x(), 1);
  EXPECT_LT(caret.center().x(), 6);

  h.ed->SetCtl3D(true);
  h.ed->resize(65, 21);
  QApplication::processEvents();
  EXPECT_EQ(pair->geometry(), QRect(47, 2, 15, 16));
  EXPECT_TRUE(pair->mask().isEmpty());
  const QMargins m = h.ed->textMargins();
  EXPECT_EQ(m.right(), 2 + 15 + 2);

  // Never lower than the font needs; a larger font raises the floor.
  h.ed->resize(65, 5);
  EXPECT_EQ(h.ed->height(), h.ed->MinimumHeight());
  QFont big = h.ed->font();
  big.setPointSize(20);
  h.ed->setFont(big);
  QApplication::processEvents();
  EXPECT_GT(h.ed->MinimumHeight(), 21);
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

  QTest::keyClick(h.ed, Qt::Key_Up);  // ends in the sink, not in the loop
  QTest::keyClicks(h.ed, "1");
  EXPECT_EQ(g_sunk, (std::vector<std::string>{"handler", "handler"}));

  // A held spin button stops repeating at the first failure.
  TTimerSpeedButton* up = h.ed->Button()->UpButton();
  Press(up, {5, 4});
  up->RepeatTimer()->blockSignals(true);
  EXPECT_THROW(up->RepeatTimerExpired(), std::runtime_error);
  EXPECT_FALSE(up->RepeatTimer()->isActive());
  Release(up, {50, 50});
  wg::SetExceptionSink(nullptr);
}
