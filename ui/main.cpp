// Start-up and shut-down of Wideglass: the receiver library is bound before
// any window exists and released only after the window, and with it the sweep
// worker, is gone.
#include "api_rtl_sdr.h"
#include "numtext.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  api_rtl_sdr::Load();
  int rc = 0;
  {
    QApplication app(argc, argv);
    QLabel window(QString::fromUtf8(api_rtl_sdr::Loaded() ? "Receiver library loaded from %1"
                                                          : "Receiver library not found: %1")
                      .arg(QString::fromStdString(api_rtl_sdr::LibraryPath())));
    window.setWindowTitle(QStringLiteral("  vodr_Wideglass for RTL-SDR"));
    window.resize(845, 326);
    window.show();
    rc = app.exec();
  }
  api_rtl_sdr::Unload();
  return rc;
}
