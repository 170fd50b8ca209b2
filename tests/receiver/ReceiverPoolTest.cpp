// Several receivers sharing one scan range: contiguous shares, one whole
// sweep handed over, gaps where a stick failed, and a stick taking part again
// once it came back.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>

#include "receiver/ReceiverPool.h"
#include "tests/receiver/ScriptedDevice.h"

using namespace std::chrono_literals;
using wg::PoolNote;
using wg::ReceiverPool;
using wg::StepMark;
using wgtest::Bus;

namespace {

constexpr int kPoints = 4;

class Pool : public ::testing::Test {
 protected:
  void SetUp() override { bus = std::make_shared<Bus>(); }
  void TearDown() override {
    bus->Release();
    pool.reset();
  }

  void Sticks(int n) {
    for (int i = 0; i < n; ++i) bus->sticks.emplace_back("0000000" + std::to_string(i + 1));
  }
  // A pool of every stick on the bus, sweeping `steps` steps.
  void Start(size_t steps) {
    const int sticks = static_cast<int>(bus->sticks.size());
    pool = std::make_unique<ReceiverPool>(ReceiverPool::Listener{
        [this](std::shared_ptr<const wg::PooledSweep> s) {
          std::lock_guard lk(m);
          sweeps.push_back(std::move(s));
          cv.notify_all();
        },
        [this](const PoolNote& n) {
          std::lock_guard lk(m);
          notes.push_back(n.kind);
          cv.notify_all();
        }});
    for (int i = 0; i < sticks; ++i)
      pool->Add(std::make_unique<wg::Receiver>(std::make_unique<wgtest::ScriptedDevice>(bus, i),
                                               wg::ReceiverSettings{}));
    wg::ScanPlan plan;
    for (size_t j = 0; j < steps; ++j) plan.centres.push_back(static_cast<int64_t>(25 + j) * 1000000);
    plan.rate = 3200000;
    plan.pointsPerStep = kPoints;
    // Each level tells which centre the step's samples were tuned to.
    plan.transform = [](const uint8_t* b, size_t length, long, double* out) {
      for (int g = 0; g < kPoints; ++g) out[g] = b[length - 1];
    };
    pool->SetPlan(plan);
  }
  std::shared_ptr<const wg::PooledSweep> WaitSweep(size_t n) {
    std::unique_lock lk(m);
    if (!cv.wait_for(lk, 10s, [&] { return sweeps.size() >= n; })) return nullptr;
    return sweeps[n - 1];
  }
  size_t Count() {
    std::lock_guard lk(m);
    return sweeps.size();
  }
  bool WaitNote(PoolNote::Kind k) {
    std::unique_lock lk(m);
    return cv.wait_for(lk, 10s, [&] { return std::count(notes.begin(), notes.end(), k) > 0; });
  }
  int Notes(PoolNote::Kind k) {
    std::lock_guard lk(m);
    return static_cast<int>(std::count(notes.begin(), notes.end(), k));
  }
  // The steps of a sweep that hold their own centre's mark, or a gap.
  static std::string Shape(const wg::PooledSweep& s) {
    std::string shape;
    for (size_t j = 0; j < s.marks.size(); ++j) {
      const double v = s.levels[j * kPoints];
      if (s.marks[j] == StepMark::Gap) shape += std::isnan(v) ? '_' : '?';
      else shape += v == wgtest::MarkOf(static_cast<uint32_t>(25 + j) * 1000000) ? 'x' : '!';
    }
    return shape;
  }

