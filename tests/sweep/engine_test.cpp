// The sweep engine against the scripted fake receiver: what it tunes and
// reads, what each publication writes, and how it stops, fails and recovers.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "api_rtl_sdr.h"
#include "fake_rtlsdr.h"
#include "sweep_engine.h"
#include "sweep_test_support.h"

using namespace std::chrono_literals;
using wg::TSweepEngine;
using wgtest::LevelsOfConstantBlock;

namespace {

constexpr double kBin = 3200000.0 / 4096;

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Install();
    api_rtl_sdr::dev = static_cast<rtlsdr_dev_t*>(fake::Handle());
  }
  void TearDown() override {
    engine.reset();
    fake::Release();
    fake::Uninstall();
  }
  TSweepEngine& Make() {
    engine = std::make_unique<TSweepEngine>(&series, ui.Poster(),
                                            [this](const std::string& s) { log.push_back(s); });
    return *engine;
  }
  // Range, reset, prepare, start: what a range change does.
  void Sweep(int64_t start, int64_t stop) {
    if (!engine) Make();
    engine->SetScanRange(start, stop);
    ASSERT_TRUE(engine->Reset());
    engine->PrepareSeries();
    ASSERT_TRUE(engine->Start());
  }
  bool WaitDeliveries(int n) {
    return ui.PumpUntil([&] { return series.deliveries >= n; });
  }
  // The sweep whose blocks filled the series points [from, to), or -1 when
  // they do not all come from one sweep.
  int SweepShown(size_t from, size_t to) {
    int found = -1;
    for (size_t i = from; i < to; i += wg::kFftSize) {
      int s = -1;
      for (int c = 2; c < 202; ++c) {
        const auto& lv = LevelsOfConstantBlock(static_cast<uint8_t>(c));
        bool all = true;
        for (size_t g = 0; g < wg::kFftSize && i + g < to && all; ++g) all = series.y[i + g] == lv[g];
        if (all) {
          s = fake::SweepOfFillByte(static_cast<uint8_t>(c));
          break;
        }
      }
      if (s < 0 || (found >= 0 && s != found)) return -1;
      found = s;
    }
    return found;
  }
  size_t CountLog(const char* prefix) {
    size_t n = 0;
    for (const auto& l : log) n += l.rfind(prefix, 0) == 0;
    return n;
  }

  wgtest::UiQueue ui;
  wgtest::TestSeries series;
  std::vector<std::string> log;
  std::unique_ptr<TSweepEngine> engine;
};

TEST_F(Engine, DefaultRangeTunesFiveCentresAndPublishesEveryBinAtItsFrequency) {
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(2));
  engine->Stop();

  const auto centres = fake::Centres();
  ASSERT_GE(centres.size(), 10u);
  const std::vector<uint32_t> one{139600000, 142800000, 146000000, 149200000, 152400000};
  EXPECT_EQ(std::vector<uint32_t>(centres.begin(), centres.begin() + 5), one);
  EXPECT_EQ(std::vector<uint32_t>(centres.begin() + 5, centres.begin() + 10), one);

  // Each step: tune, rate, reset, one block read.
  const auto calls = fake::Calls();
  ASSERT_GE(calls.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 8),
            (std::vector<std::string>{"center 139600000", "rate 3200000", "reset", "read 131072",
                                      "center 142800000", "rate 3200000", "reset", "read 131072"}));

  ASSERT_EQ(series.PointCount(), 19200);
  for (int i = 0; i < 19200; ++i) ASSERT_EQ(series.x[i], 138000000.0 + i * kBin) << i;
  EXPECT_EQ(series.x.back(), 152999218.75);
  EXPECT_GE(SweepShown(0, series.y.size()), 0);
  EXPECT_TRUE(log.empty());
}

struct RangeCase {
  int64_t start, stop;
  size_t steps;
  int points;
};
void PrintTo(const RangeCase& rc, std::ostream* os) { *os << rc.start << "-" << rc.stop << " Hz"; }

class EngineRanges : public Engine, public ::testing::WithParamInterface<RangeCase> {};

