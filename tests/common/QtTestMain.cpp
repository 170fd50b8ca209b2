// The main() of every test program that needs widgets: the application object
// exists before any test, on the offscreen platform unless one is chosen
// (test discovery runs the programs without the test environment), the
// default beep stays silent, and remembered settings go to a folder of this
// run, never into the user's own.
#include "runtime/Beep.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
void SilentBeep() {}
}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  if (!config.isValid()) return 2;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  rt::SetBeepSink(&SilentBeep);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
