#include <QApplication>

#include <gtest/gtest.h>

#include "beep.h"

namespace {
void SilentBeep() {}
}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  rt::SetBeepSink(&SilentBeep);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
