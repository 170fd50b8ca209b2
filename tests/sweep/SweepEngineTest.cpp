// The sweep engine against the scripted fake receiver: what it tunes and
// reads, what each publication writes, and how it stops, fails and recovers.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <tuple>
#include <thread>

#include "receiver/Receiver.h"
#include "receiver/api_rtl_sdr.h"
#include "sweep/SweepEngine.h"
#include "tests/common/RunQueueWait.h"
#include "tests/sweep/FakeRtlSdr.h"
#include "tests/sweep/SweepTestSupport.h"

using namespace std::chrono_literals;
using wg::TSweepEngine;

namespace {

constexpr double kBin = 3200000.0 / 4096;
const std::vector<uint32_t> kDefaultCentres{139600000, 142800000, 146000000, 149200000, 152400000};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    Reinstall();
    engine = std::make_unique<TSweepEngine>(&series, ui.Poster(),
                                            [this](const std::string& s) { log.push_back(s); });
    // The fake stick's blocks are constant bytes, all their power at the
    // centre: the levels are read as the transform gives them.
    engine->SetKeepDcSpike(true);
    ASSERT_NE(wgtest::AttachReceiver(*engine), nullptr);
    Reinstall();  // the records begin with the sweep
  }
  void TearDown() override {
    engine.reset();
    fake::Release();
    fake::Uninstall();
  }
  // A fresh script and records.
  static void Reinstall() { fake::Install(); }
  // Range, reset, prepare, start: what a range change does.
  void Sweep(int64_t start, int64_t stop) {
    engine->SetScanRange(start, stop);
    ASSERT_TRUE(engine->Reset());
    engine->PrepareSeries();
    ASSERT_TRUE(engine->Start());
  }
  bool WaitDeliveries(int n) {
    return ui.PumpUntil([&] { return series.deliveries >= n; });
  }
  // The levels of every fill byte are worked out before any test runs: a
  // lookup then takes no time in which a fast worker could begin another
  // sweep with the same byte.
  static void SetUpTestSuite() {
    for (int c = 128; c < 256; ++c) wgtest::LevelsOfConstantBlock(static_cast<uint8_t>(c));
  }
  // The sweep whose blocks filled the whole series, or -1 when its points do
  // not all come from one sweep.
  int SweepShown() {
    int byte = -1;
    for (size_t i = 0; i < series.y.size(); i += wg::kFftSize) {
      int b = -1;
      for (int c = 128; c < 256 && b < 0; ++c) {
        const auto& lv = wgtest::LevelsOfConstantBlock(static_cast<uint8_t>(c));
        bool all = true;
        for (size_t g = 0; g < wg::kFftSize && i + g < series.y.size() && all; ++g)
          all = series.y[i + g] == lv[g];
        if (all) b = c;
      }
      if (b < 0 || (byte >= 0 && b != byte)) return -1;
      byte = b;
    }
    return byte < 0 ? -1 : fake::SweepOfFillByte(static_cast<uint8_t>(byte));
  }
  // Every point at its bin's frequency from `start` on.
  void ExpectFrequencies(double start, size_t count) {
    ASSERT_EQ(series.x.size(), count);
    for (size_t i = 0; i < count; ++i) ASSERT_EQ(series.x[i], start + static_cast<double>(i) * kBin) << i;
  }

  wgtest::UiQueue ui;
  wgtest::TestSeries series;
  std::vector<std::string> log;
  std::unique_ptr<TSweepEngine> engine;
};

