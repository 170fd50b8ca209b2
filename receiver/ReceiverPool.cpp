#include "receiver/ReceiverPool.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <utility>

namespace wg {
namespace {

PoolNote MakeNote(PoolNote::Kind kind, ReceiverId id, const std::string& serial, int result, int count = 0,
                  int length = 0) {
  PoolNote n;
  n.kind = kind;
  n.id = id;
  n.serial = serial;
  n.result = result;
  n.count = count;
  n.length = length;
  return n;
}

}  // namespace

struct ReceiverPool::Core : StepSource {
  struct Member {
    ReceiverId id = 0;
    Receiver* receiver = nullptr;  // owned by the pool; taken out of here before it goes
    std::string serial;
    bool settled = false; // its first open has been tried
    bool ready = false;   // open and sweeping
    bool failed = false;  // a read failed: left out until Restart
    // This sweep's share: steps [begin, end), the next one to hand out. A
    // stick gone away keeps its place: back within the sweep, it goes on
    // from the step it was taken from.
    size_t begin = 0, end = 0, next = 0;
    bool inFlight = false;
    int errorsInARow = 0;
    uint64_t flightSweep = 0;
    size_t flightStep = 0;
    std::shared_ptr<const ScanPlan> flightPlan;
  };

  mutable std::mutex m;
  mutable std::condition_variable cv;
  Listener listener;
  bool closed = false;
  int calling = 0;  // a thread is handing over to the listener

  std::vector<Member> members;
  std::shared_ptr<const ScanPlan> plan;
  uint64_t planCount = 0, sweepCount = 0, handedOver = 0;
  bool running = false, stalled = false;
  std::shared_ptr<PooledSweep> current;
  // The sweep under way has its levels (all NaN until measured): the first
  // receiver to take a step of it makes them, off the lock, so that whoever
  // begins a sweep (a range change on the window's thread) does no work per
  // point. Meanwhile the other receivers wait to be woken.
  bool levelsMade = false, makingLevels = false;
  SteadyTime notBefore{};  // after a sweep that tuned nothing

  Member* Find(ReceiverId id) {
    for (auto& mb : members)
      if (mb.id == id) return &mb;
    return nullptr;
  }

  bool NextStep(ReceiverId id, StepTask& task, SteadyTime& askAgain) override;
  bool MakeLevels(std::unique_lock<std::mutex>& lk);
  void WakeSweepers();
  void StepDone(ReceiverId id, const StepTask& task, const StepResult& result) override;
  void OnEvent(const ReceiverEvent& e);

