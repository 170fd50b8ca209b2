// The receiver's controls through the real window on the simulated stick:
// options, remembered values and the chart menu's entries.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "sweep/ReceiverSetup.h"
#include "tests/common/RtlTcpServer.h"
#include "tests/common/RunQueueWait.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReceiverMenu.h"

#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace {

constexpr double kCarrierHz = 146000000;
// One step of 3.2 MHz centred at 146.1 MHz: the carrier sits off the
// step's centre, where the samples' constant offset shows.
constexpr int64_t kStart = 144500000, kStop = 147700000;

class ReceiverControlTest : public FormTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    std::ofstream(dir_.filePath("scene.txt").toStdString()) << kCarrierHz << " -20 carrier\n";
    qputenv("RTLSDR_SIM_SCENE", dir_.filePath("scene.txt").toLocal8Bit());
    qputenv("RTLSDR_SIM_PPM", "0");  // an exact crystal, as on a good stick
  }
  void TearDown() override {
    FormTest::TearDown();
    settings_.reset();
    qunsetenv("RTLSDR_SIM_SCENE");
    qunsetenv("RTLSDR_SIM_PPM");
    qunsetenv("RTLSDR_SIM_DEVICES");
  }
  MainWindow& OpenWith(wg::Options o) {
    if (!o.start) o.start = kStart, o.stop = kStop;
    Bind(WG_SIM_LIB);
    settings_ = std::make_unique<wg::TSettings>(dir_.filePath("wideglass.ini"));
    form_ = std::make_unique<MainWindow>(*settings_, o);
    form_->show();
    QApplication::processEvents();
    return *form_;
  }
  // The next sweep the window gets (none after 20 s).
  wg::SweepPtr NextSweep() {
    wg::SweepPtr got;
    const int id = form_->Sweep().AddSweepListener([&](const wg::SweepPtr& s) { got = s; });
    for (int i = 0; i < 2000 && !got; ++i) QTest::qWait(10);
    form_->Sweep().RemoveSweepListener(id);
    return got;
  }
  // Where the strongest level of a fresh sweep lies, Hz.
  double PeakAfterFreshSweeps() {
    wg::TFastLineSeries* s = form_->Series1;
    // Three sweeps shown from now: at most the first was under way before
    // the new tuning.
    int shown = 0;
    const int id = form_->Sweep().AddSweepListener([&](const wg::SweepPtr&) { ++shown; });
    for (int i = 0; i < 2000 && shown < 3; ++i) QTest::qWait(10);
    form_->Sweep().RemoveSweepListener(id);
    int best = 0;
    for (int i = 1; i < s->PointCount(); ++i) {
      // The step's centre carries the samples' constant offset.
      if (std::abs(s->PointX(i) - (kStart + kStop) / 2.0) < 4000) continue;
      if (s->PointY(i) > s->PointY(best)) best = i;
    }
    return s->PointX(best);
  }
  QString LastLine() { return Lines().last(); }
  // The last line once it is `want`: a change the receiver applies later
  // than the window waits is said when it has been.
  QString LastLineOnce(const QString& want) {
    for (int i = 0; i < 500 && LastLine() != want; ++i) QTest::qWait(10);
    return LastLine();
  }

  QTemporaryDir dir_;
  std::unique_ptr<wg::TSettings> settings_;
};

TEST_F(ReceiverControlTest, TheWrittenCorrectionMovesACarrierAndPpmZeroPutsItBack) {
  MainWindow& f = OpenWith({});
  EXPECT_EQ(Lines()[11], QString::fromUtf8("PPM: 2700"));
  // 146 MHz x 2700 ppm: the tuner mixes about 393 kHz low, so the carrier
  // shows that much above where it is.
  const double off = PeakAfterFreshSweeps() - kCarrierHz;
  EXPECT_NEAR(off, 393100, 2 * 781.25) << off;
  form_.reset();

  wg::Options o;
  o.ppm = 0;
  OpenWith(o);
  EXPECT_EQ(Lines()[11], QString::fromUtf8("PPM: 0"));
  EXPECT_NEAR(PeakAfterFreshSweeps(), kCarrierHz, 781.25);
  (void)f;
}

