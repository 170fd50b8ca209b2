// The chart menu: how it opens, what it holds, and that its shortcuts reach
// their entries from every control without being typed into one.
#include "app/Language.h"
#include "chart/Chart.h"
#include "controls/SpinDouble.h"
#include "tests/ui/FormFixture.h"
#include "ui/ChartMenu.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

class ChartMenuTest : public FormTest {
 protected:
  QAction* Entry(const char* name) { return form_->ChartMenu->findChild<QAction*>(name); }
  void CloseMenu() {
    form_->ChartMenu->hide();
    QApplication::processEvents();
  }
};

TEST_F(ChartMenuTest, ARightClickOpensItAndARightDragStillPans) {
  MainWindow& f = OpenActive();
  const QPoint at(300, 150);
  QTest::mousePress(f.Chart1, Qt::RightButton, {}, at);
  QTest::mouseRelease(f.Chart1, Qt::RightButton, {}, at + QPoint(1, 1));
  EXPECT_TRUE(f.ChartMenu->isVisible());
  CloseMenu();
  EXPECT_EQ(f.Chart1->BottomAxis()->Minimum(), 138000000) << "a click that barely moved";

  QTest::mousePress(f.Chart1, Qt::RightButton, {}, at);
  QTest::mouseMove(f.Chart1, at + QPoint(40, 0));
  QTest::mouseRelease(f.Chart1, Qt::RightButton, {}, at + QPoint(40, 0));
  EXPECT_FALSE(f.ChartMenu->isVisible());
  EXPECT_LT(f.Chart1->BottomAxis()->Minimum(), 138000000) << "the drag panned";
}

TEST_F(ChartMenuTest, ResetViewUndoesZoomsAndScrollsBackToTheScanRange) {
  MainWindow& f = OpenActive();
  wg::TChart& c = *f.Chart1;
  c.ZoomCentred(120);
  MainWindow::ScrollHorizontalAxes(&c, 5);
  MainWindow::ScrollVerticalAxes(&c, 5);
  f.StartFreqEdit->SetValue(140);
  c.ZoomCentred(80);
  Entry("reset-view")->trigger();
  EXPECT_EQ(c.BottomAxis()->Minimum(), 140000000);
  EXPECT_EQ(c.BottomAxis()->Maximum(), 153000000);
  EXPECT_EQ(c.LeftAxis()->Minimum(), -120);
  EXPECT_EQ(c.LeftAxis()->Maximum(), 25);
  EXPECT_TRUE(c.ScalesRestored());
}

// Keys that editors and the log pane use, and those the window handles
// (built once the application is there: standard keys ask the platform).
std::vector<QKeySequence> TakenKeys() {
  return {
    QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Minus), QKeySequence(Qt::Key_Equal),
    QKeySequence(Qt::Key_Period), QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_Right),
    QKeySequence(Qt::Key_Up), QKeySequence(Qt::Key_Down), QKeySequence(Qt::Key_Home),
    QKeySequence(Qt::Key_End), QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::Key_Delete),
    QKeySequence(Qt::Key_Return), QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Paste,
    QKeySequence::Cut, QKeySequence::Undo, QKeySequence::Redo,
  };
}

TEST_F(ChartMenuTest, EveryEntryShowsAShortcutOfItsOwnThatNoControlUses) {
  MainWindow& f = OpenActive();
  std::set<QString> seen;
  const std::vector<QKeySequence> taken = TakenKeys();
  for (QAction* a : f.ChartMenu->actions()) {
    if (a->isSeparator() || a->menu()) continue;
    const QKeySequence k = a->shortcut();
    ASSERT_FALSE(k.isEmpty()) << a->text().toStdString();
    EXPECT_TRUE(a->isShortcutVisibleInContextMenu()) << a->text().toStdString();
    EXPECT_TRUE(f.actions().contains(a)) << "live while the menu is closed: " << a->text().toStdString();
    EXPECT_TRUE(seen.insert(k.toString()).second) << "shared: " << k.toString().toStdString();
    for (const QKeySequence& t : taken) EXPECT_NE(k, t) << a->text().toStdString();
    const int key = k[0].key();
    EXPECT_FALSE(key >= Qt::Key_0 && key <= Qt::Key_9) << a->text().toStdString();
  }
}

TEST_F(ChartMenuTest, ShortcutsReachTheirEntryFromEditorsAndTheLog) {
  MainWindow& f = OpenActive();
  const char* const names[] = {"mode-live",   "mode-average", "mode-peak-hold", "clear-hold",
                               "mark-peak",   "clear-marker", "reset-view"};
  for (const char* name : names) {
    QAction* a = Entry(name);
    ASSERT_NE(a, nullptr) << name;
    int runs = 0;
    const auto counter = QObject::connect(a, &QAction::triggered, [&] { ++runs; });
    for (QWidget* w : {static_cast<QWidget*>(f.StartFreqEdit), static_cast<QWidget*>(f.StopFreqEdit),
                       static_cast<QWidget*>(f.reportLog), static_cast<QWidget*>(f.Chart1)}) {
      w->setFocus();
      const QString start = f.StartFreqEdit->text(), stop = f.StopFreqEdit->text(), log = f.reportLog->toPlainText();
      QTest::keySequence(w, a->shortcut());
      EXPECT_EQ(f.StartFreqEdit->text(), start) << name;
      EXPECT_EQ(f.StopFreqEdit->text(), stop) << name;
      EXPECT_EQ(f.reportLog->toPlainText(), log) << name;
    }
    EXPECT_EQ(runs, 4) << name;
    QObject::disconnect(counter);
  }
}

// UTF-8 read as Latin-1 turns each non-ASCII letter into a lead of U+00C2 to
// U+00F4 and a follower of U+0080 to U+00BF ("…" into "â\u0080¦", shown as
// "â€¦"): no entry of the menu, its submenus or the window reads so.
TEST_F(ChartMenuTest, NoEntryReadsAsUtf8TakenForLatin1) {
  MainWindow& f = Open();
  const auto misread = [](const QString& t) {
    for (qsizetype i = 0; i + 1 < t.size(); ++i)
      if (t[i] >= QChar(0xC2) && t[i] <= QChar(0xF4) && t[i + 1] >= QChar(0x80) && t[i + 1] <= QChar(0xBF)) return true;
    return t.contains(QChar::ReplacementCharacter);
  };
  for (const wg::Language language : {wg::Language::Russian, wg::Language::English}) {
    wg::SetLanguage(language);
    QList<QAction*> all = f.actions() + f.ChartMenu->actions();
    for (const QMenu* m : f.ChartMenu->findChildren<QMenu*>()) all << m->actions();
    EXPECT_GT(all.size(), 40);
    for (const QAction* a : all) EXPECT_FALSE(misread(a->text())) << a->text().toStdString();
  }
  wg::SetLanguage(wg::Language::Russian);
}

}  // namespace
