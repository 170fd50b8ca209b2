// The Receiver submenu through the real window on simulated sticks: which
// sticks are in use, a switch that fails, and the options each stick keeps.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/Chart.h"
#include "controls/SpinDouble.h"
#include "sweep/ReceiverSetup.h"
#include "tests/ui/FormFixture.h"
#include "tests/common/RtlTcpServer.h"
#include "ui/ReceiverMenu.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
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
  MainWindow& OpenWith(wg::Options o = {}, const std::function<void()>& afterBind = {}) {
    Bind(WG_SIM_LIB);
    if (afterBind) afterBind();
    settings_ = std::make_unique<wg::TSettings>(dir_.filePath("wideglass.ini"));
    form_ = std::make_unique<MainWindow>(*settings_, o);
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
  QString Log() const { return form_->reportLog->toPlainText(); }
  // The last line once it is `want`: a change the receivers apply later than
  // the window waits is said when it has been.
  QString LastLineOnce(const QString& want) {
    for (int i = 0; i < 500 && Lines().last() != want; ++i) QTest::qWait(10);
    return Lines().last();
  }
  // The entries' texts and ticks, as the user sees them.
  QStringList Entries() const {
    QStringList l;
    for (QAction* a : menu_->ReceiverEntries()) l << (a->isChecked() ? "[x] " : "[ ] ") + a->text();
    return l;
  }
  // The settings as the next start reads them.
  wg::ReceiverOwn Kept(const std::string& key) {
    settings_->Sync();
    return wg::TSettings(dir_.filePath("wideglass.ini")).OwnOf(key);
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
  MainWindow& f = OpenWith();
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

// Two sticks ticked share the range: both are listed in the log, and each
// sweep covers the whole range; the last one in use cannot be unticked.
TEST_F(ReceiverMenuTest, TickingASecondStickSharesTheRange) {
  qputenv("RTLSDR_SIM_DEVICES", "2");
  MainWindow& f = OpenWith();
  ASSERT_NE(menu_, nullptr);
  EXPECT_TRUE(menu_->ReceiverListMenu()->menuAction()->isVisible());
  EXPECT_EQ(Entries(), (QStringList{"[x] 0: Generic RTL2832U OEM, 00000001", "[ ] 1: Generic RTL2832U OEM, 00000002"}));
  menu_->ReceiverEntries()[1]->trigger();
  EXPECT_EQ(f.Receiver().OpenCount(), 2u);
  EXPECT_EQ(Entries(), (QStringList{"[x] 0: Generic RTL2832U OEM, 00000001", "[x] 1: Generic RTL2832U OEM, 00000002"}));
  const QStringList lines = Lines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_TRUE(lines[lines.size() - 2].startsWith(QString::fromUtf8("Приёмник 1, серийник 00000002: "))) << Log().toStdString();
  EXPECT_EQ(lines.last(), QString::fromUtf8("Приёмники в работе: 0, 1"));
  wg::SweepPtr last;
  const int id = f.Sweep().AddSweepListener([&](const wg::SweepPtr& s) { last = s; });
  EXPECT_TRUE(SweepShown());
  f.Sweep().RemoveSweepListener(id);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->start, 138000000);
  EXPECT_EQ(last->stop, 153000000);

  // Both open again at the next start.
  EXPECT_EQ(settings_->Values().shared, (std::vector<std::string>{"00000001", "00000002"}));
  form_.reset();
  settings_.reset();
  {
    MainWindow& again = OpenWith();
    EXPECT_EQ(again.Receiver().OpenCount(), 2u);
    EXPECT_EQ(Entries(), (QStringList{"[x] 0: Generic RTL2832U OEM, 00000001", "[x] 1: Generic RTL2832U OEM, 00000002"}));
  }

  menu_->ReceiverEntries()[0]->trigger();
  EXPECT_EQ(form_->Receiver().OpenCount(), 1u);
  EXPECT_EQ(Lines().last(), QString::fromUtf8("Приёмники в работе: 1"));
  EXPECT_EQ(settings_->Values().serial, "00000002");
  EXPECT_TRUE(settings_->Values().shared.empty());
  MainWindow& f2 = *form_;
  const qsizetype before = Lines().size();
  menu_->ReceiverEntries()[1]->trigger();
  EXPECT_EQ(Entries(), (QStringList{"[ ] 0: Generic RTL2832U OEM, 00000001", "[x] 1: Generic RTL2832U OEM, 00000002"}));
  EXPECT_EQ(Lines().size(), before);
  EXPECT_TRUE(f2.Sweep().Running());

  // A stick that refuses to open is one line; those in use go on.
  qputenv("RTLSDR_SIM_OPEN_FAIL", "0:1");
  menu_->ReceiverEntries()[0]->trigger();
  EXPECT_EQ(Lines().size(), before + 2) << Log().toStdString();
  EXPECT_TRUE(Lines()[before].contains(QString::fromUtf8("не открылся"))) << Log().toStdString();
  EXPECT_EQ(Entries(), (QStringList{"[ ] 0: Generic RTL2832U OEM, 00000001", "[x] 1: Generic RTL2832U OEM, 00000002"}));
  EXPECT_TRUE(SweepShown());
}

// Sticks remembered as sharing the range that are not plugged in: those
// that are open, and each missing one is said once.
TEST_F(ReceiverMenuTest, ARememberedStickNotPluggedInIsSaidAndTheOthersShare) {
  qputenv("RTLSDR_SIM_DEVICES", "3");
  {
    wg::TSettings s(dir_.filePath("wideglass.ini"));
    s.SetSharedReceivers({"00000003", "00000009", "00000001"});
  }
  MainWindow& f = OpenWith();
  EXPECT_EQ(f.Receiver().OpenCount(), 2u);
  EXPECT_EQ(f.Receiver().ReceiverIndex(), 2u) << "the first remembered is the first again";
  EXPECT_EQ(Lines().filter(QStringLiteral("00000009")).size(), 1) << Log().toStdString();
  EXPECT_EQ(Lines().filter(QString::fromUtf8("развёртка без него")).size(), 1) << Log().toStdString();
  EXPECT_TRUE(SweepShown());
}

// Options go to the stick in use and stay with it: another stick opens
// without them, and the first gets them back after a restart; the command
// line wins for its run.
TEST_F(ReceiverMenuTest, OptionsAreRememberedForEachStick) {
  qputenv("RTLSDR_SIM_DEVICES", "2");
  MainWindow& f = OpenWith();
  ASSERT_NE(menu_, nullptr);
  EXPECT_FALSE(menu_->BiasTeeAction()->isChecked());
  menu_->BiasTeeAction()->trigger();
  EXPECT_EQ(LastLineOnce(QString::fromUtf8("Bias-T: вкл")), QString::fromUtf8("Bias-T: вкл"));
  menu_->DirectSamplingMenu()->actions()[2]->trigger();
  EXPECT_EQ(LastLineOnce(QString::fromUtf8("Прямая выборка: Q")), QString::fromUtf8("Прямая выборка: Q"));
  // The R820T has no offset tuning: refused, said, and left off.
  EXPECT_FALSE(menu_->ChooseOffsetTuning(true));
  const QString refused = QString::fromUtf8("Смещённая настройка: вкл — не принято приёмником");
  EXPECT_EQ(LastLineOnce(refused), refused);
  EXPECT_FALSE(menu_->OffsetTuningAction()->isChecked());
  EXPECT_EQ(Kept("00000001"), (wg::ReceiverOwn{.biasTee = true, .directSampling = 2}));
  EXPECT_EQ(Kept("00000002"), wg::ReceiverOwn{});

  ASSERT_TRUE(menu_->ChooseReceiver(1));
  EXPECT_FALSE(f.Receiver().BiasTee());
  EXPECT_EQ(f.Receiver().DirectSampling(), 0);
  EXPECT_FALSE(menu_->BiasTeeAction()->isChecked());
  ASSERT_TRUE(menu_->ChooseReceiver(0));
  EXPECT_TRUE(f.Receiver().BiasTee());
  form_.reset();

  OpenWith();
  EXPECT_TRUE(form_->Receiver().BiasTee());
  EXPECT_EQ(form_->Receiver().DirectSampling(), 2);
  EXPECT_TRUE(menu_->BiasTeeAction()->isChecked());
  EXPECT_TRUE(menu_->DirectSamplingMenu()->actions()[2]->isChecked());
  form_.reset();

  wg::Options o;
  o.directSampling = 0;
  OpenWith(o);
  EXPECT_TRUE(form_->Receiver().BiasTee());
  EXPECT_EQ(form_->Receiver().DirectSampling(), 0);
  EXPECT_EQ(Kept("00000001").directSampling, 2) << "the command line is for its run only";
}

// A library without an option's entry point: the entry stays in sight,
// disabled, and the log says once which one is missing; asked for on the
// command line, the run goes on without it.
TEST_F(ReceiverMenuTest, AnOptionTheLibraryLacksIsDisabledWithOneLine) {
  wg::Options o;
  o.offsetTuning = true;
  MainWindow& f = OpenWith(o, [] { api_rtl_sdr::rtlsdr_set_offset_tuning = nullptr; });
  ASSERT_NE(menu_, nullptr);
  EXPECT_TRUE(menu_->OffsetTuningAction()->isVisible());
  EXPECT_FALSE(menu_->OffsetTuningAction()->isEnabled());
  EXPECT_TRUE(menu_->BiasTeeAction()->isEnabled());
  EXPECT_TRUE(menu_->DirectSamplingMenu()->isEnabled());
  menu_->Refresh();
  const QString line = QString::fromUtf8("В библиотеке приёмника нет функции rtlsdr_set_offset_tuning: Offset tuning недоступно");
  EXPECT_EQ(Lines().filter(QStringLiteral("rtlsdr_set_")), QStringList{line}) << Log().toStdString();
  EXPECT_FALSE(f.Receiver().OffsetTuning());
  EXPECT_TRUE(f.Sweep().Running());
  EXPECT_TRUE(SweepShown());
}

// "Add remote receiver…": only a host and port are taken; one that is not
// there is one line, remembered all the same, and the stick in use goes on;
// one served by rtl_tcp joins the sweep.
TEST_F(ReceiverMenuTest, ARemoteReceiverAddedByHandIsRememberedAndJoins) {
  MainWindow& f = OpenWith();
  ASSERT_NE(menu_, nullptr);
  menu_->AddRemoteAction()->trigger();
  auto* dialog = f.findChild<QDialog*>(QStringLiteral("RemoteDialog"));
  ASSERT_NE(dialog, nullptr);
  auto* host = dialog->findChild<QLineEdit*>(QStringLiteral("host"));
  auto* port = dialog->findChild<QSpinBox*>(QStringLiteral("port"));
  QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  EXPECT_EQ(port->value(), 1234);
  for (const char* bad : {"", "pi local", "a/b", "[::1]", "host;rm"}) {
    host->setText(QString::fromUtf8(bad));
    EXPECT_FALSE(ok->isEnabled()) << bad;
  }
  const uint16_t nobody = wgtest::FreePort();
  host->setText(QStringLiteral("127.0.0.1"));
  port->setValue(nobody);
  ASSERT_TRUE(ok->isEnabled());
  const qsizetype before = Lines().size();
  ok->click();
  const std::string where = "127.0.0.1:" + std::to_string(nobody);
  EXPECT_EQ(Lines().size(), before + 2) << Log().toStdString();
  EXPECT_EQ(Lines()[before], QString::fromStdString("Не удалось подключиться к приёмнику rtl_tcp=" + where + ": ") +
                                 QString::fromUtf8("там никто не слушает"));
  EXPECT_EQ(Lines().last(), QString::fromUtf8("Приёмники в работе: 0"));
  EXPECT_EQ(settings_->Values().remotes, std::vector<std::string>{where});
  EXPECT_EQ(Entries(), (QStringList{"[x] 0: Generic RTL2832U OEM, 00000001", QString::fromStdString("[ ] rtl_tcp=" + where)}));
  EXPECT_TRUE(SweepShown());

  if (std::string(WG_RTL_TCP).empty()) GTEST_SKIP() << "rtl_tcp (Debian package rtl-sdr) not found";
  wgtest::RtlTcpServer server(WG_RTL_TCP, QFileInfo(QStringLiteral(WG_SIM_LIB)).absolutePath().toStdString(),
                              {{"RTLSDR_SIM_PACE", "1"}, {"RTLSDR_SIM_FILTER", "0"}});
  ASSERT_TRUE(server.Start());
  const std::string served = "127.0.0.1:" + std::to_string(server.Port());
  ASSERT_TRUE(menu_->AddRemote(served)) << Log().toStdString();
  EXPECT_EQ(Lines().last(), QString::fromStdString("Приёмники в работе: 0, rtl_tcp=" + served));
  EXPECT_EQ(f.Receiver().OpenCount(), 2u);
  EXPECT_EQ(settings_->Values().remotes, (std::vector<std::string>{where, served}));
  EXPECT_TRUE(SweepShown());
  // Its options are its own, by its address.
  menu_->ChooseBiasTee(true);
  EXPECT_EQ(LastLineOnce(QString::fromUtf8("Bias-T: вкл")), QString::fromUtf8("Bias-T: вкл"));
  EXPECT_EQ(Kept("rtl_tcp=" + served).biasTee, true);
  EXPECT_EQ(Kept("00000001").biasTee, true);
}

}  // namespace