TEST_F(ReceiverControlTest, CorrectionFromTheMenuRetunesLogsAndIsRemembered) {
  MainWindow& f = OpenWith({});
  auto* menu = f.findChild<wg::TReceiverMenu*>();
  ASSERT_NE(menu, nullptr);
  // F7 asks for the correction in a dialog.
  QTest::keyClick(&f, Qt::Key_F7);
  auto* dialog = f.findChild<QInputDialog*>(QStringLiteral("CorrectionDialog"));
  ASSERT_NE(dialog, nullptr);
  dialog->setIntValue(0);
  dialog->accept();
  // Said once the receiver has applied it between two steps.
  for (int i = 0; i < 500 && LastLine() != QString::fromUtf8("PPM: 0"); ++i) QTest::qWait(10);
  EXPECT_EQ(LastLine(), QString::fromUtf8("PPM: 0"));
  EXPECT_NEAR(PeakAfterFreshSweeps(), kCarrierHz, 781.25);
  EXPECT_EQ(settings_->Values().ppm, 0);
  // Out of the library's hands: refused, said, and the previous one stays.
  EXPECT_FALSE(menu->ChooseCorrection(4000));
  EXPECT_TRUE(LastLine().contains(QString::fromUtf8("не принято"))) << LastLine().toStdString();
  EXPECT_EQ(settings_->Values().ppm, 0);
}

TEST_F(ReceiverControlTest, GainAndRateFromTheMenu) {
  MainWindow& f = OpenWith({});
  auto* menu = f.findChild<wg::TReceiverMenu*>();
  ASSERT_NE(menu, nullptr);
  // "Auto" and the tuner's 29 gains, as the report lists them.
  const auto gains = menu->GainMenu()->actions();
  ASSERT_EQ(gains.size(), 30);
  EXPECT_EQ(gains[0]->text(), QStringLiteral("Auto"));
  EXPECT_EQ(gains.last()->text(), QStringLiteral("49.6 dB"));
  gains.last()->trigger();
  EXPECT_EQ(LastLineOnce(QString::fromUtf8("Усиление, дБ: 49.6")), QString::fromUtf8("Усиление, дБ: 49.6"));
  EXPECT_EQ(f.Receiver().CurrentGainMode(), wg::GainMode::Manual);
  EXPECT_EQ(settings_->Values().gain, (wg::GainChoice{false, 496}));
  gains[0]->trigger();
  EXPECT_EQ(LastLineOnce(QString::fromUtf8("Усиление, дБ: авто")), QString::fromUtf8("Усиление, дБ: авто"));
  EXPECT_TRUE(settings_->Values().gain->automatic);

  // 2.4 MS/s: the bin width and the points per range follow.
  const auto rates = menu->RateMenu()->actions();
  ASSERT_EQ(rates.size(), 5);
  EXPECT_EQ(rates[1]->text(), QStringLiteral("2.4 MS/s"));
  rates[1]->trigger();
  EXPECT_EQ(LastLineOnce(QString::fromUtf8("Полоса: 2400000 Hz, шаг по частоте, Hz: 585.94")), QString::fromUtf8("Полоса: 2400000 Hz, шаг по частоте, Hz: 585.94"));
  EXPECT_EQ(f.Series1->PointCount(), std::lround((kStop - kStart) / 2400000.0 * 4096));
  EXPECT_EQ(settings_->Values().sampleRate, 2400000u);
  EXPECT_TRUE(f.Sweep().Running());
  // F6 and F8 open the lists at the pointer.
  for (auto [key, list] : {std::pair{Qt::Key_F6, menu->GainMenu()}, std::pair{Qt::Key_F8, menu->RateMenu()}}) {
    QTest::keyClick(&f, key);
    EXPECT_EQ(QApplication::activePopupWidget(), list);
    list->close();
  }
  // One receiver: shown all the same, for its options and remote receivers.
  EXPECT_TRUE(menu->ReceiverListMenu()->menuAction()->isVisible());
}

