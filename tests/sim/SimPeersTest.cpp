// The built simulator against real peers: the viewer's own loader binds it
// from a plugins folder, and Debian's rtl_sdr and rtl_power run on it through
// LD_LIBRARY_PATH as they would on a real stick.
#include "receiver/api_rtl_sdr.h"
#include "sweep/FftLevels.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kCentre = 146000000;
constexpr double kBinHz = 3200000.0 / 4096;

// A scratch folder with a scene file; removed afterwards.
class Peers : public ::testing::Test {
 protected:
  fs::path dir;
  fs::path cwd = fs::current_path();

  void SetUp() override {
    char tmpl[] = "/tmp/wg-sim-peers-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    api_rtl_sdr::Unload();
    fs::current_path(cwd);
    fs::remove_all(dir);
  }

  std::string Scene(const std::string& text) {
    std::ofstream(dir / "scene.txt") << text;
    return (dir / "scene.txt").string();
  }

  // Runs a command with the simulator in place of the system's librtlsdr;
  // its output goes to a log in the scratch folder. Returns the exit status.
  // A tool that does not stop by itself is killed after 30 s.
  int Run(const std::string& command, const std::string& scene) {
    const std::string log = (dir / "log.txt").string();
    const std::string line = "timeout -s KILL 30 env LD_LIBRARY_PATH='" WG_SIM_DIR
                             "' RTLSDR_SIM_PACE=0 RTLSDR_SIM_SCENE='" + scene + "' " + command +
                             " >'" + log + "' 2>&1 </dev/null";
    const int status = std::system(line.c_str());
    std::ifstream in(log);
    output.assign(std::istreambuf_iterator<char>(in), {});
    return status;
  }
  std::string output;

  // rtl_power with these arguments writing a CSV in the scratch folder, and
  // its lines split into fields: date, time, low Hz, high Hz, step Hz,
  // samples, dB, dB, ...
  std::vector<std::vector<std::string>> RtlPowerLines(const std::string& args, const std::string& scene) {
    const fs::path csv = dir / "power.csv";
    EXPECT_EQ(Run(std::string(WG_RTL_POWER) + " " + args + " '" + csv.string() + "'", scene), 0) << output;
    std::vector<std::vector<std::string>> lines;
    std::ifstream in(csv);
    for (std::string line; std::getline(in, line);) {
      std::stringstream ss(line);
      lines.emplace_back();
      for (std::string f; std::getline(ss, f, ',');) lines.back().push_back(f);
      EXPECT_GT(lines.back().size(), 16u) << line;
    }
    return lines;
  }
};

// The strongest bin of a block's spectrum.
int StrongestBin(const std::vector<uint8_t>& block) {
  double levels[wg::kFftSize];
  wg::SpectrumOfBlock(block.data(), block.size(), static_cast<long>(block.size()), levels);
  return static_cast<int>(std::max_element(levels, levels + wg::kFftSize) - levels);
}

int BinOf(double frequency, double centre) {
  return wg::kFftSize / 2 + static_cast<int>(std::lround((frequency - centre) / kBinHz));
}

