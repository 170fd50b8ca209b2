// A receiver that goes away and comes back, seen in the window: the chart
// says so on its face, the log says it once each way, the trace goes on; and
// a remote receiver connects without holding the window.
#include "app/Options.h"
#include "app/Settings.h"
#include "chart/Chart.h"
#include "controls/SpinDouble.h"
#include "sweep/ReceiverSetup.h"
#include "tests/common/RunQueueWait.h"
#include "tests/common/StallMeter.h"
#include "tests/ui/FormFixture.h"
#include "ui/ReceiverAwayNotice.h"
#include "ui/ReceiverMenu.h"

#include <QImage>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

class ReceiverAwayTest : public FormTest {
 protected:
  void TearDown() override {
    FormTest::TearDown();
    settings_.reset();
    for (const char* v : {"RTLSDR_SIM_FAULT", "RTLSDR_SIM_FAULT_AFTER", "RTLSDR_SIM_REPLUG_MS"}) qunsetenv(v);
  }
  MainWindow& OpenWith(const wg::Options& o) {
    Bind(WG_SIM_LIB);
    settings_ = std::make_unique<wg::TSettings>(dir_.filePath("wideglass.ini"));
    form_ = std::make_unique<MainWindow>(*settings_, o);
    form_->show();
    return *form_;
  }
  int Count(const QString& line) const { return static_cast<int>(Lines().count(line)); }

  QTemporaryDir dir_;
  std::unique_ptr<wg::TSettings> settings_;
};

TEST_F(ReceiverAwayTest, AStickPulledOutIsSaidOnTheChartAndOnceEachWayAndTheTraceGoesOn) {
  qputenv("RTLSDR_SIM_FAULT", "unplug");
  qputenv("RTLSDR_SIM_FAULT_AFTER", "12");
  qputenv("RTLSDR_SIM_REPLUG_MS", "3000");
  MainWindow& f = Open();
  // The stick read these when it opened; back, it opens without a fault.
  for (const char* v : {"RTLSDR_SIM_FAULT", "RTLSDR_SIM_FAULT_AFTER", "RTLSDR_SIM_REPLUG_MS"}) qunsetenv(v);
  auto* notice = f.Chart1->findChild<wg::TReceiverAwayNotice*>();
  ASSERT_NE(notice, nullptr);
  EXPECT_FALSE(notice->Shown());
  const QString gone = QString::fromUtf8("Приёмник отключён (серийный номер 00000001): ожидаю его возвращения");
  const QString back = QString::fromUtf8("Приёмник снова подключён (серийный номер 00000001): сканирование продолжается");
  ASSERT_TRUE(QTest::qWaitFor([&] { return notice->Shown(); }, 20000)) << Lines().join('|').toStdString();
  EXPECT_FALSE(notice->Rect().isEmpty());
  EXPECT_TRUE(notice->Rect().intersects(f.Chart1->rect()));
  const QRect r = notice->Rect();
  const QImage face = f.Chart1->grab().toImage();
  EXPECT_EQ(face.pixelColor(r.left(), r.center().y()), QColor(0xb0, 0x20, 0x20)) << "its frame is on the chart";
  // A range edit while it is away is no new line.
  f.StartFreqEdit->SetValue(140);
  int sweeps = 0;
  const int id = f.Sweep().AddSweepListener([&](const wg::SweepPtr&) { ++sweeps; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->Shown(); }, 20000)) << Lines().join('|').toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return sweeps >= 2; }, 20000)) << "the trace goes on";
  f.Sweep().RemoveSweepListener(id);
  EXPECT_EQ(Count(gone), 1) << Lines().join('|').toStdString();
  EXPECT_EQ(Count(back), 1) << Lines().join('|').toStdString();
  EXPECT_TRUE(Lines().filter(QString::fromUtf8("Ошибка чтения")).isEmpty()) << Lines().join('|').toStdString();
  EXPECT_EQ(f.Sweep().StartFrequency(), 140000000);
}

