// One receiver on its own thread: the set-up it runs, changes between steps,
// a stick that hangs and one that goes away and comes back.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "receiver/Receiver.h"
#include "tests/common/RunQueueWait.h"
#include "tests/receiver/ScriptedDevice.h"

using namespace std::chrono_literals;
using wg::Receiver;
using wg::ReceiverEvent;
using wg::ReceiverState;
using wgtest::Bus;

namespace {

// Hands out one centre after another and keeps what came back.
class Steps : public wg::StepSource {
 public:
  explicit Steps(std::vector<int64_t> centres, wg::ReadPlan plan = {}) : centres_(std::move(centres)), plan_(plan) {}
  bool NextStep(wg::ReceiverId, wg::StepTask& t, wg::SteadyTime&) override {
    std::lock_guard lk(m_);
    if (next_ >= centres_.size()) return false;
    t.centre = centres_[next_];
    t.rate = 3200000;
    t.read = plan_;
    t.ticket = next_++;
    return true;
  }
  void StepDone(wg::ReceiverId, const wg::StepTask& t, const wg::StepResult& r) override {
    std::lock_guard lk(m_);
    kinds.push_back(r.kind);
    lastBytes.assign(r.bytes, r.bytes + r.length);
    (void)t;
    cv_.notify_all();
  }
  bool WaitDone(size_t n) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, 10s, [&] { return kinds.size() >= n; });
  }
  std::vector<wg::StepResult::Kind> Kinds() {
    std::lock_guard lk(m_);
    return kinds;
  }
  std::vector<uint8_t> LastBytes() {
    std::lock_guard lk(m_);
    return lastBytes;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<wg::StepResult::Kind> kinds;
  std::vector<uint8_t> lastBytes;
  std::vector<int64_t> centres_;
  wg::ReadPlan plan_;
  size_t next_ = 0;
};

struct Events {
  std::mutex m;
  std::condition_variable cv;
  std::vector<ReceiverEvent::Kind> kinds;
  wg::ReceiverListener Listener() {
    return [this](const ReceiverEvent& e) {
      std::lock_guard lk(m);
      kinds.push_back(e.kind);
      cv.notify_all();
    };
  }
  bool WaitFor(ReceiverEvent::Kind k, std::chrono::milliseconds wait = 10s) {
    std::unique_lock lk(m);
    return cv.wait_for(lk, wait, [&] { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); });
  }
};

std::shared_ptr<Bus> OneStick() {
  auto bus = std::make_shared<Bus>();
  bus->sticks.emplace_back("00000001");
  return bus;
}

std::unique_ptr<Receiver> Make(const std::shared_ptr<Bus>& bus, uint32_t index, wg::ReceiverSettings s = {},
                               wg::ReceiverListener l = {}) {
  return std::make_unique<Receiver>(std::make_unique<wgtest::ScriptedDevice>(bus, index), s, std::move(l));
}

TEST(Receiver, OpensAsTheWrittenSetUpDidAndTouchesNoOptionNotChosen) {
  auto bus = OneStick();
  auto r = Make(bus, 0);
  ASSERT_TRUE(r->Start());
  ASSERT_TRUE(r->WaitOpened(5s));
  EXPECT_EQ(r->State(), ReceiverState::Open);
  const std::vector<std::string> written{"open 0",      "tuner",           "rate 3200000", "get_rate", "gains",
                                         "gain_mode 364", "set_ppm 2700", "get_ppm"};
  EXPECT_EQ(bus->Calls(0), written);
  const auto f = r->Found();
  EXPECT_EQ(f.serial, "00000001");
  EXPECT_EQ(f.tuner, 5u);
  EXPECT_EQ(f.freqCorrection, 2700);
  EXPECT_EQ(f.sampleRate, 3200000u);
  EXPECT_EQ(f.gains.size(), 23u);
  r->Close(1s);
  EXPECT_EQ(bus->Calls(0).back(), "close");

  // Chosen options are applied after the written set-up; one the library
  // lacks stays off, and a typed gain becomes the tuner's nearest.
  auto bus2 = OneStick();
  bus2->sticks[0].biasTee = false;
  wg::ReceiverSettings s;
  s.biasTee = true;
  s.directSampling = 2;
  s.gainMode = wg::GainMode::Manual;
  s.gainTenths = 400;
  auto r2 = Make(bus2, 0, s);
  ASSERT_TRUE(r2->Start() && r2->WaitOpened(5s));
  const auto calls = bus2->Calls(0);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "gain 402"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "direct 2"), calls.end());
  EXPECT_EQ(std::find(calls.begin(), calls.end(), "bias_tee 1"), calls.end());
  EXPECT_FALSE(r2->Settings().biasTee);
  EXPECT_EQ(r2->Settings().directSampling, 2);
}

