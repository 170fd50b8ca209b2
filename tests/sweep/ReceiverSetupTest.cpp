// The receiver set-up, its record and the receiver controls against the
// scripted fake receiver, and with the library absent or incomplete.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <filesystem>
#include <memory>

#include "receiver/api_rtl_sdr.h"
#include "runtime/NumText.h"
#include "sweep/ReceiverSetup.h"
#include "sweep/SweepEngine.h"
#include "tests/common/RunQueueWait.h"
#include "tests/sweep/FakeRtlSdr.h"
#include "tests/sweep/SweepTestSupport.h"

using wg::GainMode;
using wg::ReceiverReport;
using wg::TReceiverSetup;
using wg::TSweepEngine;
using Outcome = ReceiverReport::Outcome;

namespace {

const std::vector<std::string> kWrittenSetupCalls{"count", "name 0", "usb 0", "open 0", "tuner", "rate 3200000",
                                                  "get_rate", "gains", "gain_mode 364", "set_ppm 2700", "get_ppm"};

class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::SetDecimalSeparator('.');
    fake::Install();
    engine = std::make_unique<TSweepEngine>(&series, ui.Poster(),
                                            [this](const std::string& s) { log.push_back(s); });
    setup = std::make_unique<TReceiverSetup>(*engine);
  }
  void TearDown() override {
    setup.reset();
    engine.reset();
    fake::Release();
    fake::Uninstall();
    api_rtl_sdr::Unload();
  }
  // A fresh fake with the script as `edit` leaves it, then the set-up with
  // the sweep stopped again.
  ReceiverReport RunSetup(const std::function<void(fake::Script&)>& edit = {}) {
    setup->Close();
    fake::Install();
    if (edit) edit(fake::script());
    ReceiverReport r = setup->Run();
    engine->Stop();
    return r;
  }
  // The receiver calls from the first `first` at or after record `from` up
  // to the sweep's first tuning.
  static std::vector<std::string> SetupCalls(const std::string& first = "count", size_t from = 0) {
    const auto all = fake::Calls();
    std::vector<std::string> out;
    size_t i = from;
    while (i < all.size() && all[i] != first) ++i;
    for (; i < all.size() && all[i].rfind("center", 0) != 0; ++i) out.push_back(all[i]);
    return out;
  }
  static bool Called(const std::string& call) {
    const auto calls = fake::Calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }

  wgtest::UiQueue ui;
  wgtest::TestSeries series;
  std::vector<std::string> log;
  std::unique_ptr<TSweepEngine> engine;
  std::unique_ptr<TReceiverSetup> setup;
};

TEST_F(Setup, OneReceiverIsOpenedConfiguredAsWrittenAndSwept) {
  const ReceiverReport r = setup->Run();
  EXPECT_TRUE(engine->Running());
  ASSERT_TRUE(fake::WaitReads(1, std::chrono::seconds(5)));
  engine->Stop();
  EXPECT_EQ(SetupCalls(), kWrittenSetupCalls);
  EXPECT_EQ(fake::Centres().at(0), 139600000u);
  EXPECT_TRUE(setup->IsOpen());
  EXPECT_EQ(series.PointCount(), 19200);
  EXPECT_TRUE(log.empty()) << "the window writes the report";

  EXPECT_EQ(r.outcome, Outcome::Opened);
  EXPECT_EQ(r.deviceCount, 1u);
  ASSERT_EQ(r.devices.size(), 1u);
  EXPECT_EQ(r.devices[0].serial, "00000001");
  EXPECT_EQ(r.tuner, 5u);
  EXPECT_EQ(r.sampleRate, 3200000u);
  EXPECT_EQ(r.gains.size(), 29u);
  EXPECT_EQ(r.freqCorrection, 2700);
  EXPECT_EQ(r.binWidth, 781.25);
  EXPECT_EQ(r.fftSize, 4096);
  EXPECT_EQ(r.scanStart, 138000000);
  EXPECT_EQ(r.scanStop, 153000000);
  EXPECT_TRUE(r.sweepStarted);
  EXPECT_EQ(setup->CurrentGainMode(), GainMode::Written);
}