// A step runs while its band's lower edge is below the stop frequency, so the
// top of every range is measured and the narrowest range has its one step.
TEST_P(EngineRanges, StepsCoverTheWholeRange) {
  const RangeCase rc = GetParam();
  Sweep(rc.start, rc.stop);
  ASSERT_TRUE(WaitDeliveries(1));
  engine->Stop();
  ASSERT_EQ(series.PointCount(), rc.points);

  const auto centres = fake::Centres();
  size_t steps = 1;
  while (steps < centres.size() && centres[steps] > centres[steps - 1]) ++steps;
  EXPECT_EQ(steps, rc.steps);
  for (size_t k = 0; k < steps; ++k)
    EXPECT_EQ(centres[k], static_cast<uint32_t>(rc.start + 1600000 + 3200000 * static_cast<int64_t>(k)));
  // Every series point holds its own measured bin: no copies at the top.
  for (int i = 0; i < rc.points; ++i) ASSERT_EQ(series.x[i], rc.start + i * kBin) << i;
  EXPECT_GE(SweepShown(0, series.y.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Ranges, EngineRanges,
                         ::testing::Values(RangeCase{138000000, 153000000, 5, 19200},
                                           RangeCase{138000000, 148500000, 4, 13440},
                                           RangeCase{138000000, 150000000, 4, 15360},
                                           RangeCase{100000000, 101000000, 1, 1280},
                                           // Beyond 32-bit signed Hz, up to the editors' top.
                                           RangeCase{3990000000, 4000000000, 4, 12800}));

TEST_F(Engine, PointsBelowTenKilohertzTakeTheLastPointOfTheSweep) {
  Sweep(0, 3200000);
  ASSERT_TRUE(WaitDeliveries(1));
  engine->Stop();
  ASSERT_EQ(series.PointCount(), 4096);
  // Bins 0..12 lie below 10000 Hz.
  for (int i = 0; i <= 12; ++i) {
    EXPECT_EQ(series.x[i], 4095 * kBin);
    EXPECT_EQ(series.y[i], series.y[4095]);
  }
  EXPECT_EQ(series.x[13], 13 * kBin);
}

TEST_F(Engine, EachPublicationHoldsExactlyOneSweep) {
  Sweep(138000000, 153000000);
  int lastSweep = -1;
  for (int n = 1; n <= 30; ++n) {
    ASSERT_TRUE(WaitDeliveries(n));
    const int shown = SweepShown(0, series.y.size());
    ASSERT_GE(shown, 0) << "publication " << n << " mixes sweeps";
    EXPECT_GT(shown, lastSweep);
    lastSweep = shown;
    if (n % 3 == 0) std::this_thread::sleep_for(3ms);  // let a newer sweep replace an untaken one
  }
  engine->Stop();
  EXPECT_LE(fake::MaxConcurrentReads(), 1);
}

TEST_F(Engine, StopMidSweepKeepsTheLastSweepAndStartContinuesAtTheNextStep) {
  fake::script().pauseAtRead = 7;  // second step of the second sweep
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(1));
  ASSERT_TRUE(fake::WaitPaused(5s));
  std::thread releaser([] {
    std::this_thread::sleep_for(50ms);
    fake::Release();
  });
  engine->Stop();
  releaser.join();
  EXPECT_FALSE(engine->Running());
  ui.Pump();
  EXPECT_EQ(series.deliveries, 1);
  EXPECT_EQ(SweepShown(0, series.y.size()), 0);
  EXPECT_EQ(engine->StepIndex(), 5);
  EXPECT_EQ(engine->PointList().size(), 2u * 4096);
  EXPECT_EQ(fake::Centres().size(), 7u);

  fake::script().pauseAtRead = 11;  // hold the sweep after the continued one
  ASSERT_TRUE(engine->Start());
  ASSERT_TRUE(fake::WaitPaused(5s));
  ASSERT_TRUE(WaitDeliveries(2));
  fake::Release();
  engine->Stop();
  const auto centres = fake::Centres();
  EXPECT_EQ(centres[7], 146000000u);
  // The continued sweep keeps the two steps measured before the stop.
  EXPECT_EQ(SweepShown(0, series.y.size()), 1);
  for (int i = 0; i < 19200; ++i) ASSERT_EQ(series.x[i], 138000000.0 + i * kBin);
}

class EngineReadFaults : public Engine, public ::testing::WithParamInterface<fake::Fault> {};

TEST_P(EngineReadFaults, FailedReadStopsTheSweepWithOneLogLineAndPublishesNothingOfIt) {
  fake::script().fault = GetParam();
  fake::script().faultAtRead = 8;  // third step of the second sweep
  Sweep(138000000, 153000000);
  ASSERT_TRUE(ui.PumpUntil([&] { return !engine->Running(); }));
  ui.Pump();
  EXPECT_EQ(fake::Reads(), 8);
  EXPECT_EQ(series.deliveries, 1);
  EXPECT_EQ(SweepShown(0, series.y.size()), 0);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(CountLog(wg::kReadFailedText), 1u);

  // The engine is idle and can start again.
  engine->Stop();
  EXPECT_TRUE(engine->Start());
  EXPECT_TRUE(fake::WaitReads(9, 5s));
  engine->Stop();
}

INSTANTIATE_TEST_SUITE_P(Faults, EngineReadFaults,
                         ::testing::Values(fake::Fault::Short, fake::Fault::Error, fake::Fault::Unplug),
                         [](const auto& info) -> std::string {
                           switch (info.param) {
                             case fake::Fault::Short: return "ShortRead";
                             case fake::Fault::Error: return "MinusOne";
                             default: return "Unplugged";
                           }
                         });

TEST_F(Engine, ExceptionInAStepSkipsItAndTheSweepGoesOn) {
  fake::script().fault = fake::Fault::Throw;
  fake::script().faultAtRead = 3;  // the third tuning throws
  fake::script().pauseAtRead = 5;  // first read of the next sweep: the first one waits untaken
  Sweep(138000000, 153000000);
  ASSERT_TRUE(fake::WaitPaused(5s));
  ASSERT_TRUE(WaitDeliveries(1));
  fake::Release();
  // Steps 1, 2, 4, 5: the points of step 4 follow those of step 2, and the
  // series points past the list take its last point.
  EXPECT_EQ(series.x[0], 138000000.0);
  EXPECT_EQ(series.x[8192], 147600000.0);
  EXPECT_EQ(series.x[16383], 147600000.0 + 8191 * kBin);
  EXPECT_EQ(series.x[16384], series.x[16383]);
  EXPECT_EQ(series.x[19199], series.x[16383]);
  ASSERT_TRUE(WaitDeliveries(3));
  engine->Stop();
  for (int i = 0; i < 19200; ++i) ASSERT_EQ(series.x[i], 138000000.0 + i * kBin);
  EXPECT_TRUE(log.empty());
}

TEST_F(Engine, HungReadIsAbandonedWithinTheBoundAndTheReceiverIsLost) {
  fake::script().fault = fake::Fault::Hang;
  fake::script().faultAtRead = 3;
  Sweep(138000000, 153000000);
  ASSERT_TRUE(fake::WaitPaused(5s));
  const long postsBefore = ui.Posted();
  const auto t0 = std::chrono::steady_clock::now();
  engine->Stop();
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, 1900ms);
  EXPECT_LT(waited, 3s);
  EXPECT_FALSE(engine->Running());
  EXPECT_TRUE(engine->WorkerAbandoned());
  EXPECT_EQ(TSweepEngine::AbandonedWorkersAlive(), 1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], wg::kReceiverLostText);

  // No worker on that receiver again, from this engine or another.
  EXPECT_FALSE(engine->Start());
  {
    wgtest::TestSeries other;
    TSweepEngine second(&other, ui.Poster(), [](const std::string&) {});
    EXPECT_FALSE(second.Start());
  }
  EXPECT_EQ(fake::Reads(), 2);

  // The engine goes away first; the read returns later and the worker ends
  // without touching it or posting anything.
  engine.reset();
  fake::Release();
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (TSweepEngine::AbandonedWorkersAlive() > 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(TSweepEngine::AbandonedWorkersAlive(), 0);
  EXPECT_EQ(ui.Posted(), postsBefore);
  EXPECT_LE(fake::MaxConcurrentReads(), 1);
}

