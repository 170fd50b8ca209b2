// Scan range editing as a user types it, and the window's resistance to
// input that used to corrupt the range, wedge the handler or land in the log.
#include "app/Settings.h"
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "sweep/SweepEngine.h"
#include "tests/ui/FormFixture.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <gtest/gtest.h>

#include <new>

namespace {

class RangeEditTest : public FormTest {
 protected:
  // Select the editor's whole text, as a user about to replace it.
  static void Enter(wg::TSpinEditDouble* e) {
    e->setFocus();
    e->selectAll();
  }
  void ExpectRange(int64_t start, int64_t stop, const char* what) {
    EXPECT_EQ(form_->Sweep().StartFrequency(), start) << what;
    EXPECT_EQ(form_->Sweep().StopFrequency(), stop) << what;
    EXPECT_EQ(form_->Chart1->BottomAxis()->Minimum(), start) << what;
    EXPECT_EQ(form_->Chart1->BottomAxis()->Maximum(), stop) << what;
    EXPECT_EQ(form_->Series1->PointCount(), qRound64((stop - start) / 3200000.0 * 4096)) << what;
    EXPECT_TRUE(form_->Sweep().Running()) << what;
  }
};

TEST_F(RangeEditTest, TypingIntoTheStopEditorIsNotOverwritten) {
  MainWindow& f = OpenActive();
  f.StartFreqEdit->SetValue(88);
  Enter(f.StopFreqEdit);
  QTest::keyClicks(f.StopFreqEdit, "1");
  EXPECT_EQ(f.StopFreqEdit->text(), "1");
  ExpectRange(88000000, 89000000, "\"1\": the sweep takes start + 1 for now");
  QTest::keyClicks(f.StopFreqEdit, "0");
  EXPECT_EQ(f.StopFreqEdit->text(), "10");
  QTest::keyClicks(f.StopFreqEdit, "8");
  EXPECT_EQ(f.StopFreqEdit->text(), "108");
  ExpectRange(88000000, 108000000, "108 typed");

  // Done with a value still below: the editor shows start + 1.
  Enter(f.StopFreqEdit);
  QTest::keyClicks(f.StopFreqEdit, "5");
  QTest::keyClick(f.StopFreqEdit, Qt::Key_Return);
  EXPECT_EQ(f.StopFreqEdit->text(), "89");
  ExpectRange(88000000, 89000000, "Enter");
  Enter(f.StopFreqEdit);
  QTest::keyClicks(f.StopFreqEdit, "2");
  f.reportLog->setFocus();
  EXPECT_EQ(f.StopFreqEdit->text(), "89");
  ExpectRange(88000000, 89000000, "focus out");

  // Steps keep the written rule: a step down at start + 1 is pushed back up.
  f.StopFreqEdit->StepDown();
  EXPECT_EQ(f.StopFreqEdit->text(), "89");
}

// Text pasted or typed into an editor (still focused) and the range the
// sweep runs on.
struct PasteRow {
  const char* name;
  bool intoStop;
  const char* text;
  int64_t start, stop;
};
const PasteRow kPasteRows[] = {
    {"huge stop", true, "99999999", 3990000000, 4000000000},
    {"negative stop", true, "-20", 3990000000, 3991000000},
    {"overflowing stop", true, "1e999", 3990000000, 4000000000},
    {"huge start", false, "99999999", 3999000000, 4000000000},
    {"negative start", false, "-5", 100000, 4000000000},
};

TEST_F(RangeEditTest, PastedValuesBeyondTheLimitsNeverLeaveThem) {
  MainWindow& f = OpenActive();
  for (const PasteRow& row : kPasteRows) {
    f.StopFreqEdit->SetValue(4000);
    f.StartFreqEdit->SetValue(3990);
    wg::TSpinEditDouble* e = row.intoStop ? f.StopFreqEdit : f.StartFreqEdit;
    Enter(e);
    QGuiApplication::clipboard()->setText(row.text);
    QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(e->text(), row.text) << row.name;
    ExpectRange(row.start, row.stop, row.name);
    f.reportLog->setFocus();
  }
}

// Text that does not read as a number, pasted and taken with Enter: the
// range, the sweep and the remembered range stay, the editor shows the value
// in force again, and one log line says why.
TEST_F(RangeEditTest, APastedNonNumberChangesNothingAndIsSaidOnce) {
  MainWindow& f = OpenActive();
  f.StartFreqEdit->SetValue(88);
  f.StopFreqEdit->SetValue(108);
  int runs = 0;
  f.Series1->OnClearValues = [&](wg::TChartSeries&) { ++runs; };
  for (wg::TSpinEditDouble* e : {f.StartFreqEdit, f.StopFreqEdit}) {
    for (const char* text : {"abc", "12a", "88,6", "100\n200"}) {
      const std::string what = std::string(e == f.StartFreqEdit ? "start" : "stop") + " \"" + text + "\"";
      const qsizetype lines = Lines().size();
      Enter(e);
      QGuiApplication::clipboard()->setText(QString::fromUtf8(text));
      QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
      ExpectRange(88000000, 108000000, what.c_str());
      QTest::keyClick(e, Qt::Key_Return);
      ExpectRange(88000000, 108000000, what.c_str());
      EXPECT_EQ(runs, 0) << what << ": the sweep was started again";
      EXPECT_EQ(form_->Settings().Values().range, (wg::ScanRange{88000000, 108000000})) << what;
      EXPECT_EQ(e->text(), e == f.StartFreqEdit ? "88" : "108") << what;
      ASSERT_EQ(Lines().size(), lines + 1) << what;
      EXPECT_TRUE(Lines().last().contains(QString::fromUtf8("не число"))) << Lines().last().toStdString();
    }
  }
  // The editors still take numbers afterwards.
  Enter(f.StartFreqEdit);
  QTest::keyClicks(f.StartFreqEdit, "90");
  ExpectRange(90000000, 108000000, "typed after");
}

TEST_F(RangeEditTest, AFailedRangeChangeIsLoggedAndTheNextEditSweepsAgain) {
  MainWindow& f = Open();
  bool fail = true;
  f.Series1->OnClearValues = [&](wg::TChartSeries&) {
    if (std::exchange(fail, false)) throw std::bad_alloc();
  };
  EXPECT_NO_THROW(f.StartFreqEdit->SetValue(140));
  EXPECT_FALSE(fail) << "the failure was injected";
  EXPECT_EQ(Lines().last(), QString::fromUtf8("Ошибка при смене диапазона: не хватило памяти (std::bad_alloc)"));
  f.StartFreqEdit->SetValue(141);
  ExpectRange(141000000, 153000000, "the edit after the failure");
}

TEST_F(RangeEditTest, TheLogIsReadOnlyAndAClickedChartTakesTheKeys) {
  MainWindow& f = OpenActive();
  const QString report = f.reportLog->toPlainText();
  const wg::TChartAxis* bottom = f.Chart1->BottomAxis();
  f.reportLog->setFocus();
  QTest::keyClicks(f.reportLog, "+-x");
  QTest::keyClick(f.reportLog, Qt::Key_Backspace);
  EXPECT_EQ(f.reportLog->toPlainText(), report);
  EXPECT_EQ(bottom->Minimum(), 139200000) << "plus and minus zoomed the chart";
  f.reportLog->selectAll();
  QTest::keyClick(f.reportLog, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), report) << "copying still works";

  QTest::mouseClick(f.Chart1, Qt::LeftButton, {}, QPoint(300, 150));
  EXPECT_EQ(QApplication::focusWidget(), f.Chart1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Plus);
  EXPECT_GT(bottom->Minimum(), 141000000);
  EXPECT_EQ(f.reportLog->toPlainText(), report);
}

}  // namespace