TEST_F(Setup, TwoNoneOrAFailingOpen) {
  ReceiverReport r = RunSetup([](fake::Script& s) { s.devices.push_back({"Second stick", "NooElec", "NESDR SMArt", "00000777"}); });
  ASSERT_EQ(r.devices.size(), 2u);
  EXPECT_EQ(r.devices[1].name, "Second stick");
  EXPECT_EQ(r.devices[1].product, "NESDR SMArt");
  EXPECT_EQ(r.outcome, Outcome::Opened);
  const auto calls = SetupCalls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("open", 0) == 0; }), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "open 0"), 1);

  series.ResetPoints(0);
  r = RunSetup([](fake::Script& s) { s.devices.clear(); });
  EXPECT_EQ(r.outcome, Outcome::NoReceiver);
  EXPECT_EQ(r.deviceCount, 0u);
  EXPECT_EQ(SetupCalls(), std::vector<std::string>{"count"});
  EXPECT_EQ(series.PointCount(), 0);

  for (int result : {-1, -3}) {
    r = RunSetup([result](fake::Script& s) { s.openResult = result; });
    EXPECT_EQ(r.outcome, Outcome::OpenFailed);
    EXPECT_EQ(r.openResult, result);
    EXPECT_EQ(r.index, 0u);
    EXPECT_EQ(SetupCalls().back(), "open 0");
    EXPECT_FALSE(engine->Running());
    EXPECT_FALSE(setup->IsOpen());
  }
}