TEST_F(Engine, AThousandStopsAndStartsNeverRunTwoWorkers) {
  Sweep(138000000, 153000000);
  for (int i = 0; i < 1000; ++i) {
    if (i % 100 == 0) fake::WaitReads(fake::Reads() + 1, 5s);
    engine->Stop();
    ASSERT_FALSE(engine->Running());
    ASSERT_TRUE(engine->Start());
    ASSERT_FALSE(engine->Start());  // one worker at a time
    if (i % 10 == 0) ui.Pump();
  }
  engine->Stop();
  ui.Pump();
  EXPECT_LE(fake::MaxConcurrentReads(), 1);
  EXPECT_TRUE(log.empty());
  if (series.deliveries > 0) {
    EXPECT_GE(SweepShown(0, series.y.size()), 0);  // whatever was shown is one whole sweep
  }
}

TEST_F(Engine, PublicationOfAnOlderRangeNeverReachesANewerSeries) {
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(1));
  // Let a finished sweep wait in the queue, untaken.
  const long posted = ui.Posted();
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (ui.Posted() == posted && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  ASSERT_GT(ui.Posted(), posted);
  engine->Stop();

  engine->SetScanRange(100000000, 110000000);
  ASSERT_TRUE(engine->Reset());
  engine->PrepareSeries();
  const long writes = series.writes;
  ui.Pump();  // the old range's sweep
  EXPECT_EQ(series.writes, writes);
  for (double v : series.x) ASSERT_EQ(v, 0.0);

  ASSERT_TRUE(engine->Start());
  series.deliveries = 0;
  ASSERT_TRUE(WaitDeliveries(1));
  engine->Stop();
  EXPECT_EQ(series.x[0], 100000000.0);
}