TEST_F(Engine, DefaultRangeTunesFiveCentresAndEachPublicationHoldsOneSweep) {
  // Each publication is named in its hand-over: a worker running on while
  // this thread waits for a processor cannot wrap the fill bytes under it.
  std::vector<int> named;
  series.shown = [&] { named.push_back(SweepShown()); };
  Sweep(138000000, 153000000);
  int lastSweep = -1;
  for (int n = 1; n <= 30; ++n) {
    ASSERT_TRUE(WaitDeliveries(n));
    ASSERT_GE(named.size(), static_cast<size_t>(n));
    const int shown = named.back();
    ASSERT_GE(shown, 0) << "publication " << n << " mixes sweeps";
    EXPECT_GT(shown, lastSweep);
    lastSweep = shown;
    if (n % 3 == 0) std::this_thread::sleep_for(3ms);  // let a newer sweep replace an untaken one
  }
  engine->Stop();
  const auto centres = fake::Centres();
  EXPECT_EQ(std::vector<uint32_t>(centres.begin(), centres.begin() + 5), kDefaultCentres);
  EXPECT_EQ(std::vector<uint32_t>(centres.begin() + 5, centres.begin() + 10), kDefaultCentres);
  const auto calls = fake::Calls();  // each step: tune, rate, reset, one block read
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 5),
            (std::vector<std::string>{"center 139600000", "rate 3200000", "reset", "read 131072",
                                      "center 142800000"}));
  ExpectFrequencies(138000000, 19200);
  EXPECT_EQ(series.x.back(), 152999218.75);
  EXPECT_LE(fake::MaxConcurrentCalls(), 1);
  EXPECT_TRUE(log.empty());
}

// A step runs while its band's lower edge is below the stop frequency, so the
// top of every range is measured, the narrowest range has its one step and
// frequencies beyond 32-bit signed Hz work up to the editors' top.
TEST_F(Engine, StepsCoverTheWholeRange) {
  struct Case {
    int64_t start, stop;
    size_t steps, points;
  };
  for (const Case& c : {Case{138000000, 148500000, 4, 13440}, Case{138000000, 150000000, 4, 15360},
                        Case{100000000, 101000000, 1, 1280}, Case{3990000000, 4000000000, 4, 12800}}) {
    SCOPED_TRACE(c.start);
    Reinstall();
    series.deliveries = 0;
    Sweep(c.start, c.stop);
    ASSERT_TRUE(WaitDeliveries(1));
    engine->Stop();
    // A step under way would tune after the next case's records began.
    ASSERT_TRUE(engine->WaitIdle(5s));
    ExpectFrequencies(static_cast<double>(c.start), c.points);  // no copies at the top
    EXPECT_GE(SweepShown(), 0);
    const auto centres = fake::Centres();
    size_t steps = 1;
    while (steps < centres.size() && centres[steps] > centres[steps - 1]) ++steps;
    EXPECT_EQ(steps, c.steps);
    for (size_t k = 0; k < steps; ++k) EXPECT_EQ(centres[k], c.start + 1600000 + 3200000 * static_cast<int64_t>(k));
  }

  // The point count rounds halves to even: at 8192 Hz every Hz is half a bin.
  engine->SetSampleRate(8192);
  for (auto [stop, count] : {std::pair{100001, 0}, {100003, 2}, {100005, 2}}) {
    engine->SetScanRange(100000, stop);
    EXPECT_EQ(engine->SeriesPointCount(), count) << stop;
  }
}

// Whatever range is asked for, the engine keeps to the editors' limits and
// to at most 5.12 million series points, also at a lower sample rate.
TEST_F(Engine, ScanRangeIsBoundedToTheEditorsLimits) {
  engine->SetScanRange(-5, INT64_MAX);
  EXPECT_EQ(engine->StartFrequency(), 100000);
  EXPECT_EQ(engine->StopFrequency(), 4000000000);
  EXPECT_EQ(engine->SeriesPointCount(), 5119872);
  engine->SetSampleRate(1024000);
  EXPECT_EQ(engine->StopFrequency(), 100000 + 1280000000);
  EXPECT_EQ(engine->SeriesPointCount(), 5120000);
  engine->SetScanRange(4290000000, 99999999999);
  EXPECT_EQ(engine->StartFrequency(), 4000000000);
  EXPECT_EQ(engine->SeriesPointCount(), 0);
}