  // Under m. The pending calls to the listener are made by Flush, unlocked.
  void BeginSweep();
  void DropSweep();
  void StartOver(std::unique_lock<std::mutex>& lk);
  void CheckFinished();
  void LeaveOut(Member& mb);
  void Away(Member& mb);
  // Members open and sweeping.
  int Sweeping() const {
    return static_cast<int>(
        std::count_if(members.begin(), members.end(), [](const Member& mb) { return mb.ready && !mb.failed; }));
  }
  std::vector<std::shared_ptr<PooledSweep>> outSweeps;
  std::vector<PoolNote> outNotes;
  void Note(PoolNote n) { outNotes.push_back(std::move(n)); }
  void Flush(std::unique_lock<std::mutex>& lk);
};

void ReceiverPool::Core::BeginSweep() {
  current.reset();
  for (auto& mb : members) {
    mb.begin = mb.end = mb.next = 0;
  }
  if (!running || !plan || plan->centres.empty()) return;
  // Sticks still opening are waited for: each takes a share from the start.
  if (!std::all_of(members.begin(), members.end(), [](const Member& mb) { return mb.settled; })) return;
  std::vector<Member*> sweepers;
  for (auto& mb : members)
    if (mb.ready && !mb.failed) sweepers.push_back(&mb);
  if (sweepers.empty()) {
    if (!members.empty()) {
      if (!stalled) {
        PoolNote n;
        n.kind = PoolNote::Kind::Stalled;
        Note(n);
      }
      stalled = true;
    }
    return;
  }
  stalled = false;
  const size_t steps = plan->centres.size(), n = sweepers.size();
  for (size_t k = 0; k < n; ++k) {
    Member& mb = *sweepers[k];
    mb.begin = mb.next = steps * k / n;
    mb.end = steps * (k + 1) / n;
  }
  auto s = std::make_shared<PooledSweep>();
  s->plan = plan;
  s->planNumber = planCount;
  s->pointsPerStep = plan->pointsPerStep;
  s->marks.assign(steps, StepMark::Gap);
  s->started = std::chrono::system_clock::now();
  current = std::move(s);
  levelsMade = makingLevels = false;
  ++sweepCount;
  for (Member* mb : sweepers) mb->receiver->Wake();
}

bool ReceiverPool::Core::MakeLevels(std::unique_lock<std::mutex>& lk) {
  if (levelsMade) return true;
  if (makingLevels) return false;  // another receiver is at it and wakes us
  makingLevels = true;
  const std::shared_ptr<PooledSweep> target = current;
  const size_t count = target->marks.size() * static_cast<size_t>(std::max(target->pointsPerStep, 0));
  lk.unlock();
  std::vector<float> levels(count, std::numeric_limits<float>::quiet_NaN());
  lk.lock();
  if (current != target) return false;  // dropped meanwhile; its successor starts afresh
  target->levels = std::move(levels);
  makingLevels = false;
  levelsMade = true;
  WakeSweepers();
  return true;
}

void ReceiverPool::Core::WakeSweepers() {
  for (auto& mb : members)
    if (mb.ready && mb.next < mb.end) mb.receiver->Wake();
}

void ReceiverPool::Core::StartOver(std::unique_lock<std::mutex>& lk) {
  notBefore = {};
  running = true;
  DropSweep();
  BeginSweep();
  Flush(lk);
}

void ReceiverPool::Core::DropSweep() {
  current.reset();
  ++sweepCount;  // steps under way now belong to no sweep
}

void ReceiverPool::Core::LeaveOut(Member& mb) {
  // The rest of its share stays unmeasured in this sweep.
  mb.next = mb.end;
  if (mb.inFlight) {
    mb.inFlight = false;
    mb.flightPlan.reset();
  }
}

void ReceiverPool::Core::Away(Member& mb) {
  // The rest of its share waits for its return, the step it was taken from
  // first; if the others finish before, that rest is a gap in this sweep.
  mb.ready = false;
  if (mb.inFlight) {
    if (mb.flightSweep == sweepCount) mb.next = mb.flightStep;
    mb.inFlight = false;
    mb.flightPlan.reset();
  }
}

void ReceiverPool::Core::CheckFinished() {
  if (!current || !running) return;
  bool anyLeft = false, awaited = false;
  for (const auto& mb : members) {
    if (mb.inFlight && mb.flightSweep == sweepCount) return;
    const bool sweeping = mb.ready && !mb.failed;
    if (sweeping && mb.next < mb.end) return;
    anyLeft |= sweeping;
    awaited |= !mb.ready && !mb.failed && mb.next < mb.end;
  }
  // With no receiver left to sweep, the sweep waits for one that went away:
  // back, it finishes its share, keeping the steps already read.
  if (!anyLeft && awaited) return;
  std::shared_ptr<PooledSweep> done = std::move(current);
  done->finished = std::chrono::system_clock::now();
  // Its receivers went before any took a step: nothing was measured.
  if (!levelsMade && anyLeft)
    done->levels.assign(done->marks.size() * static_cast<size_t>(std::max(done->pointsPerStep, 0)),
                        std::numeric_limits<float>::quiet_NaN());
  // A sweep that none of its receivers finished is no sweep: with one stick,
  // a failed read shows nothing of it.
  const bool tunedAny = std::find(done->marks.begin(), done->marks.end(), StepMark::Measured) != done->marks.end();
  if (anyLeft) {
    done->sequence = ++handedOver;
    outSweeps.push_back(std::move(done));
  }
  if (!tunedAny && plan) {
    // Nothing could be tuned: wait about as long as reading would have
    // taken rather than spin.
    const long long ms = static_cast<long long>(plan->centres.size()) * plan->read.Length() * 500LL /
                         std::max<long long>(plan->rate, 1);
    notBefore = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::clamp(ms, 100LL, 1000LL));
  }
  BeginSweep();
}