TEST(Receiver, ChangesComeBetweenStepsInTheirOrder) {
  auto bus = OneStick();
  auto r = Make(bus, 0);
  std::vector<int64_t> centres(40, 100000000);
  auto steps = std::make_shared<Steps>(centres);
  r->SetSource(steps);
  ASSERT_TRUE(r->Start());
  ASSERT_TRUE(steps->WaitDone(3));
  std::promise<std::vector<bool>> answers;
  auto got = std::make_shared<std::vector<bool>>();
  const auto note = [got](Receiver::Answer a) { got->push_back(a == Receiver::Answer::Taken); };
  r->SetGain(402, note);
  r->SetGain(400, note);  // not one of the tuner's: refused, 40.2 dB stays
  r->SetFreqCorrection(0, note);
  r->SetSampleRate(2048000, [got, &answers](Receiver::Answer a) {
    got->push_back(a == Receiver::Answer::Taken);
    answers.set_value(*got);
  });
  ASSERT_EQ(answers.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_EQ(*got, (std::vector<bool>{true, false, true, true}));
  EXPECT_EQ(r->Settings().gainTenths, 402);
  EXPECT_EQ(r->Settings().freqCorrection, 0);
  EXPECT_EQ(r->Found().sampleRate, 2048000u);
  // Each change sits between one step's read and the next step's tuning.
  const auto calls = bus->Calls(0);
  const auto at = std::find(calls.begin(), calls.end(), "gain 402");
  ASSERT_NE(at, calls.end());
  EXPECT_EQ(at[-2].rfind("read ", 0), 0u) << at[-2];
  r->Close(1s);
}

TEST(Receiver, HungReadIsLeftToFinishAndHoldsTheLibraryUntilThen) {
  auto bus = OneStick();
  bus->sticks[0].hangAtRead = 2;
  Events ev;
  auto r = Make(bus, 0, {}, ev.Listener());
  auto steps = std::make_shared<Steps>(std::vector<int64_t>(5, 100000000));
  r->SetSource(steps);
  ASSERT_TRUE(r->Start());
  ASSERT_TRUE(ev.WaitFor(ReceiverEvent::Kind::Hung));
  EXPECT_EQ(r->State(), ReceiverState::Hung);
  auto answer = Receiver::Answer::Taken;
  r->SetGain(402, [&](Receiver::Answer a) { answer = a; });
  EXPECT_EQ(answer, Receiver::Answer::Refused);  // answered at once: nothing reaches a hung stick
  std::weak_ptr<int> library = bus->library;
  bus->library.reset();
  const auto held = wgtest::HeldFor([&] { EXPECT_FALSE(r->Close(1s)); });
  EXPECT_LT(held, 100ms);
  r.reset();
  EXPECT_FALSE(library.expired());
  bus->Release();
  for (int i = 0; i < 500 && !library.expired(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(library.expired());  // the thread closed the stick and let go
  EXPECT_EQ(bus->Calls(0).back(), "close");
}

TEST(Receiver, StickThatGoesAwayIsFoundAgainBySerialWithItsSettings) {
  auto bus = OneStick();
  bus->sticks.insert(bus->sticks.begin(), wgtest::Stick{"00000009"});  // ours is index 1
  bus->sticks[1].failAtRead = 3;
  bus->sticks[1].failResult = -4;
  Events ev;
  wg::ReceiverSettings s;
  s.freqCorrection = 55;
  auto r = Make(bus, 1, s, ev.Listener());
  auto steps = std::make_shared<Steps>(std::vector<int64_t>(400, 100000000));
  r->SetSource(steps);
  ASSERT_TRUE(r->Start());
  ASSERT_TRUE(ev.WaitFor(ReceiverEvent::Kind::Gone));
  EXPECT_EQ(r->State(), ReceiverState::Lost);
  std::promise<Receiver::Answer> kept;
  r->SetFreqCorrection(66, [&](Receiver::Answer a) { kept.set_value(a); });
  EXPECT_EQ(kept.get_future().get(), Receiver::Answer::Kept);  // not taken by an absent stick, but kept for its return
  // It comes back first in the bus's list.
  {
    std::lock_guard lk(bus->m);
    std::swap(bus->sticks[0], bus->sticks[1]);
    bus->sticks[0].present = true;
    bus->sticks[0].failAtRead = 0;
  }
  ASSERT_TRUE(ev.WaitFor(ReceiverEvent::Kind::Back));
  EXPECT_EQ(r->Found().index, 0u);
  EXPECT_EQ(r->Found().freqCorrection, 66);
  ASSERT_TRUE(steps->WaitDone(10));
  const auto kinds = steps->Kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), wg::StepResult::Kind::Gone), 1);
  r->Close(1s);
}