  std::shared_ptr<Bus> bus;
  std::unique_ptr<ReceiverPool> pool;
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::shared_ptr<const wg::PooledSweep>> sweeps;
  std::vector<PoolNote::Kind> notes;
};

TEST_F(Pool, EachStickSweepsAContiguousShareAndTheSweepComesWhole) {
  Sticks(3);
  Start(10);
  const auto s = WaitSweep(3);
  ASSERT_TRUE(s);
  EXPECT_EQ(Shape(*s), "xxxxxxxxxx");
  EXPECT_EQ(s->sequence, 3u);
  pool->Stop();
  // Shares of 3, 3 and 4 steps, each low to high, the same every sweep.
  const std::vector<std::vector<uint32_t>> shares{
      {25000000, 26000000, 27000000}, {28000000, 29000000, 30000000}, {31000000, 32000000, 33000000, 34000000}};
  for (size_t i = 0; i < 3; ++i) {
    const auto c = bus->Centres(i);
    ASSERT_GE(c.size(), 2 * shares[i].size());
    EXPECT_EQ(std::vector<uint32_t>(c.begin(), c.begin() + static_cast<long>(shares[i].size())), shares[i]);
  }
  EXPECT_EQ(Notes(PoolNote::Kind::Opened), 3);
}

TEST_F(Pool, FailedStickLeavesItsShareAsAGapAndTheOthersTakeOver) {
  Sticks(2);
  bus->sticks[0].failAtRead = 2;  // still on the bus: only a bad read
  Start(6);
  const auto first = WaitSweep(1);
  ASSERT_TRUE(first);
  EXPECT_EQ(Shape(*first), "x__xxx");
  const auto next = WaitSweep(2);
  ASSERT_TRUE(next);
  EXPECT_EQ(Shape(*next), "xxxxxx");
  EXPECT_EQ(Notes(PoolNote::Kind::ReadFailed), 1);
  // Started over, the stick that failed has its share again.
  pool->Restart();
  const size_t now = Count();
  ASSERT_TRUE(WaitSweep(now + 2));
  pool->Stop();
  EXPECT_GE(bus->Centres(0).size(), 3u + 2u);
}

TEST_F(Pool, OneStickThatFailsShowsNothingOfItsSweepAndWaitsForARestart) {
  Sticks(1);
  bus->sticks[0].failAtRead = 5;  // the second sweep's second step
  Start(3);
  ASSERT_TRUE(WaitNote(PoolNote::Kind::Stalled));
  EXPECT_EQ(Count(), 1u);
  EXPECT_EQ(Notes(PoolNote::Kind::ReadFailed), 1);
  EXPECT_FALSE(pool->Running());
  pool->Restart();
  ASSERT_TRUE(WaitSweep(2));
}

TEST_F(Pool, HungStickEndsItsShareAndTheSweepGoesOnWithoutIt) {
  Sticks(2);
  bus->sticks[1].hangAtRead = 2;
  Start(4);
  ASSERT_TRUE(WaitNote(PoolNote::Kind::Hung));
  const auto s = WaitSweep(2);
  ASSERT_TRUE(s);
  EXPECT_EQ(Shape(*WaitSweep(1)), "xxx_");
  EXPECT_EQ(Shape(*s), "xxxx");
  // Closing does not wait for the stick still in its read.
  const auto t0 = std::chrono::steady_clock::now();
  pool->Close(300ms);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
}

TEST_F(Pool, StickThatWentAwayTakesPartAgainOnceBack) {
  Sticks(2);
  bus->sticks[0].failAtRead = 3;
  bus->sticks[0].failResult = -4;  // leaves the bus
  Start(4);
  ASSERT_TRUE(WaitNote(PoolNote::Kind::Gone));
  const auto gap = WaitSweep(1);
  ASSERT_TRUE(gap);
  const auto without = WaitSweep(3);
  ASSERT_TRUE(without);
  EXPECT_EQ(Shape(*without), "xxxx");
  const size_t before = bus->Centres(0).size();
  {
    std::lock_guard lk(bus->m);
    bus->sticks[0].present = true;
    bus->sticks[0].failAtRead = 0;
  }
  ASSERT_TRUE(WaitNote(PoolNote::Kind::Back));
  ASSERT_TRUE(WaitSweep(Count() + 2));
  pool->Stop();
  EXPECT_GT(bus->Centres(0).size(), before);
  EXPECT_EQ(Notes(PoolNote::Kind::Gone), 1);
  EXPECT_EQ(Notes(PoolNote::Kind::Stalled), 0);
}

// A stick that drops out every few reads: each return goes on from the step
// it was taken from, so the sweeps still come, whole, and no step is read
// twice but the one it dropped out in.
TEST_F(Pool, OneStickThatKeepsDroppingOutFinishesItsSweeps) {
  Sticks(1);
  bus->sticks[0].failAtRead = 3;
  bus->sticks[0].failResult = -4;
  bus->sticks[0].replug = true;
  Start(5);
  const auto second = WaitSweep(2);
  ASSERT_TRUE(second);
  pool->Stop();
  EXPECT_EQ(Shape(*WaitSweep(1)), "xxxxx");
  EXPECT_EQ(Shape(*second), "xxxxx");
  // Reads 1, 2 and the third's failure, again after each return.
  const auto c = bus->Centres(0);
  const std::vector<uint32_t> firstSweep{25000000, 26000000, 27000000, 27000000, 28000000, 29000000, 29000000};
  ASSERT_GE(c.size(), firstSweep.size());
  EXPECT_EQ(std::vector<uint32_t>(c.begin(), c.begin() + 7), firstSweep);
  EXPECT_GE(Notes(PoolNote::Kind::Back), 2);
  EXPECT_EQ(Notes(PoolNote::Kind::Stalled), 0);
}

}  // namespace