bool ReceiverPool::Core::NextStep(ReceiverId id, StepTask& task, SteadyTime& askAgain) {
  std::unique_lock lk(m);
  if (closed || !running || !current) return false;
  if (std::chrono::steady_clock::now() < notBefore) {
    askAgain = notBefore;
    return false;
  }
  Member* mb = Find(id);
  if (!mb || mb->inFlight || mb->next >= mb->end) return false;
  if (!MakeLevels(lk)) return false;
  // The lock was let go while the levels were made: look again.
  mb = Find(id);
  if (closed || !running || !mb || mb->inFlight || mb->next >= mb->end) return false;
  task.centre = plan->centres[mb->next];
  task.rate = plan->rate;
  task.read = plan->read;
  task.ticket = mb->next;
  mb->inFlight = true;
  mb->flightSweep = sweepCount;
  mb->flightStep = mb->next++;
  mb->flightPlan = plan;
  return true;
}

void ReceiverPool::Core::StepDone(ReceiverId id, const StepTask&, const StepResult& r) {
  std::shared_ptr<const ScanPlan> p;
  std::shared_ptr<PooledSweep> target;
  size_t step = 0;
  {
    std::lock_guard lk(m);
    Member* mb = Find(id);
    if (!mb || !mb->inFlight) return;
    if (mb->flightSweep != sweepCount || !current) {
      mb->inFlight = false;  // of a sweep dropped meanwhile
      mb->flightPlan.reset();
      cv.notify_all();
      return;
    }
    p = mb->flightPlan;
    target = current;
    step = mb->flightStep;
  }
  // Each step has its own stretch of the sweep; only this thread writes it.
  const size_t at = step * static_cast<size_t>(p->pointsPerStep);
  std::string error = r.error;
  if (r.kind == StepResult::Kind::Read && p->transform) {
    try {
      thread_local std::vector<double> levels;
      levels.resize(static_cast<size_t>(p->pointsPerStep));
      p->transform(r.bytes, static_cast<size_t>(r.length), r.count, levels.data());
      std::copy(levels.begin(), levels.end(), target->levels.begin() + static_cast<std::ptrdiff_t>(at));
    } catch (const std::exception& e) {
      error = e.what();
    } catch (...) {
      error = "?";
    }
  }
  std::unique_lock lk(m);
  Member* mb = Find(id);
  if (!mb || !mb->inFlight) return;
  mb->inFlight = false;
  mb->flightPlan.reset();
  if (mb->flightSweep != sweepCount || current != target) {
    // Dropped while the step was transformed: its levels go with it.
    cv.notify_all();
    return;
  }
  if (!error.empty()) {
    // The step is left out; the share goes on unless the steps keep failing.
    target->marks[step] = StepMark::Skipped;
    cv.notify_all();
    if (++mb->errorsInARow >= p->mostFailedSteps) {
      mb->failed = true;
      LeaveOut(*mb);
      PoolNote n = MakeNote(PoolNote::Kind::StepFailed, id, mb->serial, 0);
      n.error = error;
      Note(std::move(n));
    }
    CheckFinished();
    Flush(lk);
    return;
  }
  mb->errorsInARow = 0;
  cv.notify_all();
  switch (r.kind) {
    case StepResult::Kind::Error:
    case StepResult::Kind::Read:
      target->marks[step] = StepMark::Measured;
      break;
    case StepResult::Kind::Untuned:
      target->marks[step] = StepMark::Untuned;
      break;
    case StepResult::Kind::Failed:
      mb->failed = true;
      LeaveOut(*mb);
    {
      PoolNote n = MakeNote(PoolNote::Kind::ReadFailed, id, mb->serial, r.result, r.count, r.length);
      n.othersSweeping = Sweeping();
      Note(std::move(n));
      break;
    }
    case StepResult::Kind::Gone:
      // The receiver looks for it from now on, and says when it is back;
      // the step is read again then.
      mb->ready = false;
      mb->next = step;
      Note(MakeNote(PoolNote::Kind::Gone, id, mb->serial, r.result, r.count, r.length));
      break;
  }
  CheckFinished();
  Flush(lk);
}

