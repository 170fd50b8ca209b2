#include "api_rtl_sdr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A fresh folder with a plugins folder inside; removed afterwards.
struct PluginsFolder : ::testing::Test {
  fs::path root, plugins;
  fs::path cwd = fs::current_path();
  void SetUp() override {
    api_rtl_sdr::Unload();
    char tmpl[] = "/tmp/wg-loader-XXXXXX";
    root = ::mkdtemp(tmpl);
    plugins = root / "plugins";
    fs::create_directory(plugins);
  }
  void TearDown() override {
    api_rtl_sdr::Unload();
    fs::current_path(cwd);
    fs::remove_all(root);
  }
  void Place(const std::string& from, const fs::path& dir) {
    // A new file, never a rewrite of one that may be mapped already.
    fs::remove(dir / api_rtl_sdr::kLibraryFile);
    fs::copy_file(from, dir / api_rtl_sdr::kLibraryFile);
  }
  int NullCount() {
    int n = 0;
    for (int i = 0; i < api_rtl_sdr::kEntryPointCount; ++i)
      if (*api_rtl_sdr::EntryPointSlot(i) == nullptr) ++n;
    return n;
  }
};

TEST_F(PluginsFolder, RealLibraryBindsAllEntryPoints) {
  Place(WG_SYSTEM_RTLSDR, plugins);
  api_rtl_sdr::LoadFrom(plugins.string());
  ASSERT_TRUE(api_rtl_sdr::Loaded());
  EXPECT_EQ(NullCount(), 0);
  EXPECT_NE(api_rtl_sdr::rtlsdr_read_sync, nullptr);
  EXPECT_NE(api_rtl_sdr::rtlsdr_cancel_async, nullptr);
  EXPECT_EQ(fs::current_path(), plugins);
  EXPECT_EQ(api_rtl_sdr::LibraryPath(), (plugins / "librtlsdr.so").string());
}

TEST_F(PluginsFolder, MissingNamesStayNullOthersAreBound) {
  Place(WG_PARTIAL_LIB, plugins);
  api_rtl_sdr::LoadFrom(plugins.string());
  ASSERT_TRUE(api_rtl_sdr::Loaded());
  const std::set<std::string> present = {"rtlsdr_get_device_count", "rtlsdr_get_device_name",
                                         "rtlsdr_reset_buffer"};
  for (int i = 0; i < api_rtl_sdr::kEntryPointCount; ++i) {
    const bool bound = *api_rtl_sdr::EntryPointSlot(i) != nullptr;
    EXPECT_EQ(bound, present.count(api_rtl_sdr::kEntryPointNames[i]) == 1)
        << api_rtl_sdr::kEntryPointNames[i];
  }
  EXPECT_EQ(api_rtl_sdr::rtlsdr_get_device_count(), 3u);
}

TEST_F(PluginsFolder, NoPluginsFolderLeavesLibraryAbsent) {
  fs::remove(plugins);
  api_rtl_sdr::LoadFrom(plugins.string());
  EXPECT_FALSE(api_rtl_sdr::Loaded());
  EXPECT_EQ(NullCount(), api_rtl_sdr::kEntryPointCount);
}

TEST_F(PluginsFolder, OnlyThePluginsFileIsEverTaken) {
  // A library beside the plugins folder, and the system's own in its usual
  // place, must not stand in for a missing plugins file.
  Place(WG_SYSTEM_RTLSDR, root);
  setenv("LD_LIBRARY_PATH", root.c_str(), 1);
  api_rtl_sdr::LoadFrom(plugins.string());
  EXPECT_FALSE(api_rtl_sdr::Loaded());
  EXPECT_EQ(NullCount(), api_rtl_sdr::kEntryPointCount);
  // The executable's own folder has no plugins folder either.
  api_rtl_sdr::Unload();
  api_rtl_sdr::Load();
  EXPECT_FALSE(api_rtl_sdr::Loaded());
}

TEST_F(PluginsFolder, SecondLoadDoesNothing) {
  Place(WG_PARTIAL_LIB, plugins);
  api_rtl_sdr::LoadFrom(plugins.string());
  ASSERT_TRUE(api_rtl_sdr::Loaded());
  // A different library appearing later is not picked up.
  Place(WG_SYSTEM_RTLSDR, plugins);
  api_rtl_sdr::LoadFrom(plugins.string());
  api_rtl_sdr::Load();
  EXPECT_EQ(api_rtl_sdr::rtlsdr_open, nullptr);
  EXPECT_EQ(api_rtl_sdr::rtlsdr_get_device_count(), 3u);
}

TEST_F(PluginsFolder, FailedLoadIsNotRetried) {
  api_rtl_sdr::LoadFrom(plugins.string());
  ASSERT_FALSE(api_rtl_sdr::Loaded());
  Place(WG_SYSTEM_RTLSDR, plugins);
  api_rtl_sdr::LoadFrom(plugins.string());
  EXPECT_FALSE(api_rtl_sdr::Loaded());
}

TEST(TunerNames, KnownAndUnknownValues) {
  EXPECT_EQ(api_rtl_sdr::TunerName(0), "RTLSDR_TUNER_UNKNOWN");
  EXPECT_EQ(api_rtl_sdr::TunerName(5), "RTLSDR_TUNER_R820T");
  EXPECT_EQ(api_rtl_sdr::TunerName(6), "RTLSDR_TUNER_R828D");
  EXPECT_EQ(api_rtl_sdr::TunerName(7), "7");
  EXPECT_EQ(api_rtl_sdr::TunerName(255), "255");
}

}  // namespace