TEST_F(ReceiverControlTest, RememberedReceiverGainAndRateComeBackAndOptionsWin) {
  qputenv("RTLSDR_SIM_DEVICES", "2");
  {
    MainWindow& f = OpenWith({});
    auto* menu = f.findChild<wg::TReceiverMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(menu->ReceiverListMenu()->menuAction()->isVisible());
    ASSERT_TRUE(menu->ChooseReceiver(1));
    EXPECT_EQ(LastLine(), QString::fromUtf8("Приёмник 1: Generic RTL2832U OEM, серийник 00000002"));
    menu->ChooseGain(280);
    menu->ChooseRate(1024000);
    // A busy machine may leave a change to be settled after the window's
    // wait: it is remembered once the receiver has taken it.
    for (int i = 0; i < 500 && settings_->Values().sampleRate != 1024000u; ++i) QTest::qWait(10);
    form_.reset();
  }
  {
    // The report says which receiver opened: the remembered one.
    MainWindow& f = OpenWith({});
    EXPECT_EQ(f.Receiver().ReceiverIndex(), 1u);
    EXPECT_EQ(f.Receiver().CurrentGainMode(), wg::GainMode::Manual);
    EXPECT_EQ(f.Receiver().ManualGain(), 280);
    EXPECT_TRUE(Lines().contains(QString::fromUtf8("Полоса: 1024000 Hz")));
    form_.reset();
  }
  {
    wg::Options o;
    o.device = "0";
    o.gain = wg::GainChoice{false, 300};  // not a tuner gain: the nearest is taken
    o.sampleRate = 3200000;
    MainWindow& f = OpenWith(o);
    EXPECT_EQ(f.Receiver().ReceiverIndex(), 0u);
    EXPECT_EQ(f.Receiver().ManualGain(), 297);
    EXPECT_TRUE(Lines().contains(QString::fromUtf8("Полоса: 3200000 Hz")));
    form_.reset();
  }
  // The options were for that run only.
  settings_->Sync();
  wg::TSettings after(dir_.filePath("wideglass.ini"));
  EXPECT_EQ(after.Values().serial, "00000002");
  EXPECT_EQ(after.Values().sampleRate, 1024000u);
  // A remembered stick that is not plugged in: receiver 0, said once.
  qputenv("RTLSDR_SIM_DEVICES", "1");
  OpenWith({});
  EXPECT_EQ(form_->Receiver().ReceiverIndex(), 0u);
  EXPECT_EQ(Lines().filter(QString::fromUtf8("00000002")).size(), 1) << form_->reportLog->toPlainText().toStdString();
}

