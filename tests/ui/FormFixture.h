// The main window opened over a plugins folder of the test's choosing.
#pragma once

#include "receiver/Receiver.h"
#include "receiver/api_rtl_sdr.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

// Unloads the receiver library once every receiver thread has closed its
// stick. A simulated stick's read that hangs ends when the stick leaves the
// bus, as a real one's does when it is pulled out: a listing with no sticks
// configured takes them off, so that no thread is left for the next test.
inline void UnloadReceiverLibraryWhenFree() {
  if (!wg::Receiver::WaitThreadsEnded(std::chrono::milliseconds(500)) && api_rtl_sdr::rtlsdr_get_device_count) {
    const QByteArray devices = qgetenv("RTLSDR_SIM_DEVICES");
    qputenv("RTLSDR_SIM_DEVICES", "0");
    (void)api_rtl_sdr::rtlsdr_get_device_count();
    (void)(devices.isNull() ? qunsetenv("RTLSDR_SIM_DEVICES") : qputenv("RTLSDR_SIM_DEVICES", devices));
  }
  EXPECT_TRUE(wg::Receiver::WaitThreadsEnded(std::chrono::seconds(10))) << "a receiver thread outlived the test";
  api_rtl_sdr::Unload();
}

class FormTest : public ::testing::Test {
 protected:
  std::filesystem::path dir_;
  // A plugins folder holding a given library (or nothing), bound once per test.
  void Bind(const char* library) {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/wg-window-XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::create_directory(dir_ / "plugins");
    if (library) fs::copy_file(library, dir_ / "plugins" / "librtlsdr.so");
    api_rtl_sdr::LoadFrom((dir_ / "plugins").string());
  }
  void TearDown() override {
    form_.reset();
    UnloadReceiverLibraryWhenFree();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  MainWindow& Open(const char* library = WG_SIM_LIB) {
    Bind(library);
    form_ = std::make_unique<MainWindow>();
    form_->show();
    QApplication::processEvents();
    return *form_;
  }
  // Open and active, so that shortcuts and the focus behave as for a user.
  MainWindow& OpenActive() {
    MainWindow& f = Open();
    f.activateWindow();
    (void)QTest::qWaitForWindowActive(&f);
    return f;
  }
  QStringList Lines() const { return form_->reportLog->toPlainText().split('\n'); }
  std::unique_ptr<MainWindow> form_;
};