// The bound cuts the range in force, not the range asked for: a rate that
// reaches the stop again gives it back, and each move is heard once.
TEST_F(Engine, ARateCutsTheRangeInForceAndGivesItBack) {
  int moved = 0;
  engine->SetStopMoved([&] { ++moved; });
  engine->SetScanRange(24000000, 1766000000);
  engine->SetSampleRate(1024000);
  EXPECT_EQ(engine->StopFrequency(), 1304000000);
  EXPECT_EQ(engine->WantedStopFrequency(), 1766000000);
  EXPECT_TRUE(engine->RangeCut());
  EXPECT_EQ(engine->WidestRange(), 1280000000);
  engine->SetSampleRate(1800000);  // reaches 2274 MHz
  EXPECT_EQ(engine->StopFrequency(), 1766000000);
  EXPECT_FALSE(engine->RangeCut());
  EXPECT_EQ(moved, 2);
  engine->SetSampleRate(3200000);  // nothing moves
  EXPECT_EQ(moved, 2);

  // Typed while cut: the wanted stop is kept, the one in force is bounded.
  engine->SetSampleRate(1024000);
  engine->SetScanRange(24000000, 2000000000);
  EXPECT_EQ(engine->StopFrequency(), 1304000000);
  EXPECT_EQ(engine->WantedStopFrequency(), 2000000000);
  engine->SetSampleRate(2400000);
  EXPECT_EQ(engine->StopFrequency(), 2000000000);
  EXPECT_EQ(moved, 4);
}

// An empty or inverted range ends the worker without a read, instead of
// publishing an empty list in a tight loop.
TEST_F(Engine, DegenerateRangesEndWithoutSpinning) {
  for (auto [start, stop] : {std::pair<int64_t, int64_t>{150000000, 150000000}, {150000000, 140000000}}) {
    Sweep(start, stop);
    EXPECT_EQ(series.PointCount(), 0);
    ASSERT_TRUE(ui.PumpUntil([&] { return !engine->Running(); }, 5s));
  }
  EXPECT_EQ(fake::Reads(), 0);
  EXPECT_EQ(ui.Posted(), 0);

}

// Stop returns while a read is still under way; the stopped worker ends on
// its own, and a worker started meanwhile touches the receiver only after it.
TEST_F(Engine, StopMidSweepKeepsTheLastSweepAndStartContinuesAtTheNextStep) {
  fake::script().pauseAtRead = 7;  // second step of the second sweep
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(1));
  ASSERT_TRUE(fake::WaitPaused(5s));
  engine->Stop();
  EXPECT_FALSE(engine->Running());
  EXPECT_FALSE(engine->Idle());
  fake::Release();
  ASSERT_TRUE(engine->WaitIdle(5s));
  ui.Pump();
  EXPECT_EQ(series.deliveries, 1);
  EXPECT_EQ(SweepShown(), 0);
  EXPECT_EQ(engine->StepIndex(), 5);
  EXPECT_EQ(engine->PointsInProgress(), 2u * 4096);
  EXPECT_EQ(fake::Centres().size(), 7u);

  fake::script().pauseAtRead = 11;  // hold the sweep after the continued one
  ASSERT_TRUE(engine->Start());
  ASSERT_TRUE(fake::WaitPaused(5s));
  ASSERT_TRUE(WaitDeliveries(2));
  engine->Stop();
  ASSERT_TRUE(engine->Start());
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(fake::Centres().size(), 11u);  // the new worker waits for the read
  fake::Release();
  ASSERT_TRUE(fake::WaitReads(13, 5s));
  engine->Stop();
  EXPECT_LE(fake::MaxConcurrentCalls(), 1);
  EXPECT_EQ(fake::Centres()[7], 146000000u);
  EXPECT_EQ(SweepShown(), 1);  // keeps the two steps measured before the stop
  ExpectFrequencies(138000000, 19200);
}

TEST_F(Engine, FailedReadStopsTheSweepWithOneLogLineAndPublishesNothingOfIt) {
  for (fake::Fault fault : {fake::Fault::Short, fake::Fault::Error}) {
    SCOPED_TRACE(static_cast<int>(fault));
    Reinstall();
    fake::script().fault = fault;
    fake::script().faultAtRead = 8;  // third step of the second sweep
    series.deliveries = 0;
    log.clear();
    Sweep(138000000, 153000000);
    ASSERT_TRUE(ui.PumpUntil([&] { return !engine->Running(); }));
    ui.Pump();
    EXPECT_EQ(fake::Reads(), 8);
    EXPECT_EQ(series.deliveries, 1);
    EXPECT_EQ(SweepShown(), 0);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind(wg::kReadFailedText, 0), 0u) << log[0];
    // The engine is idle and can start again.
    engine->Stop();
    EXPECT_TRUE(engine->Start());
    EXPECT_TRUE(fake::WaitReads(9, 5s));
    engine->Stop();
    ASSERT_TRUE(engine->WaitIdle(5s));
    ui.Pump();  // what the restarted worker published belongs to this round
  }
}