// "Crop step edges" follows "Fast sweep": off at first; its key crops a
// quarter of each step, the sweep goes on over the same range with its
// centres mended, and the choice comes back at the next start. A share
// given with -c is what the entry crops for that run.
TEST_F(ReceiverControlTest, CropStepEdgesFromTheMenuIsRemembered) {
  {
    MainWindow& f = OpenWith({});
    auto* menu = f.findChild<wg::TReceiverMenu*>();
    ASSERT_NE(menu, nullptr);
    const auto entries = f.ChartMenu->actions();
    const qsizetype fast = entries.indexOf(menu->FastAction());
    ASSERT_GE(fast, 0);
    ASSERT_EQ(entries.value(fast + 1), menu->CropAction());
    EXPECT_EQ(menu->CropAction()->text(), QStringLiteral("Crop step edges"));
    EXPECT_FALSE(menu->CropAction()->isChecked());
    EXPECT_EQ(f.Sweep().Crop(), 0);
    EXPECT_EQ(NextSweep()->pointsPerStep, 4096);
    // Both keys work from the window, not only while the menu is open.
    EXPECT_FALSE(f.Sweep().Fast());
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(menu->FastAction()->isChecked());
    EXPECT_TRUE(f.Sweep().Fast());
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(f.Sweep().Fast());

    QTest::keyClick(&f, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(menu->CropAction()->isChecked());
    EXPECT_EQ(f.Sweep().Crop(), 0.25);
    EXPECT_EQ(settings_->Values().crop, 0.25);
    EXPECT_TRUE(f.Sweep().Running());
    const wg::SweepPtr s = NextSweep();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pointsPerStep, 3072);
    EXPECT_TRUE(s->centreMended);
    EXPECT_EQ(s->stepStarts.front(), kStart);
    EXPECT_EQ(f.Series1->PointCount(), 4096);  // the range's points, as without crop
    EXPECT_NEAR(PeakAfterFreshSweeps(), kCarrierHz + 393100, 2 * 781.25);
    form_.reset();
  }
  {
    MainWindow& f = OpenWith({});
    EXPECT_EQ(f.Sweep().Crop(), 0.25);
    EXPECT_TRUE(f.findChild<wg::TReceiverMenu*>()->CropAction()->isChecked());
    form_.reset();
  }
  wg::Options o;
  o.crop = 0.4;
  MainWindow& f = OpenWith(o);
  auto* menu = f.findChild<wg::TReceiverMenu*>();
  EXPECT_EQ(f.Sweep().Crop(), 0.4);
  EXPECT_EQ(settings_->Values().crop, 0.25);  // the option is for this run
  menu->CropAction()->trigger();
  EXPECT_EQ(f.Sweep().Crop(), 0);
  EXPECT_EQ(settings_->Values().crop, 0);
  menu->CropAction()->trigger();
  EXPECT_EQ(f.Sweep().Crop(), 0.4);
  EXPECT_EQ(settings_->Values().crop, 0.4);
}

// "Show DC spike" follows "Crop step edges": off at first, the sweeps come
// with their centres mended; ticked, as the stick delivers them, and so at
// the next start. --dc-spike shows it for its run.
TEST_F(ReceiverControlTest, ShowDcSpikeFromTheMenuIsRemembered) {
  for (const bool shown : {false, true}) {
    MainWindow& f = OpenWith({});
    QAction* entry = f.findChild<wg::TReceiverMenu*>()->DcSpikeAction();
    ASSERT_EQ(f.ChartMenu->actions().value(f.ChartMenu->actions().indexOf(entry) - 1),
              f.findChild<wg::TReceiverMenu*>()->CropAction());
    EXPECT_EQ(entry->isChecked(), shown);
    // One sweep may have been on its way to the window when it was ticked.
    wg::SweepPtr s = NextSweep();
    if (s && s->centreMended == shown) s = NextSweep();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->centreMended, !shown);
    if (!shown) QTest::keyClick(&f, Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    form_.reset();
  }
  wg::Options o;
  o.dcSpike = true;
  settings_->SetDcSpike(false);
  settings_->Sync();
  EXPECT_TRUE(OpenWith(o).Sweep().KeepDcSpike());
  EXPECT_FALSE(settings_->Values().dcSpike);  // the option is for this run
}

