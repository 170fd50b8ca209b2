#include "receiver/Receiver.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

namespace wg {
namespace {

int64_t SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::atomic<ReceiverId> g_nextId{1};

// Threads left in a call. Never destroyed: such a thread may return while
// the program's statics are torn down.
struct HungCount {
  std::mutex m;
  std::condition_variable cv;
  int count = 0;
  int alive = 0;  // receiver threads not ended
};
HungCount& Hung() {
  static auto* h = new HungCount;
  return *h;
}
void CountHung(int delta) {
  HungCount& h = Hung();
  std::lock_guard lk(h.m);
  h.count += delta;
  h.cv.notify_all();
}
void CountAlive(int delta) {
  HungCount& h = Hung();
  std::lock_guard lk(h.m);
  h.alive += delta;
  h.cv.notify_all();
}

int NearestIn(const std::vector<int>& gains, int tenths) {
  if (gains.empty()) return tenths;
  return *std::min_element(gains.begin(), gains.end(), [tenths](int a, int b) {
    return std::abs(static_cast<long>(a) - tenths) < std::abs(static_cast<long>(b) - tenths);
  });
}

}  // namespace

struct Receiver::Core {
  explicit Core(ReceiverId i, std::unique_ptr<ReceiverDevice> d, ReceiverSettings s, ReceiverListener l)
      : id(i), hangTime(d->HangTime()), device(std::move(d)), listener(std::move(l)), settings(s), live(s) {}
  const ReceiverId id;
  const std::chrono::nanoseconds hangTime;  // the device's
  std::unique_ptr<ReceiverDevice> device;  // the receiver's thread only

  // Shared, under m.
  mutable std::mutex m;
  mutable std::condition_variable cv;
  ReceiverListener listener;
  ReceiverState state = ReceiverState::Opening;
  bool openTried = false;
  ReceiverSettings settings;
  ReceiverFound found;
  std::deque<std::pair<Change, Done>> changes;
  std::shared_ptr<StepSource> source;
  uint64_t wakes = 0;
  bool closing = false, ended = false, watchdogQuit = false;

  // Set around every call into the stick; the watchdog reads it.
  std::atomic<int64_t> callSince{0};
  std::atomic<bool> hung{false};
  std::thread watchdog;

  // The receiver's thread only: its working copies, published under m.
  ReceiverState liveState = ReceiverState::Opening;
  ReceiverSettings live;
  ReceiverFound liveFound;
  uint32_t rateInForce = 0;
  std::vector<uint8_t> buffer;