TEST(SweepCentres, FollowTheRangeAndRate) {
  struct Row {
    const char* name;
    int64_t start, stop;
    int32_t rate;
    std::vector<int64_t> centres;
  };
  const std::vector<Row> rows{
      {"default range", 138000000, 153000000, 3200000, {139600000, 142800000, 146000000, 149200000, 152400000}},
      {"top band measured", 138000000, 148500000, 3200000, {139600000, 142800000, 146000000, 149200000}},
      {"narrowest range", 100000000, 101000000, 3200000, {101600000}},
      {"top of the editors", 3990000000, 4000000000, 3200000, {3991600000, 3994800000, 3998000000, 4001200000}},
      {"halves to even", 0, 10, 3, {2, 4, 8, 10}},
      {"lower rate", 88000000, 90000000, 1024000, {88512000, 89536000}},
      {"empty range", 150000000, 150000000, 3200000, {}},
      {"inverted range", 150000000, 140000000, 3200000, {}},
      {"no rate", 138000000, 153000000, 0, {}},
  };
  for (const Row& r : rows) EXPECT_EQ(wg::SweepCentres(r.start, r.stop, r.rate), r.centres) << r.name;
}

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
  ExpectFrequencies(138000000, 19200);
  EXPECT_TRUE(log.empty());
}