void ReceiverPool::Core::OnEvent(const ReceiverEvent& e) {
  std::unique_lock lk(m);
  Member* mb = Find(e.id);
  if (!mb || closed) return;
  if (!e.serial.empty()) mb->serial = e.serial;
  mb->settled = true;
  PoolNote n = MakeNote(PoolNote::Kind::Opened, e.id, mb->serial, e.result);
  switch (e.kind) {
    case ReceiverEvent::Kind::Opened:
    case ReceiverEvent::Kind::Back:
      n.kind = e.kind == ReceiverEvent::Kind::Opened ? PoolNote::Kind::Opened : PoolNote::Kind::Back;
      mb->ready = true;
      Note(n);
      if (!current)
        BeginSweep();  // a pool left without receivers goes on
      else if (mb->next < mb->end)
        mb->receiver->Wake();  // the rest of its share
      break;
    case ReceiverEvent::Kind::OpenFailed:
      n.kind = PoolNote::Kind::OpenFailed;
      mb->ready = false;
      Note(n);
      if (!current) BeginSweep();
      break;
    case ReceiverEvent::Kind::Gone:
    case ReceiverEvent::Kind::Hung:
      // A stick gone was said already when its step came back, unless that
      // step was dropped. A hung one's step will never be done: its share
      // ends here.
      if (e.kind == ReceiverEvent::Kind::Gone && !mb->ready) break;
      n.kind = e.kind == ReceiverEvent::Kind::Gone ? PoolNote::Kind::Gone : PoolNote::Kind::Hung;
      if (e.kind == ReceiverEvent::Kind::Gone) {
        Away(*mb);
      } else {
        mb->ready = false;
        LeaveOut(*mb);
        n.othersSweeping = Sweeping();
      }
      Note(n);
      CheckFinished();
      if (!current) BeginSweep();
      break;
  }
  Flush(lk);
}

void ReceiverPool::Core::Flush(std::unique_lock<std::mutex>& lk) {
  // One thread at a time hands over, so the listener hears everything in the
  // order it happened: a thread finding another at it leaves its part to it.
  if (calling > 0) return;
  while (!outSweeps.empty() || !outNotes.empty()) {
    auto sweeps = std::move(outSweeps);
    auto notes = std::move(outNotes);
    outSweeps.clear();
    outNotes.clear();
    if (closed) return;
    ++calling;
    const Listener l = listener;
    lk.unlock();
    for (const auto& n : notes)
      if (l.note) l.note(n);
    for (auto& s : sweeps)
      if (l.sweep) l.sweep(std::move(s));
    lk.lock();
    --calling;
    cv.notify_all();
  }
}

// ---------------------------------------------------------------------------

ReceiverPool::ReceiverPool(Listener listener) : core_(std::make_shared<Core>()) {
  core_->listener = std::move(listener);
}

ReceiverPool::~ReceiverPool() { Close(Receiver::kCloseWait); }

ReceiverId ReceiverPool::Add(std::unique_ptr<Receiver> receiver) {
  if (!receiver) return 0;
  Receiver* r = receiver.get();
  {
    std::lock_guard lk(core_->m);
    if (core_->closed) return 0;
    Core::Member mb;
    mb.id = r->Id();
    mb.receiver = r;
    core_->members.push_back(std::move(mb));
  }
  receivers_.push_back(std::move(receiver));
  // Events reach the pool only while it is there.
  r->SetListener([weak = std::weak_ptr<Core>(core_)](const ReceiverEvent& e) {
    if (auto core = weak.lock()) core->OnEvent(e);
  });
  r->SetSource(core_);
  if (!r->Start()) {
    Remove(r->Id(), std::chrono::milliseconds(0));
    return 0;
  }
  return r->Id();
}

