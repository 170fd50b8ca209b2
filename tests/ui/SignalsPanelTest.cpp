// The signals panel and the receiver strip on the real window over the
// simulated receiver's default scene.
#include "app/Settings.h"
#include "chart/Chart.h"
#include "record/SignalsCsv.h"
#include "tests/ui/FormFixture.h"
#include "ui/KeepWhatWasSeen.h"
#include "ui/ReadTheAir.h"
#include "ui/ReceiverStrip.h"
#include "ui/SignalsPanel.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

// The carriers of the default scene that stand clear of the noise of a
// single transform, and the simulated stick's bin width.
constexpr double kCarriers[] = {138512500.0, 140125000.0, 145500000.0, 146520000.0, 151400000.0};
constexpr double kBin = 781.25;

class SignalsPanelTest : public FormTest {
 protected:
  // The panel opened by its shortcut, with the table holding a few sweeps.
  wg::TSignalsPanel& OpenPanel(MainWindow& f) {
    QTest::keyClick(&f, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    wg::TSignalsPanel& p = f.Signals();
    EXPECT_TRUE(p.isVisible());
    const auto all = [&] {
      for (double hz : kCarriers)
        if (!Has(p.Signals(), hz, kBin)) return false;
      return true;
    };
    for (int i = 0; i < 500 && !all(); ++i) {
      QTest::qWait(20);
      p.Catchup(std::chrono::milliseconds(0));
    }
    return p;
  }
  static bool Has(const std::vector<wg::TSignal>& s, double hz, double within) {
    return std::any_of(s.begin(), s.end(), [&](const wg::TSignal& x) { return std::fabs(x.frequency - hz) <= within; });
  }
};

TEST_F(SignalsPanelTest, TheTableFollowsTheSweepsSortsZoomsClearsAndExports) {
  MainWindow& f = OpenActive();
  EXPECT_FALSE(f.Signals().isVisible()) << "closed until asked for";
  wg::TSignalsPanel& p = OpenPanel(f);
  const double bin = kBin;
  for (double hz : kCarriers) EXPECT_TRUE(Has(p.Signals(), hz, bin)) << hz;

  // Sorted by peak level, strongest first: the 145.5 MHz carrier (-36 dB in the scene).
  p.Table()->sortByColumn(1, Qt::DescendingOrder);
  const QModelIndex top = p.Table()->model()->index(0, 0);
  EXPECT_NEAR(top.data(Qt::UserRole).toDouble(), 145.5e6, bin);
  // A click zooms the chart to it.
  QTest::mouseClick(p.Table()->viewport(), Qt::LeftButton, {}, p.Table()->visualRect(top).center());
  const wg::TChartAxis* b = f.Chart1->BottomAxis();
  EXPECT_LT(b->Minimum(), 145.5e6);
  EXPECT_GT(b->Maximum(), 145.5e6);
  EXPECT_LT(b->Maximum() - b->Minimum(), 200e3);
  EXPECT_NEAR(p.SelectedHz(), 145.5e6, bin);
  // It stays chosen as the table follows further sweeps.
  const uint64_t before = p.Sweeps();
  for (int i = 0; i < 500 && p.Sweeps() < before + 3; ++i) {
    QTest::qWait(20);
    p.Catchup(std::chrono::milliseconds(0));
  }
  EXPECT_GE(p.Sweeps(), before + 3);
  EXPECT_NEAR(p.SelectedHz(), 145.5e6, bin);

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("signals.csv"));
  ASSERT_TRUE(p.ExportCsv(path));
  std::ifstream in(path.toStdString());
  std::string header;
  std::getline(in, header);
  EXPECT_EQ(header, wg::kSignalsCsvHeader);
  size_t rows = 0;
  for (std::string line; std::getline(in, line);) ++rows;
  EXPECT_EQ(rows, p.Signals().size());
  EXPECT_FALSE(p.ExportCsv(dir.filePath(QStringLiteral("no/such/folder.csv"))));
  EXPECT_TRUE(p.Status()->text().contains(QStringLiteral(": could not be written: "))) << p.Status()->text().toStdString();

  p.findChild<QPushButton*>(QStringLiteral("signals-clear"))->click();
  EXPECT_TRUE(p.Signals().empty());
  EXPECT_EQ(p.Table()->model()->rowCount(), 0);
}