TEST_F(Engine, QueuedCallsAfterTheEngineIsGoneTouchNothing) {
  Sweep(138000000, 153000000);
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (ui.Queued() == 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  ASSERT_GT(ui.Queued(), 0u);
  engine.reset();
  const long writes = series.writes;
  ui.Pump();
  EXPECT_EQ(series.writes, writes);
}

TEST_F(Engine, StopForDestroyCutsTheSeriesAndTheLogOff) {
  fake::script().fault = fake::Fault::Error;
  fake::script().faultAtRead = 6;
  Sweep(138000000, 153000000);
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (engine->Running() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  engine->StopForDestroy();
  ui.Pump();  // a finished sweep and the failed read's line were queued
  EXPECT_EQ(series.writes, 0);
  EXPECT_TRUE(log.empty());
}

TEST_F(Engine, RangeWithoutAStepEndsTheWorkerWithoutSpinning) {
  Sweep(150000000, 150000000);
  EXPECT_EQ(series.PointCount(), 0);
  ASSERT_TRUE(ui.PumpUntil([&] { return !engine->Running(); }, 5s));
  EXPECT_EQ(fake::Reads(), 0);
  EXPECT_EQ(ui.Posted(), 0);

  engine->SetScanRange(150000000, 140000000);  // inverted
  ASSERT_TRUE(engine->Reset());
  engine->PrepareSeries();
  EXPECT_EQ(series.PointCount(), 0);
  ASSERT_TRUE(engine->Start());
  ASSERT_TRUE(ui.PumpUntil([&] { return !engine->Running(); }, 5s));
  EXPECT_EQ(fake::Reads(), 0);
}

TEST_F(Engine, SweepEndsAtTheTopOfTheTunableRange) {
  Make();
  engine->SetScanRange(4290000000, INT64_MAX);
  ASSERT_TRUE(engine->Start());  // series left empty: nothing to write
  ASSERT_TRUE(fake::WaitReads(6, 5s));
  engine->Stop();
  const auto centres = fake::Centres();
  EXPECT_EQ(std::vector<uint32_t>(centres.begin(), centres.begin() + 4),
            (std::vector<uint32_t>{4291600000u, 4294800000u, 4291600000u, 4294800000u}));
}

TEST_F(Engine, StartIsRefusedWithoutTheLibraryOrAReceiverAndResetWhileRunning) {
  Make();
  fake::Uninstall();
  EXPECT_FALSE(engine->Start());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(CountLog(wg::kLibraryMissingText), 1u);
  EXPECT_NE(log[0].find("plugins/librtlsdr.so"), std::string::npos);

  fake::Install();  // the library is there, no receiver is open
  EXPECT_FALSE(engine->Start());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], wg::kReceiverNotOpenText);

  api_rtl_sdr::dev = static_cast<rtlsdr_dev_t*>(fake::Handle());
  engine->PrepareSeries();
  ASSERT_TRUE(engine->Start());
  EXPECT_FALSE(engine->Reset());
  engine->Stop();
  EXPECT_TRUE(engine->Reset());
  EXPECT_EQ(engine->StepIndex(), 1);
  EXPECT_TRUE(engine->PointList().empty());
}

TEST_F(Engine, PreparedSeriesHasOneRedZeroPointPerBin) {
  Make();
  engine->PrepareSeries();
  ASSERT_EQ(series.PointCount(), 19200);
  for (int i = 0; i < 19200; ++i) {
    ASSERT_EQ(series.x[i], 0.0);
    ASSERT_EQ(series.y[i], 0.0);
    ASSERT_EQ(series.labels[i], "");
    ASSERT_EQ(series.colours[i], wg::kSweepRed);
  }
  // Halves go to the even neighbour: at 8192 Hz per 4096 bins every Hz is
  // half a bin.
  engine->SetSampleRate(8192);
  engine->SetScanRange(1000, 1001);
  EXPECT_EQ(engine->SeriesPointCount(), 0);
  engine->SetScanRange(1000, 1003);
  EXPECT_EQ(engine->SeriesPointCount(), 2);
  engine->SetScanRange(1000, 1005);
  EXPECT_EQ(engine->SeriesPointCount(), 2);
  engine->SetSampleRate(3200000);
  engine->SetScanRange(0, 4000000000);
  EXPECT_EQ(engine->SeriesPointCount(), 5120000);
}

}  // namespace
