// Start-up and shut-down of Wideglass: the command line is read before
// anything else, so that a bad option ends the program before a display or
// the receiver is touched; the receiver library is bound before any window
// exists and released only after the window, and with it the sweep worker, is
// gone.
#include "app/HeatMap.h"
#include "app/Options.h"
#include "app/Settings.h"
#include "app/SurveyMode.h"
#include "chart/Chart.h"
#include "receiver/ReceiverList.h"
#include "receiver/RtlTcpProtocol.h"
#include "receiver/api_rtl_sdr.h"
#include "runtime/Beep.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "ui/FirstTraceNotice.h"
#include "ui/MainWindow.h"

#include <QApplication>

#include <chrono>
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

#include <cstdio>

namespace {

void ToolkitBeep() { QApplication::beep(); }

int Fail(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef M_MMAP_THRESHOLD
  // Buffers of a megabyte or more (a wide sweep's points and series) go back
  // to the system when the range narrows again; left to its own rule the
  // allocator raises this bound after the first such buffer and keeps them.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
  const wg::ParseResult parsed = wg::ParseOptions(argc, argv);
  switch (parsed.action) {
    case wg::ParseResult::Action::Help:
    case wg::ParseResult::Action::Version:
      std::printf("%s\n", parsed.text.c_str());
      return parsed.ExitStatus();
    case wg::ParseResult::Action::Error: return Fail(parsed.text);
    case wg::ParseResult::Action::Run: break;
  }
  const wg::Options& options = parsed.options;
  // A heat map needs neither the receiver nor a display.
  if (options.heatmap) return wg::RunHeatMap(argc, argv, options);

  if (options.receiverLibrary)
    api_rtl_sdr::LoadFile(*options.receiverLibrary);
  else
    api_rtl_sdr::Load();
  // A receiver asked for by name must exist; listing does not open it.
  if (options.device) {
    const auto serials = wg::ReceiverSerials();
    const auto listed = serials.value_or(std::vector<std::string>{});
    // A remote stick is checked for its address even without the library.
    const bool remote = options.device->find(wg::kRemoteNamePrefix) != std::string::npos;
    if ((serials || remote) && !wg::FindReceivers(*options.device, listed)) {
      api_rtl_sdr::Unload();
      return Fail("wideglass: -d '" + *options.device + "': no such receiver (" + wg::DescribeReceivers(listed) +
                  ")");
    }
  }

  int rc = 0;
  if (options.record) {
    rc = wg::RunSurvey(argc, argv, options);
  } else {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Wideglass"));
    app.setDesktopFileName(QStringLiteral("wideglass"));
    rt::SetBeepSink(&ToolkitBeep);
    {
      wg::TSettings settings(wg::TSettings::DefaultFile());
      MainWindow form(settings, options);
      wg::WatchFirstTrace(form, *form.Chart1, form.Sweep());
      form.show();
      rc = app.exec();
    }
    rt::SetBeepSink(nullptr);
  }
  // A receiver thread still closing its stick, or stuck for good inside the
  // library, holds the library mapped on its own; the process end takes both.
  wg::Receiver::WaitThreadsEnded(std::chrono::milliseconds(500));
  api_rtl_sdr::Unload();
  return rc;
}