// A read that never returns: stopping and restarting never wait for it, the
// watchdog says once that the receiver does not respond, and no worker
// touches that receiver again.
TEST_F(Engine, HungReadNeverHoldsTheCallerAndIsReportedByTheWatchdog) {
  fake::script().fault = fake::Fault::Hang;
  fake::script().faultAtRead = 3;
  const auto startedAt = std::chrono::steady_clock::now();
  Sweep(138000000, 153000000);
  ASSERT_TRUE(fake::WaitPaused(5s));
  const auto timed = [](auto&& f) { return wgtest::HeldFor(f); };
  EXPECT_LT(timed([&] { engine->Stop(); }), 100ms);
  EXPECT_FALSE(engine->Running());
  EXPECT_LT(timed([&] { Sweep(100000000, 110000000); }), 100ms);  // waits on its own thread
  ASSERT_TRUE(ui.PumpUntil([&] { return !log.empty(); }, 5s));
  EXPECT_GE(std::chrono::steady_clock::now() - startedAt, TSweepEngine::kHangTime);
  EXPECT_EQ(log, std::vector<std::string>{wg::kReceiverLostText});
  EXPECT_TRUE(engine->WorkerAbandoned());
  EXPECT_FALSE(engine->Running());
  EXPECT_GE(TSweepEngine::AbandonedWorkersAlive(), 1);

  // No worker on that receiver again, from this engine or another.
  EXPECT_LT(timed([&] { engine->Stop(); }), 100ms);
  EXPECT_FALSE(engine->Start());
  {
    wgtest::TestSeries other;
    TSweepEngine second(&other, ui.Poster(), [](const std::string&) {});
    EXPECT_FALSE(second.Start());
  }
  EXPECT_EQ(fake::Reads(), 2);

  // The engine goes away first; the read returns later and the worker ends
  // without touching it or posting anything.
  const long postsBefore = ui.Posted();
  EXPECT_LT(timed([&] { engine.reset(); }), 100ms);
  fake::Release();
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (TSweepEngine::AbandonedWorkersAlive() > 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(TSweepEngine::AbandonedWorkersAlive(), 0);
  EXPECT_EQ(ui.Posted(), postsBefore);
  EXPECT_LE(fake::MaxConcurrentCalls(), 1);
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
  EXPECT_LE(fake::MaxConcurrentCalls(), 1);
  EXPECT_TRUE(log.empty());
  if (series.deliveries > 0) {
    EXPECT_GE(SweepShown(), 0);  // whatever was shown is one whole sweep
  }
}

// Queued publications and log lines must not reach a series prepared for a
// newer range, nor a series or log whose engine is stopped for destruction
// or gone.
TEST_F(Engine, StaleQueuedCallsTouchNothing) {
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(1));
  ASSERT_TRUE(ui.WaitQueued());  // a finished sweep waits untaken
  engine->Stop();
  engine->SetScanRange(100000000, 110000000);
  ASSERT_TRUE(engine->Reset());
  engine->PrepareSeries();
  long writes = series.writes;
  ui.Pump();  // the old range's sweep
  EXPECT_EQ(series.writes, writes);
  for (double v : series.x) ASSERT_EQ(v, 0.0);
  ASSERT_TRUE(engine->Start());
  series.deliveries = 0;
  ASSERT_TRUE(WaitDeliveries(1));
  engine->Stop();
  EXPECT_EQ(series.x[0], 100000000.0);

  ASSERT_TRUE(engine->Start());
  ASSERT_TRUE(ui.WaitQueued());
  engine.reset();
  writes = series.writes;
  ui.Pump();
  EXPECT_EQ(series.writes, writes);

  // The destroyed engine's receiver closes on its own thread; the next one
  // opens the stick once it has.
  ASSERT_TRUE(wg::Receiver::WaitThreadsEnded(10s));
  SetUp();
  fake::script().fault = fake::Fault::Error;
  fake::script().faultAtRead = 6;
  series.writes = 0;
  Sweep(138000000, 153000000);
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (engine->Running() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
  engine->StopForDestroy();
  ui.Pump();  // a finished sweep and the failed read's line were queued
  EXPECT_EQ(series.writes, 0);
  EXPECT_TRUE(log.empty());
}

// A step that fails every time ends the worker with one line instead of
// spinning through the steps without reading.
TEST_F(Engine, AStepThatAlwaysThrowsStopsTheWorkerWithOneLine) {
  fake::script().fault = fake::Fault::ThrowAlways;
  Sweep(138000000, 153000000);
  // The line is posted after the worker has stopped: a busy machine may show
  // the one without the other for a while.
  ASSERT_TRUE(ui.PumpUntil([&] { return !engine->Running() && !log.empty(); }));
  ASSERT_TRUE(engine->WaitIdle(5s));
  ui.Pump();
  EXPECT_EQ(fake::Reads(), 0);
  EXPECT_EQ(fake::Centres().size(), static_cast<size_t>(TSweepEngine::kMostFailedSteps));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], std::string(wg::kStepFailedText) + "scripted failure");
}

// Steps the tuner cannot reach are gaps (NaN) at their own frequencies, the
// sweep goes on, and the log names the untuned band once per scan range.
TEST_F(Engine, UntunableStepsAreGapsWithOneLinePerRange) {
  fake::script().tuneMax = 145000000;  // 146.0, 149.2 and 152.4 MHz fail
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(3));
  engine->Stop();
  ExpectFrequencies(138000000, 19200);
  for (size_t i = 0; i < 19200; ++i) ASSERT_EQ(std::isnan(series.y[i]), i >= 8192) << i;
  ASSERT_TRUE(engine->Start());  // the same range again: no second line
  ASSERT_TRUE(WaitDeliveries(5));
  engine->Stop();
  // The step under way still tunes: the script changes once it is done.
  ASSERT_TRUE(engine->WaitIdle(5s));
  ui.Pump();
  EXPECT_EQ(log, std::vector<std::string>{std::string(wg::kUntunedText) + "144.4–153"});

  fake::script().tuneMin = 2000000000;  // nothing of the next range tunes
  Sweep(140000000, 150000000);
  ASSERT_TRUE(WaitDeliveries(7));
  const size_t tunings = fake::Centres().size();
  std::this_thread::sleep_for(300ms);  // waits between sweeps, no spinning
  EXPECT_LT(fake::Centres().size() - tunings, 40u);
  engine->Stop();
  ui.Pump();
  for (double y : series.y) ASSERT_TRUE(std::isnan(y));
  EXPECT_EQ(series.PointCount(), 12800);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], std::string(wg::kUntunedText) + "140–150");
}