// Absent, short of one entry point, or a real file that exports only a few
// names: the record names the file, and no entry point is called.
TEST_F(Setup, MissingLibraryOrEntryPointsNameTheFileAndCallNothing) {
  fake::Uninstall();
  ReceiverReport r = setup->Run();
  EXPECT_EQ(r.outcome, Outcome::LibraryMissing);
  EXPECT_EQ(r.libraryFile, wg::ReceiverLibraryFile());
  EXPECT_TRUE(r.libraryFile.ends_with("/plugins/librtlsdr.so")) << r.libraryFile;

  fake::Install();
  api_rtl_sdr::rtlsdr_read_sync = nullptr;
  r = setup->Run();
  EXPECT_EQ(r.outcome, Outcome::LibraryMissing);
  EXPECT_TRUE(fake::Calls().empty());

  fake::Uninstall();
  const auto dir = std::filesystem::temp_directory_path() / ("wg-setup-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(WG_LACKING_LIB, dir / "librtlsdr.so", std::filesystem::copy_options::overwrite_existing);
  const auto cwd = std::filesystem::current_path();
  api_rtl_sdr::LoadFrom(dir.string());
  ASSERT_TRUE(api_rtl_sdr::Loaded());
  r = setup->Run();
  EXPECT_EQ(r.outcome, Outcome::LibraryMissing);
  EXPECT_TRUE(r.libraryLoaded);
  EXPECT_EQ(r.libraryFile, (dir / "librtlsdr.so").string());
  EXPECT_EQ(r.missingEntryPoints,
            "rtlsdr_get_device_usb_strings, rtlsdr_open, rtlsdr_set_center_freq, rtlsdr_set_freq_correction, "
            "rtlsdr_get_freq_correction, rtlsdr_get_tuner_type, rtlsdr_get_tuner_gains, rtlsdr_set_tuner_gain_mode, "
            "rtlsdr_set_sample_rate, rtlsdr_get_sample_rate, rtlsdr_read_sync");
  EXPECT_FALSE(engine->Running());
  api_rtl_sdr::Unload();
  std::filesystem::current_path(cwd);
  std::filesystem::remove_all(dir);
}

TEST_F(Setup, TunerNumbersGainsAndReadBackRateAsTheLibraryGivesThem) {
  ReceiverReport r = RunSetup([](fake::Script& s) {
    s.tunerType = 9;
    s.gains = {-10, 15, 402};
    s.rateReadBack = 2400000;
  });
  EXPECT_EQ(r.tuner, 9u);
  EXPECT_EQ(r.sampleRate, 2400000u);
  EXPECT_EQ(r.gains, (std::vector<int>{-10, 15, 402}));
  EXPECT_EQ(r.binWidth, 585.9375);
  EXPECT_EQ(engine->BinWidth(), 585.9375);
  for (int result : {0, -1}) {
    r = RunSetup([result](fake::Script& s) { s.gainsResult = result; });
    EXPECT_TRUE(r.gains.empty()) << result;
  }
}

// A second set-up, a change of receiver and the window's end each close the
// handle they replace, and only once the worker has stopped.
TEST_F(Setup, EveryHandleIsClosedOnceItsWorkerStopped) {
  setup->Run();
  ASSERT_TRUE(fake::WaitReads(1, std::chrono::seconds(5)));
  size_t before = fake::Calls().size();
  const ReceiverReport again = setup->Run();
  EXPECT_EQ(again.outcome, Outcome::Opened) << "the fake refuses a second handle";
  std::vector<std::string> expected{"close"};
  expected.insert(expected.end(), kWrittenSetupCalls.begin(), kWrittenSetupCalls.end());
  EXPECT_EQ(SetupCalls("close", before), expected);
  EXPECT_EQ(fake::MaxConcurrentCalls(), 1);

  fake::script().devices.push_back({"Second stick", "NooElec", "NESDR SMArt", "00000777"});
  before = fake::Calls().size();
  EXPECT_TRUE(setup->OpenReceiver(1));
  const auto reopen = SetupCalls("close", before);
  ASSERT_GE(reopen.size(), 7u);
  EXPECT_EQ(reopen[6], "open 1");
  EXPECT_EQ(setup->ReceiverIndex(), 1u);
  EXPECT_EQ(setup->Report().devices.size(), 2u);
  EXPECT_TRUE(engine->Running());
  // One that does not open: the one before is opened again and sweeps.
  EXPECT_FALSE(setup->OpenReceiver(5));
  EXPECT_EQ(setup->Report().outcome, Outcome::Opened);
  EXPECT_EQ(setup->Report().index, 1u);
  EXPECT_EQ(setup->ReceiverIndex(), 1u);
  EXPECT_TRUE(engine->Running());

  EXPECT_TRUE(setup->OpenReceiver(0));
  setup.reset();
  EXPECT_FALSE(engine->Running());
  EXPECT_EQ(fake::Calls().back(), "close");
  EXPECT_TRUE(engine->Receivers().empty());
}

TEST_F(Setup, AHandleUnderAHungReadIsNeverClosed) {
  fake::script().fault = fake::Fault::Hang;
  fake::script().faultAtRead = 2;
  engine->SetStopWait(std::chrono::milliseconds(50));
  setup->Run();
  ASSERT_TRUE(fake::WaitPaused(std::chrono::seconds(5)));
  // Before the watchdog has said so, the change waits instead of the caller;
  // once it has, the change is given up.
  EXPECT_LT(wgtest::HeldFor([&] { EXPECT_FALSE(setup->SetFreqCorrection(0)); }), std::chrono::milliseconds(100));
  EXPECT_TRUE(setup->LastChangeWaits());
  std::optional<bool> settled;
  setup->SetChangeSettled([&](bool taken) { settled = taken; });
  ASSERT_TRUE(ui.PumpUntil([&] { return settled.has_value(); }, std::chrono::seconds(5)));
  EXPECT_EQ(settled, std::optional<bool>(false));
  EXPECT_TRUE(engine->WorkerAbandoned());
  EXPECT_FALSE(Called("set_ppm 0")) << "nothing more goes to a lost receiver";
  setup->Close();
  EXPECT_FALSE(Called("close"));
  EXPECT_FALSE(setup->IsOpen());
  fake::Release();
  for (int i = 0; i < 500 && TSweepEngine::AbandonedWorkersAlive() > 0; ++i) usleep(10000);
}

// Each control stops the sweep, applies the value, and starts the sweep
// again; a refused value changes nothing.
TEST_F(Setup, ControlsApplyTheirValueOrKeepThePreviousOne) {
  setup->Run();
  const auto callsAfter = [](size_t from) {
    auto c = fake::Calls();
    std::vector<std::string> out;
    for (size_t i = from; i < c.size(); ++i)
      if (c[i].rfind("center", 0) && c[i].rfind("rate", 0) && c[i].rfind("reset", 0) && c[i].rfind("read", 0))
        out.push_back(c[i]);
    return out;
  };
  struct Row {
    const char* name;
    std::function<bool()> apply;
    bool accepted;
    std::vector<std::string> calls;  // receiver calls other than the sweep's
  };
  const std::vector<Row> rows{
      {"auto gain", [&] { return setup->SetGain(std::nullopt); }, true, {"gain_mode 0"}},
      {"a tuner gain", [&] { return setup->SetGain(402); }, true, {"gain_mode 1", "gain 402"}},
      {"no tuner gain", [&] { return setup->SetGain(400); }, false, {"gain_mode 1", "gain 402"}},
      {"correction", [&] { return setup->SetFreqCorrection(-3000); }, true, {"get_ppm", "set_ppm -3000", "get_ppm"}},
      {"same correction", [&] { return setup->SetFreqCorrection(-3000); }, true, {"get_ppm", "get_ppm"}},
      {"correction too far", [&] { return setup->SetFreqCorrection(3001); }, false, {}},
      {"refused rate", [&] { return setup->SetSampleRate(500000); }, false, {}},
      {"rate", [&] { return setup->SetSampleRate(2400000); }, true, {"get_rate"}},
  };
  for (const Row& row : rows) {
    const size_t before = fake::Calls().size();
    EXPECT_EQ(wgtest::Settled(*setup, ui, row.apply()), row.accepted) << row.name;
    EXPECT_TRUE(engine->Running()) << row.name;
    EXPECT_EQ(callsAfter(before), row.calls) << row.name;
  }
  EXPECT_EQ(setup->CurrentGainMode(), GainMode::Manual);
  EXPECT_EQ(setup->ManualGain(), 402);
  EXPECT_EQ(setup->FreqCorrection(), -3000);
  EXPECT_EQ(setup->Report().freqCorrection, -3000);
  EXPECT_EQ(setup->NearestGain(400), 402);

  // The rate is the step width: bin width, point count and sweep follow; a
  // step of 2.4 MHz is waited for (a read of the old width may end later).
  const auto stepOf24 = [] { const auto c = fake::Centres(); return std::count(c.begin(), c.end(), 139200000u) > 0; };
  ASSERT_TRUE(ui.PumpUntil(stepOf24));
  engine->Stop();
  EXPECT_EQ(engine->SampleRate(), 2400000);
  EXPECT_EQ(engine->BinWidth(), 585.9375);
  EXPECT_EQ(setup->Report().binWidth, 585.9375);
  EXPECT_EQ(series.PointCount(), 25600);
  fake::script().gainResult = -1;
  EXPECT_FALSE(wgtest::Settled(*setup, ui, setup->SetGain(0)));
  EXPECT_EQ(setup->ManualGain(), 402);
}

// A change the stick could not apply before it went away is kept for its
// return, not refused, and set when the stick is opened again.
TEST_F(Setup, AChangeMetByTheStickGoingAwayIsKeptForItsReturn) {
  fake::script().pauseAtRead = fake::script().faultAtRead = 3;
  fake::script().fault = fake::Fault::Unplug;
  setup->Run();
  ASSERT_TRUE(fake::WaitPaused(std::chrono::seconds(10)));
  const std::ptrdiff_t before = static_cast<std::ptrdiff_t>(fake::Calls().size());
  EXPECT_FALSE(setup->SetGain(402));
  ASSERT_TRUE(setup->LastChangeWaits()) << "the paused read holds the change";
  fake::Release();
  EXPECT_FALSE(wgtest::Settled(*setup, ui, false));
  EXPECT_TRUE(setup->LastChangeKept());
  EXPECT_EQ(setup->ManualGain(), 402);
  const auto setAgain = [&] {
    const auto c = fake::Calls();
    return std::count(c.begin() + before, c.end(), "gain 402") > 0;
  };
  EXPECT_TRUE(ui.PumpUntil(setAgain)) << "set on the stick's return";
}

// Chosen before a receiver is there, the values are used by the next
// set-up; a kept rate the library refuses gives way to the written one.
TEST_F(Setup, ValuesChosenWithoutAReceiverApplyAtTheNextSetUp) {
  RunSetup([](fake::Script& s) { s.devices.clear(); });
  EXPECT_FALSE(setup->SetFreqCorrection(100));
  EXPECT_FALSE(setup->SetGain(std::nullopt));
  EXPECT_FALSE(setup->SetSampleRate(1800000));
  setup->ChooseReceiver(1);
  ReceiverReport r = RunSetup([](fake::Script& s) { s.devices.push_back(s.devices[0]); });
  EXPECT_EQ(r.index, 1u);
  EXPECT_EQ(r.outcome, Outcome::Opened);
  EXPECT_EQ(SetupCalls("rate 1800000"),
            (std::vector<std::string>{"rate 1800000", "get_rate", "gains", "gain_mode 0", "set_ppm 100", "get_ppm"}));
  EXPECT_EQ(r.freqCorrection, 100);
  EXPECT_EQ(r.sampleRate, 1800000u);
  EXPECT_EQ(engine->SampleRate(), 1800000);

  setup->Close();
  setup->ChooseReceiver(0);
  EXPECT_FALSE(setup->SetSampleRate(500000));
  // A gain in dB the tuner does not offer (typed, or kept from another
  // stick): its nearest is in force before the first step.
  EXPECT_FALSE(setup->SetGain(300));
  r = RunSetup();
  EXPECT_EQ(r.sampleRate, 3200000u);
  EXPECT_EQ(setup->SampleRate(), 3200000u);
  EXPECT_EQ(SetupCalls("gains"), (std::vector<std::string>{"gains", "gain_mode 1", "gain 297", "set_ppm 100", "get_ppm"}));
  EXPECT_EQ(setup->CurrentGainMode(), GainMode::Manual);
  EXPECT_EQ(setup->ManualGain(), 297);
}

}  // namespace
