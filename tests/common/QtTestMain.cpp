// The main() of every test program that needs widgets: the application object
// exists before any test, on the offscreen platform unless one is chosen
// (test discovery runs the programs without the test environment), and the
// default beep stays silent.
#include "runtime/Beep.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {
void SilentBeep() {}
}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  rt::SetBeepSink(&SilentBeep);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
