// The Receiver submenu through the real window on simulated sticks: which
// sticks are in use, a switch that fails, and the options each stick keeps.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/Chart.h"
#include "controls/SpinDouble.h"
#include "sweep/ReceiverSetup.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReceiverMenu.h"

#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

class ReceiverMenuTest : public FormTest {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  void TearDown() override {
    FormTest::TearDown();
    settings_.reset();
    for (const char* v : {"RTLSDR_SIM_DEVICES", "RTLSDR_SIM_OPEN_FAIL", "RTLSDR_SIM_SCENE"}) qunsetenv(v);
  }
  TForm1& OpenWith(wg::Options o = {}, const std::function<void()>& afterBind = {}) {
    Bind(WG_SIM_LIB);
    if (afterBind) afterBind();
    settings_ = std::make_unique<wg::TSettings>(dir_.filePath("wideglass.ini"));
    form_ = std::make_unique<TForm1>(*settings_, o);
    form_->show();
    QApplication::processEvents();
    menu_ = form_->findChild<wg::TReceiverMenu*>();
    return *form_;
  }
  // A sweep shown from now on, within a few seconds.
  bool SweepShown() {
    int shown = 0;
    const int id = form_->Sweep().AddSweepListener([&](const wg::SweepPtr&) { ++shown; });
    for (int i = 0; i < 500 && shown < 2; ++i) QTest::qWait(10);
    form_->Sweep().RemoveSweepListener(id);
    return shown >= 2;
  }
  QString Log() const { return form_->Memo1->toPlainText(); }
  // The last line once it is `want`: a change the receivers apply later than
  // the window waits is said when it has been.
  QString LastLineOnce(const QString& want) {
    for (int i = 0; i < 500 && Lines().last() != want; ++i) QTest::qWait(10);
    return Lines().last();
  }

  QTemporaryDir dir_;
  std::unique_ptr<wg::TSettings> settings_;
  wg::TReceiverMenu* menu_ = nullptr;
};

// Stick 1 refuses to open: the switch goes back to stick 0, says so in one
// line, and the range can be edited as before.
TEST_F(ReceiverMenuTest, AFailedSwitchReopensTheStickThatWorked) {
  qputenv("RTLSDR_SIM_DEVICES", "2");
  qputenv("RTLSDR_SIM_OPEN_FAIL", "1:1");
  TForm1& f = OpenWith();
  ASSERT_NE(menu_, nullptr);
  const qsizetype before = Lines().size();
  EXPECT_FALSE(menu_->ChooseReceiver(1));
  EXPECT_EQ(Lines().size(), before + 1) << Log().toStdString();
  EXPECT_EQ(Lines().last(), QString::fromUtf8("Приёмник 1 не открылся, снова открыт приёмник 0"));
  EXPECT_TRUE(f.Receiver().IsOpen());
  EXPECT_EQ(f.Receiver().ReceiverIndex(), 0u);
  EXPECT_TRUE(f.Sweep().Running());

  f.StartFreqEdit->SetValue(140);
  EXPECT_EQ(f.Sweep().StartFrequency(), 140000000);
  EXPECT_TRUE(f.Sweep().Running());
  EXPECT_TRUE(SweepShown());
  EXPECT_FALSE(Log().contains(QString::fromUtf8("не открыт:"))) << Log().toStdString();
  EXPECT_EQ(settings_->Values().serial, "") << "nothing to remember";
}

}  // namespace
