#include "receiver/api_rtl_sdr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
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
  // Relative paths given later still resolve where the program was started.
  EXPECT_EQ(fs::current_path(), cwd);
  EXPECT_EQ(api_rtl_sdr::LibraryPath(), (plugins / "librtlsdr.so").string());
  EXPECT_EQ(api_rtl_sdr::Failure(), api_rtl_sdr::LoadFailure::None);
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
  EXPECT_EQ(api_rtl_sdr::Failure(), api_rtl_sdr::LoadFailure::Missing);
  EXPECT_EQ(fs::current_path(), cwd);
}

// A file that is there but is no library for this machine is not "missing":
// the system's reason is kept for the log.
TEST_F(PluginsFolder, UnloadableFileKeepsTheSystemsReason) {
  std::string foreign;  // a real library, marked as built for another machine
  {
    std::ifstream in(WG_PARTIAL_LIB, std::ios::binary);
    foreign.assign(std::istreambuf_iterator<char>(in), {});
    ASSERT_GT(foreign.size(), 20u);
    foreign[18] = foreign[18] == char(0xB7) ? char(0x3E) : char(0xB7);  // e_machine: AArch64 or x86-64
    foreign[19] = 0;
  }
  const struct {
    const char* name;
    std::string content;
  } rows[] = {{"empty file", ""}, {"text file", "INPUT(-lrtlsdr)\n"}, {"another machine's library", foreign}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    api_rtl_sdr::Unload();
    fs::remove(plugins / api_rtl_sdr::kLibraryFile);
    std::ofstream(plugins / api_rtl_sdr::kLibraryFile, std::ios::binary) << r.content;
    api_rtl_sdr::LoadFrom(plugins.string());
    EXPECT_FALSE(api_rtl_sdr::Loaded());
    EXPECT_EQ(api_rtl_sdr::Failure(), api_rtl_sdr::LoadFailure::Unloadable);
    EXPECT_FALSE(api_rtl_sdr::FailureReason().empty());
    EXPECT_EQ(api_rtl_sdr::FailureReason().find(plugins.string()), std::string::npos)
        << api_rtl_sdr::FailureReason();
  }
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

TEST_F(PluginsFolder, ChosenFileIsTakenByItsOwnName) {
  // Any name will do, and the plugins folder is not looked at.
  fs::copy_file(WG_PARTIAL_LIB, root / "simulator.so.0");
  Place(WG_SYSTEM_RTLSDR, plugins);
  api_rtl_sdr::LoadFile((root / "simulator.so.0").string());
  ASSERT_TRUE(api_rtl_sdr::Loaded());
  EXPECT_EQ(api_rtl_sdr::rtlsdr_get_device_count(), 3u);
  EXPECT_EQ(api_rtl_sdr::LibraryPath(), (root / "simulator.so.0").string());
  // A chosen file that is not there is said by its path, as a missing plugin is.
  api_rtl_sdr::Unload();
  api_rtl_sdr::LoadFile((root / "absent.so").string());
  EXPECT_FALSE(api_rtl_sdr::Loaded());
  EXPECT_EQ(api_rtl_sdr::Failure(), api_rtl_sdr::LoadFailure::Missing);
  EXPECT_EQ(api_rtl_sdr::LibraryPath(), (root / "absent.so").string());
}

TEST(TunerNames, KnownAndUnknownValues) {
  EXPECT_EQ(api_rtl_sdr::TunerName(0), "RTLSDR_TUNER_UNKNOWN");
  EXPECT_EQ(api_rtl_sdr::TunerName(5), "RTLSDR_TUNER_R820T");
  EXPECT_EQ(api_rtl_sdr::TunerName(6), "RTLSDR_TUNER_R828D");
  EXPECT_EQ(api_rtl_sdr::TunerName(7), "7");
  EXPECT_EQ(api_rtl_sdr::TunerName(255), "255");
}

}  // namespace
