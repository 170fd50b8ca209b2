// The main() of every test program that needs widgets: the application object
// exists before any test, on the offscreen platform unless one is chosen
// (test discovery runs the programs without the test environment), the
// default beep stays silent, remembered settings go to a folder of this
// run, never into the user's own, and the window's language, when nothing
// chooses it, is the Russian of its written texts: the messages locale is
// made a Russian one once the application has taken the C library's locale
// from the environment, so that the system's own messages stay as they were
// (the tests of the language choice set their own).
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
  qunsetenv("LC_ALL");
  qputenv("LC_MESSAGES", "ru_RU.UTF-8");
  rt::SetBeepSink(&SilentBeep);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