// Listeners get every sweep of the current range after the series, with or
// without a series; a series that refuses writes costs one log line.
TEST_F(Engine, ListenersSeeEachSweepAndFailuresAreSaidOnce) {
  std::vector<wg::SweepPtr> seen;
  std::vector<double> firstX;
  const int id = engine->AddSweepListener([&](const wg::SweepPtr& v) {
    seen.push_back(v);
    firstX.push_back(v->X(0));
    EXPECT_EQ(series.x[0], v->X(0));  // the series is written first
  });
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(3));
  engine->RemoveSweepListener(id);
  ASSERT_TRUE(WaitDeliveries(5));
  engine->Stop();
  ASSERT_EQ(seen.size(), 3u);
  for (size_t i = 0; i < seen.size(); ++i) {
    const wg::Sweep& v = *seen[i];
    EXPECT_EQ(v.sequence, i + 1);
    EXPECT_EQ(v.PointCount(), 20480u);
    EXPECT_EQ(std::tie(v.start, v.stop, v.sampleRate, v.binWidth),
              std::make_tuple(int64_t{138000000}, int64_t{153000000}, 3200000, kBin));
    EXPECT_LE(v.started, v.finished);
    EXPECT_EQ(firstX[i], 138000000.0);
  }

  struct Refusing : wgtest::TestSeries {
    void ShowSweep(const wg::SweepPtr&) override { throw std::out_of_range("List index out of bounds (19200)"); }
  } refusing;
  for (wg::TSweepSeries* s : {static_cast<wg::TSweepSeries*>(&refusing), static_cast<wg::TSweepSeries*>(nullptr)}) {
    engine = std::make_unique<TSweepEngine>(s, ui.Poster(), [this](const std::string& t) { log.push_back(t); });
    ASSERT_NE(wgtest::AttachReceiver(*engine), nullptr);
    log.clear();
    int calls = 0;
    engine->AddSweepListener([&](const wg::SweepPtr&) { ++calls; });
    Sweep(138000000, 153000000);
    ASSERT_TRUE(ui.PumpUntil([&] { return calls >= 3; }));
    engine->Stop();
    if (s) EXPECT_EQ(log, std::vector<std::string>{std::string(wg::kDeliveryFailedText) + "List index out of bounds (19200)"});
    else EXPECT_TRUE(log.empty());
  }
}

// The worker folds each sweep into the maxima of the hold; a restart begins
// them again with the next sweep shown, also when that one was on its way.
TEST_F(Engine, HoldKeepsTheMaximaSinceItBeganWithoutTheWindowWalkingThePoints) {
  std::vector<wg::SweepPtr> seen;
  engine->AddSweepListener([&](const wg::SweepPtr& s) { seen.push_back(s); });
  const auto maxima = [&](size_t from, size_t to) {
    std::vector<float> m(seen[from]->levels);
    for (size_t k = from + 1; k <= to; ++k)
      for (size_t i = 0; i < m.size(); ++i) m[i] = std::max(m[i], seen[k]->levels[i]);
    return m;
  };
  // One sweep at a time: the worker waits in the first read of each sweep
  // until it is let go to measure it and hand it over.
  const auto measure = [&] {
    const long posted = ui.Posted();
    if (!fake::WaitPaused(5s)) return false;
    fake::script().pauseAtRead += 5;
    fake::Release();
    return ui.WaitPosted(posted);
  };
  const auto deliver = [&](size_t n) { return ui.PumpUntil([&] { return seen.size() == n; }); };
  engine->SetHold(true);
  EXPECT_TRUE(engine->Holding());
  fake::script().pauseAtRead = 1;
  Sweep(138000000, 153000000);
  ASSERT_TRUE(measure() && deliver(1));
  EXPECT_EQ(engine->HeldLevels(*seen[0]), seen[0]->levels);
  ASSERT_TRUE(measure() && deliver(2));
  EXPECT_EQ(engine->HeldLevels(*seen[1]), maxima(0, 1));
  EXPECT_NE(seen[1]->levels, maxima(0, 1)) << "a weaker sweep than the first";

  engine->RestartHold();
  ASSERT_TRUE(measure() && deliver(3));
  EXPECT_EQ(engine->HeldLevels(*seen[2]), seen[2]->levels);
  ASSERT_TRUE(measure());  // the fourth sweep waits untaken while the hold restarts
  engine->RestartHold();
  ASSERT_TRUE(deliver(4));
  EXPECT_EQ(engine->HeldLevels(*seen[3]), seen[3]->levels);
  ASSERT_TRUE(measure() && deliver(5));
  EXPECT_EQ(engine->HeldLevels(*seen[4]), maxima(3, 4));

  engine->SetHold(false);
  ASSERT_TRUE(measure() && deliver(6));
  EXPECT_TRUE(seen[5]->maxima.empty()) << "no hold, no fold";
  engine->Stop();
  fake::Release();
}