// A rate whose points cannot reach the stop cuts the range in force short:
// the editors, the axis and one line say so, the range the user set is kept
// and comes back whole with a rate that reaches it again.
TEST_F(ReceiverControlTest, ALowRateCutsTheRangeInSightAndAHigherOneGivesItBack) {
  wg::Options o;
  o.start = 24000000, o.stop = 1766000000;
  MainWindow& f = OpenWith(o);
  auto* menu = f.findChild<wg::TReceiverMenu*>();
  ASSERT_NE(menu, nullptr);
  const auto cutLine = [](const char* stop, const char* wanted) {
    return QString::fromUtf8("Конец сканирования, МГц: %1 вместо %2 — при полосе 1024000 Hz развёртка не шире 1280 МГц")
        .arg(stop, wanted);
  };
  const auto expectStop = [&](int64_t hz, const char* text) {
    EXPECT_EQ(f.Sweep().StopFrequency(), hz) << text;
    EXPECT_EQ(f.StopFreqEdit->text(), text);
    EXPECT_EQ(f.Chart1->BottomAxis()->Maximum(), static_cast<double>(hz)) << text;
  };
  menu->ChooseRate(1024000);
  EXPECT_EQ(LastLineOnce(cutLine("1304", "1766")), cutLine("1304", "1766"));
  expectStop(1304000000, "1304");
  EXPECT_EQ(f.Series1->PointCount(), 5120000);

  // A new start keeps the stop asked for, and remembers it.
  f.StartFreqEdit->SetValue(100);
  EXPECT_EQ(LastLineOnce(cutLine("1380", "1766")), cutLine("1380", "1766"));
  expectStop(1380000000, "1380");
  EXPECT_EQ(settings_->Values().range, (wg::ScanRange{100000000, 1766000000}));

  const QString whole = QString::fromUtf8("Конец сканирования, МГц: 1766 — диапазон больше не сокращён");
  menu->ChooseRate(3200000);
  EXPECT_EQ(LastLineOnce(whole), whole);
  expectStop(1766000000, "1766");
  EXPECT_EQ(Lines().filter(QString::fromUtf8("Конец сканирования")).size(), 3) << Lines().join('\n').toStdString();

  // Typed wider than the rate reaches: the typed text stays while typed,
  // the stop in force shows once done.
  menu->ChooseRate(1024000);
  EXPECT_EQ(LastLineOnce(cutLine("1380", "1766")), cutLine("1380", "1766"));
  f.activateWindow();
  (void)QTest::qWaitForWindowActive(&f);
  f.StopFreqEdit->setFocus();
  f.StopFreqEdit->selectAll();
  QTest::keyClicks(f.StopFreqEdit, "2000");
  EXPECT_EQ(f.StopFreqEdit->text(), "2000");
  EXPECT_EQ(f.Sweep().StopFrequency(), 1380000000);
  QTest::keyClick(f.StopFreqEdit, Qt::Key_Return);
  EXPECT_EQ(LastLine(), cutLine("1380", "2000"));
  expectStop(1380000000, "1380");
  EXPECT_EQ(settings_->Values().range, (wg::ScanRange{100000000, 2000000000}));
}

// The receiver hangs in a read: a control used before the watchdog has
// noticed (the first second) holds the window no longer than one used
// after, its change waits instead of the window, and its line says that it
// was never applied once the receiver is known to be lost.
TEST_F(ReceiverControlTest, ControlsNeverHoldTheWindowForAHungReceiver) {
  using namespace std::chrono_literals;
  ::setenv("RTLSDR_SIM_FAULT", "hang", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "3", 1);
  MainWindow& f = OpenWith({});
  ::unsetenv("RTLSDR_SIM_FAULT");
  ::unsetenv("RTLSDR_SIM_FAULT_AFTER");
  auto* menu = f.findChild<wg::TReceiverMenu*>();
  ASSERT_NE(menu, nullptr);
  QTest::qWait(150);  // three blocks, then the read that hangs
  ASSERT_FALSE(f.Sweep().WorkerAbandoned());
  const auto timed = [](auto&& act) { return wgtest::HeldFor(act); };
  const int before = static_cast<int>(Lines().size());
  EXPECT_LT(timed([&] { EXPECT_FALSE(menu->ChooseGain(496)); }), 100ms);
  EXPECT_LT(timed([&] { EXPECT_FALSE(menu->ChooseRate(2400000)); }), 100ms);
  EXPECT_EQ(Lines().size(), before) << "said before it was settled";
  const QString gain = QString::fromUtf8("Усиление, дБ: 49.6 — не применено: приёмник не отвечает");
  const QString rate = QString::fromUtf8("Полоса: 2400000 Hz — не применено: приёмник не отвечает");
  for (int i = 0; i < 200 && !Lines().contains(rate); ++i) QTest::qWait(20);
  EXPECT_TRUE(f.Sweep().WorkerAbandoned());
  const QStringList lines = Lines();
  ASSERT_TRUE(lines.contains(gain)) << f.reportLog->toPlainText().toStdString();
  EXPECT_LT(lines.indexOf(gain), lines.indexOf(rate));
  // Nothing reached the receiver or the settings; later choices are said at once.
  EXPECT_EQ(f.Receiver().CurrentGainMode(), wg::GainMode::Written);
  EXPECT_EQ(f.Receiver().SampleRate(), 3200000u);
  EXPECT_FALSE(settings_->Values().gain.has_value());
  EXPECT_LT(timed([&] { EXPECT_FALSE(menu->ChooseCorrection(0)); }), 100ms);
  EXPECT_EQ(LastLine(), QString::fromUtf8("PPM: 0 — не применено: приёмник не отвечает")) << f.reportLog->toPlainText().toStdString();
}