// Pulled out between two steps, the stick fails its next tuning: that is a
// stick gone, looked for until it is back, not a frequency out of reach. One
// still there that cannot tune a frequency stays untuned and open.
TEST(Receiver, StickPulledOutBetweenStepsIsGoneNotUntuned) {
  auto bus = OneStick();
  Events ev;
  auto r = Make(bus, 0, {}, ev.Listener());
  std::vector<int64_t> centres(400, 100000000);
  centres[1] = 10000000;  // below the tuner's reach
  auto steps = std::make_shared<Steps>(centres);
  r->SetSource(steps);
  ASSERT_TRUE(r->Start());
  ASSERT_TRUE(steps->WaitDone(3));
  EXPECT_EQ(steps->Kinds()[1], wg::StepResult::Kind::Untuned);
  EXPECT_EQ(r->State(), ReceiverState::Open);
  bus->SetPresent(0, false);
  ASSERT_TRUE(ev.WaitFor(ReceiverEvent::Kind::Gone));
  EXPECT_EQ(r->State(), ReceiverState::Lost);
  bus->SetPresent(0, true);
  ASSERT_TRUE(ev.WaitFor(ReceiverEvent::Kind::Back));
  const size_t seen = steps->Kinds().size();
  ASSERT_TRUE(steps->WaitDone(seen + 2));
  r->Close(1s);
  const auto kinds = steps->Kinds();
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), wg::StepResult::Kind::Untuned), 1);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), wg::StepResult::Kind::Gone), 1);
}

TEST(Receiver, FastStepReadsWholePacketsAndNoStaleByteReachesTheSpectrum) {
  for (int settle : {wg::ReadPlan::kSettleBytes, 1000}) {
    auto bus = OneStick();
    bus->settleBytes = settle;
    auto r = Make(bus, 0);
    wg::ReadPlan fast;
    fast.fast = true;
    auto steps = std::make_shared<Steps>(std::vector<int64_t>{100000000, 200000000}, fast);
    r->SetSource(steps);
    ASSERT_TRUE(r->Start());
    ASSERT_TRUE(steps->WaitDone(2));
    const auto b = steps->LastBytes();
    ASSERT_EQ(b.size(), 12288u);
    const std::vector<uint8_t> used(b.end() - fast.usedBytes, b.end());
    EXPECT_EQ(std::count(used.begin(), used.end(), wgtest::MarkOf(200000000)), fast.usedBytes);
    // Set by the set-up, and not again while it stays the same.
    const auto calls = bus->Calls(0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "rate 3200000"), 1);
    r->Close(1s);
  }
  wg::ReadPlan averaged;
  averaged.fast = true;
  averaged.usedBytes = 65536;
  averaged.settleBytes = 1000;
  EXPECT_EQ(averaged.Length(), 66560);
  EXPECT_EQ(averaged.Length() % wg::ReadPlan::kTransferUnit, 0);
  EXPECT_EQ(wg::ReadPlan{}.Length(), 131072);
}

}  // namespace