// A remote control of the test's own answers as gqrx does.
TEST_F(SignalsPanelTest, ListenInGqrxFromARowAndFromAMarker) {
  QTcpServer server;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
  QList<QByteArray> heard;
  QObject::connect(&server, &QTcpServer::newConnection, [&] {
    QTcpSocket* s = server.nextPendingConnection();
    QObject::connect(s, &QTcpSocket::readyRead, s, [s, &heard] {
      while (s->canReadLine()) {
        heard << s->readLine().trimmed();
        s->write("RPRT 0\n");
      }
    });
  });
  MainWindow& f = OpenActive();
  wg::TSignalsPanel& p = OpenPanel(f);
  auto* address = p.findChild<QLineEdit*>(QStringLiteral("gqrx-address"));
  EXPECT_EQ(address->text(), QStringLiteral("127.0.0.1:7356")) << "gqrx's own default";
  address->setText(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
  emit address->editingFinished();
  EXPECT_EQ(f.Settings().Values().gqrxAddress, address->text().toStdString()) << "remembered";

  p.Table()->selectRow(0);
  const double first = p.SelectedHz();
  ASSERT_TRUE(std::isfinite(first));
  p.findChild<QPushButton*>(QStringLiteral("signals-listen"))->click();
  for (int i = 0; i < 200 && heard.isEmpty(); ++i) QTest::qWait(10);
  ASSERT_EQ(heard.size(), 1);
  EXPECT_EQ(heard[0], "F " + QByteArray::number(std::llround(first)));

  // A marker's own menu tunes gqrx to the marker.
  f.Air().SetFixedMarkers({146.52e6});
  f.Chart1->repaint();
  const wg::TReadTheAir::TLayout l = f.Air().Layout(nullptr);
  f.Air().OpenMarkerMenu(0, f.Chart1->mapToGlobal(l.tips[0]));
  f.Air().MarkerMenu()->findChild<QAction*>(QStringLiteral("marker-listen"))->trigger();
  f.Air().MarkerMenu()->hide();
  for (int i = 0; i < 200 && heard.size() < 2; ++i) QTest::qWait(10);
  ASSERT_EQ(heard.size(), 2);
  EXPECT_EQ(heard[1], "F 146520000");
  for (int i = 0; i < 200 && !Lines().join('\n').contains(QStringLiteral("146.5200")); ++i) QTest::qWait(10);
  EXPECT_TRUE(Lines().join('\n').contains(QStringLiteral("146.5200 MHz"))) << "the outcome is in the log";

  // The narrow FM row at 144.8 MHz, once its peak has wandered over some
  // kilohertz: gqrx's narrow FM first, and the log says so.
  const QAbstractItemModel* m = p.Table()->model();
  const auto nfm = [&] {
    for (int r = 0; r < m->rowCount(); ++r)
      if (std::fabs(m->index(r, 0).data(Qt::UserRole).toDouble() - 144.8e6) < 6e3 && m->index(r, 4).data(Qt::UserRole).toDouble() > 6e3)
        return p.Table()->selectRow(r), true;
    return false;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.Catchup(std::chrono::milliseconds(0)), nfm(); }, 60000));
  const double hz = p.SelectedHz();
  p.findChild<QPushButton*>(QStringLiteral("signals-listen"))->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return heard.size() == 4 && (Lines().join('\n') + '\n').contains(" FM\n"); }, 30000));
  EXPECT_EQ(heard[2], "M FM");
  EXPECT_EQ(heard[3], "F " + QByteArray::number(std::llround(hz)));
}

TEST_F(SignalsPanelTest, TheReceiverStripIsOffUntilChosenThenShownAndRemembered) {
  MainWindow& f = OpenActive();
  wg::TReceiverStrip& strip = f.Strip();
  EXPECT_FALSE(strip.Shown());
  EXPECT_TRUE(strip.Rect().isEmpty());
  const QImage without = f.Keep().ChartImage();
  QTest::keyClick(&f, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(strip.Shown());
  EXPECT_TRUE(strip.Action()->isChecked());
  EXPECT_TRUE(f.Settings().Values().receiverStrip);
  for (int i = 0; i < 300 && !strip.Text().contains(QStringLiteral("sweeps/s")); ++i) QTest::qWait(20);
  const QString text = strip.Text();
  for (const char* part : {"SN ", "no gain set", " ppm", " MS/s", "live", " sweeps/s, ", " MHz/s"})
    EXPECT_TRUE(text.contains(QLatin1String(part))) << part << " in " << text.toStdString();
  // Small, at the top of the plot, and in the saved image.
  const wg::TRect plot = f.Chart1->GetPlotRect();
  const QRect r = strip.Rect();
  EXPECT_GE(r.top(), plot.Top);
  EXPECT_LT(r.bottom(), plot.Top + 20);
  EXPECT_LE(r.right(), plot.Right);
  f.StopSweep();
  const QImage with = f.Keep().ChartImage();
  const QImage stripOnly = with.copy(r);
  EXPECT_NE(stripOnly, without.copy(r));
  // Marker labels keep clear of it.
  f.Air().SetFixedMarkers({f.Chart1->BottomAxis()->PixelToValue(r.center().x())});
  const wg::TReadTheAir::TLayout l = f.Air().Layout(nullptr);
  EXPECT_FALSE(l.labels[0].intersects(r));
}

}  // namespace