  void Run();
  void Watch();
  void Emit(ReceiverEvent::Kind kind, int result);
  void SetState(ReceiverState s);
  void Publish();
  template <class F>
  auto Call(F&& f) {
    struct InCall {
      std::atomic<int64_t>& since;
      explicit InCall(std::atomic<int64_t>& s) : since(s) { since.store(SteadyNanos()); }
      ~InCall() { since.store(0); }
    } watched(callSince);
    return f();
  }
  bool Open();
  bool ApplyGain(GainMode mode, int tenths);
  // An option: kept for the next open while the stick is not open; taken
  // only from a library that has it and a stick that accepts it.
  template <class Keep, class Apply>
  bool Option(Keep keep, bool able, Apply apply) {
    if (liveState != ReceiverState::Open) {
      keep();
      return false;
    }
    if (!able || Call(apply) != 0) return false;
    keep();
    return true;
  }
  void Step(const StepTask& task, StepSource& source);
  bool WaitForWork(uint64_t seenWakes, SteadyTime until);
  void FailChanges(std::deque<std::pair<Change, Done>> failed);
};

void Receiver::Core::Emit(ReceiverEvent::Kind kind, int result) {
  ReceiverListener l;
  ReceiverEvent e;
  {
    std::lock_guard lk(m);
    if (closing || !listener) return;
    l = listener;
    e = {id, kind, found.serial, result};
  }
  l(e);
}

void Receiver::Core::SetState(ReceiverState s) {
  liveState = s;
  std::lock_guard lk(m);
  if (state != ReceiverState::Hung) state = s;
  cv.notify_all();
}

void Receiver::Core::Publish() {
  std::lock_guard lk(m);
  settings = live;
  found = liveFound;
}

void Receiver::Core::FailChanges(std::deque<std::pair<Change, Done>> failed) {
  for (auto& [change, done] : failed)
    if (done) done(Answer::Refused);
}

// Opens the stick and sets it up as the written set-up does, call for call,
// so that one stick with nothing chosen reports what it always did.
bool Receiver::Core::Open() {
  ReceiverFound& f = liveFound;
  ReceiverSettings& s = live;
  const int opened = Call([&] { return device->Open(); });
  f.openResult = opened;
  f.index = device->Index();
  f.serial = device->Serial();
  f.abilities = device->Abilities();
  if (opened < 0 || hung) {
    Publish();
    return false;
  }
  f.tuner = Call([&] { return device->TunerType(); });
  // A rate kept from before may be one this stick refuses; the default
  // then stands.
  if (Call([&] { return device->SetSampleRate(s.sampleRate); }) != 0 &&
      s.sampleRate != ReceiverSettings::kDefaultSampleRate) {
    s.sampleRate = ReceiverSettings::kDefaultSampleRate;
    Call([&] { return device->SetSampleRate(s.sampleRate); });
  }
  rateInForce = s.sampleRate;
  f.sampleRate = Call([&] { return device->SampleRate(); });
  Call([&] { return device->TunerGains(f.gains); });
  Publish();
  // A gain typed in dB (an option, a value kept from another stick) is the
  // tuner's nearest, settled before the first step.
  if (s.gainMode == GainMode::Manual) s.gainTenths = NearestIn(f.gains, s.gainTenths);
  if (!ApplyGain(s.gainMode, s.gainTenths)) {
    s.gainMode = GainMode::Written;
    ApplyGain(s.gainMode, s.gainTenths);
  }
  Call([&] { return device->SetFreqCorrection(s.freqCorrection); });
  f.freqCorrection = Call([&] { return device->FreqCorrection(); });
  // Options only when chosen: with none, the stick hears nothing it did not
  // hear before they existed. One it refuses stays off.
  if (s.biasTee && (!f.abilities.biasTee || Call([&] { return device->SetBiasTee(true); }) != 0)) s.biasTee = false;
  if (s.directSampling &&
      (!f.abilities.directSampling || Call([&] { return device->SetDirectSampling(s.directSampling); }) != 0))
    s.directSampling = 0;
  if (s.offsetTuning && (!f.abilities.offsetTuning || Call([&] { return device->SetOffsetTuning(true); }) != 0))
    s.offsetTuning = false;
  Publish();
  return !hung;
}

bool Receiver::Core::ApplyGain(GainMode mode, int tenths) {
  switch (mode) {
    case GainMode::Written:
      // The written set-up's value, its result never looked at.
      Call([&] { return device->SetGainMode(364); });
      return true;
    case GainMode::Auto:
      return Call([&] { return device->SetGainMode(0); }) == 0;
    case GainMode::Manual: {
      const auto& g = liveFound.gains;
      if (!g.empty() && std::find(g.begin(), g.end(), tenths) == g.end()) return false;
      return Call([&] { return device->SetGainMode(1); }) == 0 && Call([&] { return device->SetGain(tenths); }) == 0;
    }
  }
  return false;
}

void Receiver::Core::Step(const StepTask& t, StepSource& src) {
  StepResult r;
  if (t.centre < 0 || t.centre > static_cast<int64_t>(UINT32_MAX)) {
    r.kind = StepResult::Kind::Untuned;
    src.StepDone(id, t, r);
    return;
  }
  const int length = t.read.Length();
  if (buffer.size() < static_cast<size_t>(length)) buffer.resize(static_cast<size_t>(length));
  // A frequency the tuner cannot reach is not measured: whatever the stick
  // delivered would belong to its previous tuning.
  bool tuned = false;
  try {
    r.result = Call([&] { return device->SetCentre(static_cast<uint32_t>(t.centre)); });
    tuned = r.result >= 0;
    // What the stick makes while its tuner settles is of no frequency; what
    // its pipeline still holds then is dropped with the settle bytes.
    if (tuned && t.read.fast && t.read.tuneWaitUs > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(t.read.tuneWaitUs));
    if (tuned) {
      // The written step sets the rate each time; a fast one only when it
      // changed.
      if (!t.read.fast || t.rate != rateInForce) {
        Call([&] { return device->SetSampleRate(t.rate); });
        rateInForce = t.rate;
      }
      Call([&] { return device->ResetBuffer(); });
      r.result = Call([&] { return device->Read(buffer.data(), length, &r.count); });
    }
  } catch (const std::exception& e) {
    r.error = e.what();
  } catch (...) {
    r.error = "?";
  }
  if (hung) return;  // the watchdog has spoken for this step
  if (!r.error.empty()) {
    r.kind = StepResult::Kind::Error;
    src.StepDone(id, t, r);
    return;
  }
  // A stick pulled out between steps fails its tuning first: gone, not out of reach.
  const auto gone = [&] { return device->MeansGone(r.result) || !Call([&] { return device->Listed(); }); };
  if (!tuned)
    r.kind = gone() ? StepResult::Kind::Gone : StepResult::Kind::Untuned;
  else if (r.count < length || r.result < 0)
    r.kind = gone() ? StepResult::Kind::Gone : StepResult::Kind::Failed;
  else
    r.kind = StepResult::Kind::Read;
  r.count = std::clamp(r.count, 0, length);
  r.bytes = buffer.data();
  r.length = length;
  // Lost before the source hears of it: whoever sees the sweep stall then
  // sees that the stick is being looked for.
  if (r.kind == StepResult::Kind::Gone) SetState(ReceiverState::Lost);
  src.StepDone(id, t, r);
  if (r.kind != StepResult::Kind::Gone) return;
  // Its handle is of no use any more; the stick is looked for by serial.
  Call([&] { device->Close(); });
  Emit(ReceiverEvent::Kind::Gone, r.result);
}

bool Receiver::Core::WaitForWork(uint64_t seenWakes, SteadyTime until) {
  std::unique_lock lk(m);
  const auto ready = [&] { return closing || hung || !changes.empty() || wakes != seenWakes; };
  if (until == SteadyTime::max()) {
    cv.wait(lk, ready);
    return true;
  }
  return cv.wait_until(lk, until, ready);
}

void Receiver::Core::Run() {
  try {
    watchdog = std::thread([this] { Watch(); });
  } catch (const std::system_error&) {
    // Without a watchdog a hang goes unnoticed, but the stick still works.
  }
  const bool opened = Open();
  SetState(opened ? ReceiverState::Open : ReceiverState::OpenFailed);
  // Heard before the open counts as tried: whoever waited for it finds its
  // listener (the pool) knowing already.
  if (!hung) Emit(opened ? ReceiverEvent::Kind::Opened : ReceiverEvent::Kind::OpenFailed, liveFound.openResult);
  {
    std::lock_guard lk(m);
    openTried = true;
    cv.notify_all();
  }
  SteadyTime nextLook{};
  StepTask task;
  while (!hung) {
    std::pair<Change, Done> change;
    std::shared_ptr<StepSource> src;
    uint64_t seen = 0;
    ReceiverState now{};
    {
      std::lock_guard lk(m);
      if (closing) break;
      if (!changes.empty()) {
        change = std::move(changes.front());
        changes.pop_front();
      }
      src = source;
      seen = wakes;
      now = state;
    }
    if (change.first) {
      const bool taken = change.first(*this);
      Publish();
      // Not taken by a stick that is not open: kept for its next open.
      const Answer untaken = liveState != ReceiverState::Open ? Answer::Kept : Answer::Refused;
      if (change.second) change.second(hung ? Answer::Refused : taken ? Answer::Taken : untaken);
      continue;
    }
    if (now == ReceiverState::Lost) {
      if (std::chrono::steady_clock::now() >= nextLook) {
        nextLook = std::chrono::steady_clock::now() + kReturnPoll;
        if (Open()) {
          SetState(ReceiverState::Open);
          Emit(ReceiverEvent::Kind::Back, 0);
          continue;
        }
        Call([&] { device->Close(); });
      }
      WaitForWork(seen, nextLook);
      continue;
    }
    SteadyTime askAgain = SteadyTime::max();
    if (now == ReceiverState::Open && src && src->NextStep(id, task, askAgain)) {
      Step(task, *src);
      continue;
    }
    src.reset();
    WaitForWork(seen, askAgain);
  }
  // Closing, or back from a call the watchdog gave up on.
  device->Close();
  std::deque<std::pair<Change, Done>> left;
  {
    std::lock_guard lk(m);
    state = hung ? ReceiverState::Hung : ReceiverState::Closed;
    left.swap(changes);
    ended = watchdogQuit = true;
    cv.notify_all();
  }
  FailChanges(std::move(left));
  if (watchdog.joinable()) watchdog.join();
  if (hung) CountHung(-1);
  CountAlive(-1);
}

void Receiver::Core::Watch() {
  std::unique_lock lk(m);
  const int64_t limit = hangTime.count();
  while (!watchdogQuit) {
    cv.wait_for(lk, std::chrono::milliseconds(100), [&] { return watchdogQuit; });
    const int64_t since = callSince.load();
    if (watchdogQuit || since == 0 || SteadyNanos() - since < limit) continue;
    // Left in the call: the thread ends once it returns. Nothing waits for
    // it any more, and no change reaches the stick again.
    CountHung(1);
    hung = true;
    state = ReceiverState::Hung;
    std::deque<std::pair<Change, Done>> failed;
    failed.swap(changes);
    ReceiverListener l = closing ? nullptr : listener;
    const ReceiverEvent e{id, ReceiverEvent::Kind::Hung, found.serial, 0};
    cv.notify_all();
    lk.unlock();
    // Heard first: whoever learns that a change failed finds the receiver lost.
    if (l) l(e);
    FailChanges(std::move(failed));
    return;
  }
}

// ---------------------------------------------------------------------------

Receiver::Receiver(std::unique_ptr<ReceiverDevice> device, ReceiverSettings settings, ReceiverListener listener)
    : id_(g_nextId.fetch_add(1)),
      core_(std::make_shared<Core>(id_, std::move(device), settings, std::move(listener))) {}

Receiver::~Receiver() { Close(kCloseWait); }

bool Receiver::Start() {
  if (thread_.joinable()) return false;
  {
    std::lock_guard lk(core_->m);
    if (core_->closing || core_->ended) return false;
  }
  try {
    // The thread holds the state, the device and through it the library for
    // as long as it runs, whatever becomes of this object.
    CountAlive(1);
    thread_ = std::thread([core = core_] { core->Run(); });
  } catch (const std::system_error&) {
    CountAlive(-1);
    return false;
  }
  return true;
}

bool Receiver::WaitOpened(std::chrono::milliseconds wait) const {
  std::unique_lock lk(core_->m);
  return core_->cv.wait_for(lk, wait, [&] { return core_->openTried || core_->hung || core_->ended; }) &&
         core_->openTried;
}

void Receiver::SetListener(ReceiverListener listener) {
  std::lock_guard lk(core_->m);
  if (!core_->closing) core_->listener = std::move(listener);
}

void Receiver::SetSource(std::shared_ptr<StepSource> source) {
  std::lock_guard lk(core_->m);
  if (core_->closing) return;
  core_->source = std::move(source);
  ++core_->wakes;
  core_->cv.notify_all();
}

void Receiver::Wake() {
  std::lock_guard lk(core_->m);
  ++core_->wakes;
  core_->cv.notify_all();
}

void Receiver::Ask(Change change, Done done) {
  {
    std::lock_guard lk(core_->m);
    if (!core_->hung && !core_->closing) {
      core_->changes.emplace_back(std::move(change), std::move(done));
      core_->cv.notify_all();
      return;
    }
  }
  if (done) done(Answer::Refused);
}

void Receiver::SetGain(std::optional<int> tenthsDb, Done done) {
  const GainMode mode = tenthsDb ? GainMode::Manual : GainMode::Auto;
  const int tenths = tenthsDb.value_or(0);
  Ask(
      [mode, tenths](Core& c) {
        const GainMode was = c.live.gainMode;
        const int wasTenths = c.live.gainTenths;
        c.live.gainMode = mode;
        c.live.gainTenths = tenths;
        if (c.liveState != ReceiverState::Open) return false;
        if (c.ApplyGain(mode, tenths)) return true;
        c.live.gainMode = was;
        c.live.gainTenths = wasTenths;
        c.ApplyGain(was, wasTenths);  // a half-applied change is undone
        return false;
      },
      std::move(done));
}

void Receiver::SetFreqCorrection(int ppm, Done done) {
  Ask(
      [ppm](Core& c) {
        if (c.liveState != ReceiverState::Open) {
          c.live.freqCorrection = ppm;
          return false;
        }
        // The library refuses a correction equal to the one in force.
        const bool taken = c.Call([&] { return c.device->FreqCorrection(); }) == ppm ||
                           c.Call([&] { return c.device->SetFreqCorrection(ppm); }) == 0;
        if (taken) c.live.freqCorrection = ppm;
        c.liveFound.freqCorrection = c.Call([&] { return c.device->FreqCorrection(); });
        return taken;
      },
      std::move(done));
}

void Receiver::SetSampleRate(uint32_t rate, Done done) {
  Ask(
      [rate](Core& c) {
        if (rate == 0 || rate > static_cast<uint32_t>(INT32_MAX)) return false;
        if (c.liveState != ReceiverState::Open) {
          c.live.sampleRate = rate;
          return false;
        }
        if (c.Call([&] { return c.device->SetSampleRate(rate); }) != 0) return false;
        c.live.sampleRate = c.rateInForce = rate;
        c.liveFound.sampleRate = c.Call([&] { return c.device->SampleRate(); });
        return true;
      },
      std::move(done));
}

void Receiver::SetBiasTee(bool on, Done done) {
  Ask(
      [on](Core& c) {
        return c.Option([&] { c.live.biasTee = on; }, c.liveFound.abilities.biasTee,
                        [&] { return c.device->SetBiasTee(on); });
      },
      std::move(done));
}

void Receiver::SetDirectSampling(int mode, Done done) {
  if (mode < 0 || mode > 2) {
    if (done) done(Answer::Refused);
    return;
  }
  Ask(
      [mode](Core& c) {
        return c.Option([&] { c.live.directSampling = mode; }, c.liveFound.abilities.directSampling,
                        [&] { return c.device->SetDirectSampling(mode); });
      },
      std::move(done));
}

void Receiver::SetOffsetTuning(bool on, Done done) {
  Ask(
      [on](Core& c) {
        return c.Option([&] { c.live.offsetTuning = on; }, c.liveFound.abilities.offsetTuning,
                        [&] { return c.device->SetOffsetTuning(on); });
      },
      std::move(done));
}

bool Receiver::Close(std::chrono::milliseconds wait) {
  bool ended = false;
  std::deque<std::pair<Change, Done>> left;
  {
    std::unique_lock lk(core_->m);
    core_->closing = true;
    core_->listener = nullptr;
    core_->source = nullptr;
    core_->cv.notify_all();
    if (!thread_.joinable()) {
      // Never started: nothing will apply what was asked.
      core_->state = ReceiverState::Closed;
      left.swap(core_->changes);
    } else if (!core_->hung) {
      core_->cv.wait_for(lk, wait, [&] { return core_->ended || core_->hung; });
    }
    ended = core_->ended;
  }
  core_->FailChanges(std::move(left));
  if (!thread_.joinable()) return true;
  if (ended) thread_.join();
  else thread_.detach();  // it closes the stick itself when its call returns
  return ended;
}

int Receiver::HungThreads() {
  HungCount& h = Hung();
  std::lock_guard lk(h.m);
  return h.count;
}

bool Receiver::WaitNoHungThreads(std::chrono::milliseconds wait) {
  HungCount& h = Hung();
  std::unique_lock lk(h.m);
  return h.cv.wait_for(lk, wait, [&] { return h.count == 0; });
}

bool Receiver::WaitThreadsEnded(std::chrono::milliseconds wait) {
  HungCount& h = Hung();
  std::unique_lock lk(h.m);
  return h.cv.wait_for(lk, wait, [&] { return h.alive == 0; });
}

ReceiverState Receiver::State() const {
  std::lock_guard lk(core_->m);
  return core_->state;
}

ReceiverFound Receiver::Found() const {
  std::lock_guard lk(core_->m);
  return core_->found;
}

ReceiverSettings Receiver::Settings() const {
  std::lock_guard lk(core_->m);
  return core_->settings;
}

int Receiver::NearestGain(int tenthsDb) const {
  std::lock_guard lk(core_->m);
  return NearestIn(core_->found.gains, tenthsDb);
}

}  // namespace wg