// A value chosen while the stick is away is kept for it: said so, not as
// refused, remembered, and in force once the stick is back.
TEST_F(ReceiverAwayTest, AValueChosenWhileTheStickIsAwayIsKeptForItsReturn) {
  qputenv("RTLSDR_SIM_FAULT", "unplug");
  qputenv("RTLSDR_SIM_FAULT_AFTER", "12");
  qputenv("RTLSDR_SIM_REPLUG_MS", "3000");
  MainWindow& f = OpenWith({});
  for (const char* v : {"RTLSDR_SIM_FAULT", "RTLSDR_SIM_FAULT_AFTER", "RTLSDR_SIM_REPLUG_MS"}) qunsetenv(v);
  auto* notice = f.Chart1->findChild<wg::TReceiverAwayNotice*>();
  auto* menu = f.findChild<wg::TReceiverMenu*>();
  ASSERT_NE(notice, nullptr);
  ASSERT_NE(menu, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return notice->Shown(); }, 20000)) << Lines().join('|').toStdString();
  const QString later = QString::fromUtf8(" — будет применено, когда приёмник вернётся");
  menu->ChooseGain(402);
  EXPECT_EQ(Lines().last(), QString::fromUtf8("Усиление, дБ: 40.2") + later);
  menu->ChooseBiasTee(true);
  EXPECT_EQ(Lines().last(), QString::fromUtf8("Bias-T: вкл") + later);
  EXPECT_EQ(settings_->Values().gain, (wg::GainChoice{false, 402}));
  EXPECT_TRUE(Lines().filter(QString::fromUtf8("не принято")).isEmpty()) << Lines().join('|').toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !notice->Shown(); }, 20000)) << Lines().join('|').toStdString();
  const std::vector<wg::ReceiverId> ids = f.Sweep().Receivers();
  ASSERT_EQ(ids.size(), 1u);
  const wg::ReceiverSettings own = f.Sweep().FindReceiver(ids[0])->Settings();
  EXPECT_EQ(own.gainMode, wg::GainMode::Manual);
  EXPECT_EQ(own.gainTenths, 402);
  EXPECT_TRUE(own.biasTee);
}

// A server that takes the connection but never sends its header: the
// set-up returns at once, the window keeps turning, and the failure is one
// line once the connection has timed out; the menu stays usable.
TEST_F(ReceiverAwayTest, ARemoteReceiverConnectsWithoutHoldingTheWindow) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(listener, 8), 0);  // never accepts: the kernel completes the connection alone
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
  const std::string where = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  wg::Options o;
  o.device = "rtl_tcp=" + where;
  MainWindow& f = OpenWith(o);
  EXPECT_TRUE(Lines().filter(QStringLiteral("rtl_tcp=")).isEmpty()) << "the report waits for the connection";
  wgtest::StallMeter stalls;
  const QString failed = QString::fromStdString("Не удалось подключиться к приёмнику rtl_tcp=" + where);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Lines().filter(failed).isEmpty(); }, 20000)) << Lines().join('|').toStdString();
  EXPECT_LT(stalls.TakeLongest(), 100);
  // The set-up again, by hand: it returns at once.
  EXPECT_LT(wgtest::HeldFor([&] { f.SetUpReceiver(); }), 100ms);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Lines().filter(failed).size() == 2; }, 20000));
  EXPECT_LT(stalls.TakeLongest(), 100);
  EXPECT_FALSE(f.Receiver().IsOpen());
  const QPoint at(300, 150);
  QTest::mousePress(f.Chart1, Qt::RightButton, {}, at);
  QTest::mouseRelease(f.Chart1, Qt::RightButton, {}, at);
  EXPECT_TRUE(f.ChartMenu->isVisible()) << "the menu still opens";
  f.ChartMenu->close();
  ::close(listener);
}

}  // namespace
