// Saves pictures of the real window on the simulated receiver for a person to
// look at: plain, with the readout, markers and peak hold, the readout over a
// carrier at the full span, markers a pixel apart, the receiver strip, the
// signals panel, with the chart menu open, with the log in English, with the
// waterfall, with a recording opened, and over a survey of the whole tuner.
// Run under an X server (xvfb-run -a).
//
// Usage: ui_screenshot <simulated librtlsdr> <output folder>
#include "chart/Chart.h"
#include "chart/FastLineSeries.h"
#include "controls/SpinDouble.h"
#include "receiver/api_rtl_sdr.h"
#include "sweep/SweepEngine.h"
#include "ui/KeepWhatWasSeen.h"
#include "ui/ReadTheAir.h"
#include "ui/ReceiverStrip.h"
#include "ui/SignalsPanel.h"
#include "ui/RecordingView.h"
#include "ui/MainWindow.h"
#include "ui/waterfall/Waterfall.h"
#include "ui/waterfall/WaterfallSplitter.h"

#include <QAction>
#include <QFile>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTest>

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <simulated librtlsdr> <output folder>\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[2];
  // Remembered settings go beside the pictures, never into the user's own.
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((out / "config").string()));
  QApplication app(argc, argv);
  const fs::path plugins = out / "plugins";
  fs::create_directories(plugins);
  fs::copy_file(argv[1], plugins / "librtlsdr.so", fs::copy_options::overwrite_existing);
  api_rtl_sdr::LoadFrom(plugins.string());

  int rc = 0;
  {
    MainWindow f;
    f.show();
    f.activateWindow();
    (void)QTest::qWaitForWindowExposed(&f);
    QTest::qWait(1500);
    auto save = [&](const char* name) {
      QApplication::processEvents();
      const QRect r = f.frameGeometry().united(f.ChartMenu->isVisible() ? f.ChartMenu->geometry() : QRect());
      const QPixmap shot = f.screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
      if (!shot.save(QString::fromStdString((out / name).string()))) rc = 1;
    };
    save("plain.png");

    f.Air().SetMode(wg::TraceMode::PeakHold);
    f.Air().SetPeakMarker(true);
    f.Air().SetFixedMarkers({146.52e6, 151.4e6});
    QTest::qWait(1500);
    const QPoint at(f.Chart1->width() / 2, f.Chart1->height() / 2);
    QMouseEvent move(QEvent::MouseMove, at, f.Chart1->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(f.Chart1, &move);
    save("read-the-air.png");
    // What "Save image…" writes: the chart's own pixels with the readout and markers.
    if (!f.Keep().SaveImage(QString::fromStdString((out / "saved-image.png").string()))) rc = 1;

    // The readout over the strongest carrier at the full span, where a pixel
    // holds a dozen bins; markers one pixel apart; the receiver strip.
    f.Air().SetMode(wg::TraceMode::Live);
    f.Air().SetPeakMarker(false);
    f.Air().SetFixedMarkers({});
    const wg::TChartAxis* bottom = f.Chart1->BottomAxis();
    const int carrier = bottom->ValueToPixel(145.5e6);
    const QPoint onCarrier(carrier, f.Chart1->height() / 2);
    QMouseEvent moveOn(QEvent::MouseMove, onCarrier, f.Chart1->mapToGlobal(onCarrier), Qt::NoButton, Qt::NoButton,
                       Qt::NoModifier);
    QApplication::sendEvent(f.Chart1, &moveOn);
    save("readout-on-carrier.png");
    std::vector<double> close;
    for (int k = 0; k < 4; ++k) close.push_back(bottom->PixelToValue(carrier - 2 + k));
    f.Air().SetFixedMarkers(close);
    f.Air().SetPeakMarker(true);
    QApplication::sendEvent(f.Chart1, &moveOn);
    save("markers-close.png");
    f.Air().SetFixedMarkers({});
    f.Air().SetPeakMarker(false);
    f.Strip().SetShown(true);
    QTest::qWait(1500);
    save("strip.png");
    if (!f.Keep().SaveImage(QString::fromStdString((out / "saved-image-strip.png").string()))) rc = 1;
    f.Strip().SetShown(false);
    f.Signals().Open(true);
    QTest::qWait(3000);
    f.Signals().Catchup(std::chrono::milliseconds(500));
    f.Signals().Table()->sortByColumn(1, Qt::DescendingOrder);
    QApplication::processEvents();
    if (!f.Signals().grab().save(QString::fromStdString((out / "signals.png").string()))) rc = 1;
    f.Signals().Open(false);

    f.Air().SetMode(wg::TraceMode::Average);
    QTest::qWait(1500);
    QApplication::sendEvent(f.Chart1, &move);
    save("average.png");

    f.ChartMenu->popup(f.Chart1->mapToGlobal(at));
    QTest::qWait(300);
    save("menu.png");
    f.ChartMenu->hide();

    // The log in English from here on, with the report written again.
    if (auto* english = f.findChild<QAction*>(QStringLiteral("log-in-english"))) english->trigger();
    f.SetUpReceiver();
    QTest::qWait(1500);
    save("english.png");

    // The waterfall under the trace, filled for a few seconds in a larger
    // window, then zoomed in so its rows are drawn again from the history.
    f.Air().SetMode(wg::TraceMode::Live);
    f.Air().SetPeakMarker(false);
    f.Air().SetFixedMarkers({});
    const QRect before = f.geometry();
    f.move(0, 0);  // on the screen whole, which is 1280 x 1024 by default
    f.resize(1280, 800);
    f.Splitter1->Action()->trigger();
    QTest::qWait(4000);
    const QPoint over(f.Waterfall1->width() / 2, 10);
    QMouseEvent hover(QEvent::MouseMove, over, f.Waterfall1->mapToGlobal(over), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(f.Waterfall1, &hover);
    save("waterfall.png");
    f.Chart1->ZoomCentred(115);
    f.Chart1->ZoomCentred(115);
    QTest::qWait(500);
    save("waterfall-zoomed.png");
    f.Splitter1->Action()->trigger();
    f.Chart1->UndoZoom();
    f.setGeometry(before);

    // A recording of a few seconds opened again: one sweep on the chart, all
    // of them in the waterfall, the bar with its slider on the chart.
    const QString recorded = QString::fromStdString((out / "recorded.csv").string());
    QFile::remove(recorded);
    f.Keep().StartRecording(recorded);
    QTest::qWait(5000);
    f.Keep().StopRecording();
    f.move(0, 0);
    f.resize(1280, 800);
    f.Recording().Open(recorded);
    for (int i = 0; i < 200 && !f.Recording().Scanned(); ++i) QTest::qWait(50);
    QTest::keyClick(&f, Qt::Key_PageDown);
    QTest::keyClick(&f, Qt::Key_PageDown);
    QTest::qWait(1000);
    f.Air().SetPeakMarker(true);
    QApplication::sendEvent(f.Chart1, &move);
    QTest::qWait(300);
    save("recording.png");
    f.Air().SetPeakMarker(false);
    f.Recording().BackToLive();
    f.setGeometry(before);

    // A survey of the whole tuner, 24-1766 MHz (2.2 million points), once its
    // first sweep is in; slow on a simulated stick at the real pace.
    f.Air().SetMode(wg::TraceMode::Live);
    f.StopFreqEdit->SetValue(1766);
    f.StartFreqEdit->SetValue(24);
    wg::TFastLineSeries* s = f.Series1;
    for (int i = 0; i < 600 && (s->PointCount() == 0 || s->PointX(s->PointCount() - 1) == 0); ++i) QTest::qWait(50);
    QTest::qWait(200);
    save("survey.png");
  }
  api_rtl_sdr::Unload();
  return rc;
}