TEST_F(Peers, ExportsExactlyTheHeadersFunctions) {
  const std::set<std::string> header = {
      "rtlsdr_get_device_count", "rtlsdr_get_device_name", "rtlsdr_get_device_usb_strings",
      "rtlsdr_get_index_by_serial", "rtlsdr_open", "rtlsdr_close", "rtlsdr_set_xtal_freq",
      "rtlsdr_get_xtal_freq", "rtlsdr_get_usb_strings", "rtlsdr_write_eeprom",
      "rtlsdr_read_eeprom", "rtlsdr_set_center_freq", "rtlsdr_get_center_freq",
      "rtlsdr_set_freq_correction", "rtlsdr_get_freq_correction", "rtlsdr_get_tuner_type",
      "rtlsdr_get_tuner_gains", "rtlsdr_set_tuner_gain", "rtlsdr_set_tuner_bandwidth",
      "rtlsdr_get_tuner_gain", "rtlsdr_set_tuner_if_gain", "rtlsdr_set_tuner_gain_mode",
      "rtlsdr_set_sample_rate", "rtlsdr_get_sample_rate", "rtlsdr_set_testmode",
      "rtlsdr_set_agc_mode", "rtlsdr_set_direct_sampling", "rtlsdr_get_direct_sampling",
      "rtlsdr_set_offset_tuning", "rtlsdr_get_offset_tuning", "rtlsdr_reset_buffer",
      "rtlsdr_read_sync", "rtlsdr_wait_async", "rtlsdr_read_async", "rtlsdr_cancel_async",
      "rtlsdr_set_bias_tee", "rtlsdr_set_bias_tee_gpio"};
  ASSERT_EQ(header.size(), 37u);
  EXPECT_EQ(fs::path(WG_SIM_LIB).filename(), "librtlsdr.so.0");

  void* lib = ::dlopen(WG_SIM_LIB, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  for (const std::string& name : header) EXPECT_NE(::dlsym(lib, name.c_str()), nullptr) << name;
  ::dlclose(lib);

  // Nothing else is visible: no C++ names of the simulator's insides.
  if (std::string(WG_NM).empty()) GTEST_SKIP() << "nm not found";
  const std::string cmd = std::string(WG_NM) + " -D --defined-only '" WG_SIM_LIB "' > '" +
                          (dir / "nm.txt").string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(dir / "nm.txt");
  std::set<std::string> exported;
  std::string addr, type, name;
  while (in >> addr >> type >> name) exported.insert(name);
  EXPECT_EQ(exported, header);
}

// The viewer's loader binds all 34 names from a plugins folder.
TEST_F(Peers, ViewerLoaderBindsEveryEntryPoint) {
  const fs::path plugins = dir / "plugins";
  fs::create_directory(plugins);
  fs::create_symlink(WG_SIM_LIB, plugins / api_rtl_sdr::kLibraryFile);
  api_rtl_sdr::LoadFrom(plugins.string());
  ASSERT_TRUE(api_rtl_sdr::Loaded());
  for (int i = 0; i < api_rtl_sdr::kEntryPointCount; ++i)
    EXPECT_NE(*api_rtl_sdr::EntryPointSlot(i), nullptr) << api_rtl_sdr::kEntryPointNames[i];
  EXPECT_EQ(api_rtl_sdr::rtlsdr_get_device_count(), 1u);
}

class RtlSdr : public Peers, public ::testing::WithParamInterface<const char*> {};

// Asynchronous reading (rtl_sdr's default) and synchronous reading (-S).
TEST_P(RtlSdr, CaptureShowsTheSceneCarrier) {
  if (std::string(WG_RTL_SDR).empty()) GTEST_SKIP() << "rtl_sdr (Debian package rtl-sdr) not found";
  const std::string scene = Scene("146400300 -45 carrier\n146950000 -60 carrier\n");
  const fs::path out = dir / "capture.bin";
  // rtl_sdr never stops when the byte count is a whole number of its
  // 262144-byte buffers, so ask for less than one.
  const int status = Run(std::string(WG_RTL_SDR) + " " + GetParam() +
                             " -f 146000000 -s 3200000 -n 100000 '" + out.string() + "'",
                         scene);
  ASSERT_EQ(status, 0) << output;
  EXPECT_NE(output.find("Realtek, RTL2838UHIDIR, SN: 00000001"), std::string::npos) << output;
  std::ifstream in(out, std::ios::binary);
  const std::vector<uint8_t> capture{std::istreambuf_iterator<char>(in), {}};
  ASSERT_EQ(capture.size(), 200000u);
  EXPECT_NEAR(StrongestBin(capture), BinOf(146400300, kCentre), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, RtlSdr, ::testing::Values("", "-S"),
                         [](const auto& info) {
                           return std::string(info.param).empty() ? "Async" : "Sync";
                         });

// rtl_power over 200 kHz around a carrier: its strongest bin is the
// carrier's, within one of its bins.
TEST_F(Peers, RtlPowerFindsTheSceneCarrier) {
  if (std::string(WG_RTL_POWER).empty())
    GTEST_SKIP() << "rtl_power (Debian package rtl-sdr) not found";
  // Weak enough that rtl_power's 16-bit arithmetic does not overflow after
  // its automatic gain.
  const double carrier = 146437300;
  const std::string scene = Scene("146437300 -60 carrier\n146350000 -75 carrier\n");
  const auto lines = RtlPowerLines("-f 146.3M:146.5M:1k -i 1 -1", scene);
  ASSERT_FALSE(lines.empty()) << output;
  const std::vector<std::string>& fields = lines.front();
  ASSERT_GT(fields.size(), 16u);
  const double low = std::stod(fields[2]);
  const double step = std::stod(fields[4]);
  std::vector<double> db;
  for (size_t i = 6; i < fields.size(); ++i) db.push_back(std::stod(fields[i]));
  const auto best = std::max_element(db.begin(), db.end()) - db.begin();
  EXPECT_NEAR(low + best * step, carrier, step);
}

// rtl_power over two hops (centres 144.25 and 146.75 MHz at 2.5 MS/s) flushes
// 4096 bytes after each retune and trusts the rest: a carrier in the upper
// hop must not show in the lower one (where it would land 2.5 MHz down).
TEST_F(Peers, RtlPowerSeesNoGhostOfTheOtherHop) {
  if (std::string(WG_RTL_POWER).empty())
    GTEST_SKIP() << "rtl_power (Debian package rtl-sdr) not found";
  const std::string scene = Scene("146520000 -50 carrier\n");
  const auto lines = RtlPowerLines("-f 143M:148M:10k -i 1 -1", scene);
  double ghost = -1e9, real = -1e9, floor = 0;
  int counted = 0;
  for (const std::vector<std::string>& fields : lines) {
    if (fields.size() <= 16) continue;
    const double low = std::stod(fields[2]);
    const double step = std::stod(fields[4]);
    for (size_t i = 6; i < fields.size(); ++i) {
      const double f = low + static_cast<double>(i - 6) * step;
      const double db = std::stod(fields[i]);
      if (std::abs(f - 146520000) < 2 * step) real = std::max(real, db);
      else if (std::abs(f - 144020000) < 2 * step) ghost = std::max(ghost, db);
      else {
        floor += db;
        ++counted;
      }
    }
  }
  ASSERT_GT(counted, 0) << output;
  floor /= counted;
  EXPECT_GT(real, floor + 15);
  EXPECT_LT(ghost, floor + 6) << "real " << real << " dB, floor " << floor << " dB";
}

}  // namespace