// The fast sweep reads whole transfers of the stale bytes and those its
// levels use, sets the rate only when it changes, and its levels are those
// of the bytes it keeps: the same as the written block's.
TEST_F(Engine, FastStepsReadOnlyWhatTheirLevelsUse) {
  for (auto [mode, length] : {std::pair{wg::TraceMode::Live, 12288}, {wg::TraceMode::Average, 69632}}) {
    SCOPED_TRACE(length);
    Reinstall();
    series.deliveries = 0;
    engine->SetTraceMode(mode);
    engine->SetFast(true);
    Sweep(138000000, 153000000);
    ASSERT_TRUE(WaitDeliveries(2));
    engine->Stop();
    ASSERT_TRUE(engine->WaitIdle(5s));
    const auto calls = fake::Calls();
    const std::string read = "read " + std::to_string(length);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "rate 3200000"), 0) << "in force since the open";
    EXPECT_EQ(std::count(calls.begin(), calls.end(), read), fake::Reads());
    EXPECT_EQ(length % 512, 0);
    EXPECT_GE(SweepShown(), 0);
    ExpectFrequencies(138000000, 19200);
  }
}

// After a wide range the storage for sweeps shrinks back with the range.
TEST_F(Engine, StorageShrinksWhenTheRangeNarrows) {
  Sweep(24000000, 500000000);  // 149 steps, 610,304 points
  ASSERT_TRUE(WaitDeliveries(1));
  // The next sweep holds its levels from its first step on.
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (engine->HeldPointCapacity() <= 600000u && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(1ms);
  EXPECT_GT(engine->HeldPointCapacity(), 600000u);
  engine->Stop();
  ASSERT_TRUE(engine->WaitIdle(5s));
  series.deliveries = 0;
  Sweep(138000000, 153000000);
  ASSERT_TRUE(WaitDeliveries(3));
  engine->Stop();
  ASSERT_TRUE(engine->WaitIdle(5s));
  EXPECT_LT(engine->HeldPointCapacity(), 4u * 32768);
}

TEST_F(Engine, StartIsRefusedWithoutAReceiverAndResetWhileRunning) {
  for (wg::ReceiverId id : engine->Receivers()) engine->RemoveReceiver(id, 1s);
  EXPECT_FALSE(engine->Start());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], wg::kReceiverNotOpenText);

  fake::script().openResult = -3;  // one that does not open is none either
  ASSERT_NE(wgtest::AttachReceiver(*engine), nullptr);
  EXPECT_FALSE(engine->Start());
  ASSERT_EQ(log.size(), 2u);
  fake::script().openResult = 0;

  ASSERT_NE(wgtest::AttachReceiver(*engine), nullptr);
  engine->PrepareSeries();
  ASSERT_TRUE(engine->Start());
  EXPECT_FALSE(engine->Reset());
  engine->Stop();
  EXPECT_TRUE(engine->Reset());
  EXPECT_EQ(engine->StepIndex(), 1);
  EXPECT_EQ(engine->PointsInProgress(), 0u);
}

}  // namespace