void ReceiverPool::Remove(ReceiverId id, std::chrono::milliseconds wait) {
  auto it = std::find_if(receivers_.begin(), receivers_.end(), [id](const auto& r) { return r->Id() == id; });
  if (it == receivers_.end()) return;
  {
    std::unique_lock lk(core_->m);
    if (Core::Member* mb = core_->Find(id)) {
      core_->LeaveOut(*mb);
      std::erase_if(core_->members, [id](const auto& m) { return m.id == id; });
      core_->CheckFinished();
      if (!core_->current) core_->BeginSweep();
    }
    core_->Flush(lk);
  }
  std::unique_ptr<Receiver> r = std::move(*it);
  receivers_.erase(it);
  r->Close(wait);
}

Receiver* ReceiverPool::Find(ReceiverId id) const {
  for (const auto& r : receivers_)
    if (r->Id() == id) return r.get();
  return nullptr;
}

std::vector<ReceiverId> ReceiverPool::Ids() const {
  std::vector<ReceiverId> ids;
  for (const auto& r : receivers_) ids.push_back(r->Id());
  return ids;
}

void ReceiverPool::SetPlan(ScanPlan plan) {
  std::unique_lock lk(core_->m);
  core_->plan = std::make_shared<const ScanPlan>(std::move(plan));
  ++core_->planCount;
  for (auto& mb : core_->members) mb.failed = false;
  core_->StartOver(lk);
}

void ReceiverPool::Restart() {
  std::unique_lock lk(core_->m);
  for (auto& mb : core_->members) mb.failed = false;
  core_->StartOver(lk);
}

void ReceiverPool::Stop() {
  std::unique_lock lk(core_->m);
  core_->running = false;
  // A hand-over under way on a receiver's thread ends first.
  core_->cv.wait(lk, [&] { return core_->calling == 0; });
}

void ReceiverPool::Resume() {
  std::unique_lock lk(core_->m);
  core_->running = true;
  core_->CheckFinished();  // a sweep finished while stopped
  if (!core_->current)
    core_->BeginSweep();
  else
    for (auto& mb : core_->members) mb.receiver->Wake();
  core_->Flush(lk);
}

void ReceiverPool::Discard() {
  std::lock_guard lk(core_->m);
  core_->DropSweep();
}

bool ReceiverPool::Running() const {
  std::lock_guard lk(core_->m);
  return core_->running && !core_->stalled;
}

bool ReceiverPool::Stalled() const {
  std::lock_guard lk(core_->m);
  return core_->stalled;
}

bool ReceiverPool::WaitQuiet(std::chrono::milliseconds wait) const {
  std::unique_lock lk(core_->m);
  return core_->cv.wait_for(lk, wait, [&] {
    return core_->calling == 0 &&
           std::none_of(core_->members.begin(), core_->members.end(), [](const auto& mb) { return mb.inFlight; });
  });
}

size_t ReceiverPool::StepsDone() const {
  std::lock_guard lk(core_->m);
  if (!core_->current) return 0;
  size_t done = 0;
  for (const auto& mb : core_->members) {
    const bool busy = mb.inFlight && mb.flightSweep == core_->sweepCount;
    done += mb.next - mb.begin - (busy ? 1 : 0);
  }
  return done;
}

size_t ReceiverPool::HeldCapacity() const {
  std::lock_guard lk(core_->m);
  return core_->current ? core_->current->levels.capacity() : 0;
}

void ReceiverPool::Close(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  {
    std::unique_lock lk(core_->m);
    core_->closed = true;
    core_->running = false;
    core_->current.reset();
    core_->members.clear();
    // A listener call under way finishes before Close returns.
    core_->cv.wait_until(lk, deadline, [&] { return core_->calling == 0; });
  }
  for (auto& r : receivers_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    r->Close(std::max(left, std::chrono::milliseconds(0)));
  }
  receivers_.clear();
}

}  // namespace wg
