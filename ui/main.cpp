// Start-up and shut-down of Wideglass: the receiver library is bound before
// any window exists and released only after the window, and with it the sweep
// worker, is gone.
#include "Unit1.h"
#include "api_rtl_sdr.h"
#include "beep.h"
#include "sweep_engine.h"

#include <QApplication>

namespace {

void ToolkitBeep() { QApplication::beep(); }

}  // namespace

int main(int argc, char** argv) {
  api_rtl_sdr::Load();
  int rc = 0;
  {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wideglass"));
    app.setDesktopFileName(QStringLiteral("wideglass"));
    rt::SetBeepSink(&ToolkitBeep);
    {
      TForm1 form;
      form.show();
      rc = app.exec();
    }
    rt::SetBeepSink(nullptr);
  }
  // A worker stuck for good inside the library still runs its code: leave
  // the library mapped then, and let the process end take both.
  if (wg::TSweepEngine::AbandonedWorkersAlive() == 0) api_rtl_sdr::Unload();
  return rc;
}