// Closed in the first second of a hang (before the watchdog says so), the
// window does not wait for the read: the handle is let go of off its thread.
TEST_F(ReceiverControlTest, ClosingDuringAHangDoesNotHoldTheWindow) {
  using namespace std::chrono_literals;
  ::setenv("RTLSDR_SIM_FAULT", "hang", 1);
  ::setenv("RTLSDR_SIM_FAULT_AFTER", "3", 1);
  OpenWith({});
  ::unsetenv("RTLSDR_SIM_FAULT");
  ::unsetenv("RTLSDR_SIM_FAULT_AFTER");
  QTest::qWait(150);  // three blocks, then the read that hangs
  ASSERT_FALSE(form_->Sweep().WorkerAbandoned());
  EXPECT_LT(wgtest::HeldFor([&] { form_.reset(); }), 100ms);
}

// A stick served by Debian's rtl_tcp over the simulator, chosen with -d: the
// report says where it is served from and the carrier shows where it is; a
// server that is not there is one line, and the menu stays usable.
TEST_F(ReceiverControlTest, ARemoteStickSweepsInTheWindowAndOneNotThereIsOneLine) {
  if (std::string(WG_RTL_TCP).empty()) GTEST_SKIP() << "rtl_tcp (Debian package rtl-sdr) not found";
  wgtest::RtlTcpServer server(WG_RTL_TCP, QFileInfo(QStringLiteral(WG_SIM_LIB)).absolutePath().toStdString(),
                              {{"RTLSDR_SIM_SCENE", dir_.filePath("scene.txt").toStdString()},
                               {"RTLSDR_SIM_PACE", "1"}, {"RTLSDR_SIM_FILTER", "0"}, {"RTLSDR_SIM_PPM", "0"}});
  ASSERT_TRUE(server.Start());
  const std::string where = "127.0.0.1:" + std::to_string(server.Port());
  wg::Options o;
  o.device = "rtl_tcp=" + where;
  o.ppm = 0;
  MainWindow& f = OpenWith(o);
  // The report comes once the receiver has connected.
  const QString servedFrom = QString::fromStdString("Приёмник по сети, сервер rtl_tcp: " + where);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Lines().contains(servedFrom); }, 20000)) << Lines().join('|').toStdString();
  EXPECT_NEAR(PeakAfterFreshSweeps(), kCarrierHz, 781.25);
  EXPECT_TRUE(f.Receiver().IsOpen());
  form_.reset();

  o.device = "rtl_tcp=127.0.0.1:" + std::to_string(wgtest::FreePort());
  MainWindow& g = OpenWith(o);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Lines().filter(QStringLiteral("rtl_tcp=")).isEmpty(); }, 20000));
  QTest::qWait(50);
  EXPECT_EQ(Lines().filter(QStringLiteral("rtl_tcp=")).size(), 1) << Lines().join('|').toStdString();
  EXPECT_TRUE(LastLine().contains(QString::fromUtf8("там никто не слушает"))) << LastLine().toStdString();
  EXPECT_FALSE(g.Receiver().IsOpen());
  const QPoint at(300, 150);
  QTest::mousePress(g.Chart1, Qt::RightButton, {}, at);
  QTest::mouseRelease(g.Chart1, Qt::RightButton, {}, at);
  EXPECT_TRUE(g.ChartMenu->isVisible()) << "the menu still opens";
  g.ChartMenu->close();
}

}  // namespace
