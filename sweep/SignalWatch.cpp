#include "sweep/SignalWatch.h"

namespace wg {

TSignalInput SignalInputOf(const SweepPtr& sweep) {
  TSignalInput in;
  in.levels = sweep->levels.data();
  in.count = sweep->PointCount();
  in.stepStarts = sweep->stepStarts;
  in.pointsPerStep = sweep->pointsPerStep;
  in.binWidth = sweep->binWidth;
  in.start = sweep->start;
  in.stop = sweep->stop;
  in.transformsAveraged = sweep->transformsAveraged;
  in.centreMended = sweep->centreMended;
  in.sequence = sweep->sequence;
  in.finished = sweep->finished;
  in.owner = sweep;
  return in;
}

TSignalWatch::TSignalWatch(Changed changed)
    : changed_(std::move(changed)), snapshot_(std::make_shared<TSignalSnapshot>()) {
  thread_ = std::thread([this] { Run(); });
}

TSignalWatch::~TSignalWatch() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TSignalWatch::Submit(TSignalInput in) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_) ++skipped_;
    pending_ = std::move(in);
  }
  wake_.notify_all();
}

void TSignalWatch::SetSettings(const TSignalSettings& s) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = s;
}

TSignalSettings TSignalWatch::Settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

void TSignalWatch::Clear() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++epoch_;
    pending_.reset();
    skipped_ = 0;
    snapshot_ = std::make_shared<TSignalSnapshot>();
  }
  wake_.notify_all();
  idle_.notify_all();
}

std::shared_ptr<const TSignalSnapshot> TSignalWatch::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_;
}

bool TSignalWatch::WaitIdle(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, wait, [this] { return !pending_ && !working_; });
}

void TSignalWatch::Run() {
  TSignalFinder finder;
  TSignalTable table;
  uint64_t applied = 0;  // the epoch the table belongs to
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || pending_; });
    if (stop_) return;
    TSignalInput in = std::move(*pending_);
    pending_.reset();
    const TSignalSettings settings = settings_;
    const uint64_t epoch = epoch_;
    working_ = true;
    lock.unlock();

    if (epoch != applied) table.Clear(), applied = epoch;
    table.Add(in, finder.Find(in, settings));
    auto snap = std::make_shared<TSignalSnapshot>();
    snap->found = table.Signals();
    snap->sweeps = table.Sweeps();
    snap->dropped = table.Dropped();
    in = {};  // the sweep's levels go before the lock is taken again

    lock.lock();
    const bool current = epoch == epoch_;
    if (current) {
      snap->skipped = skipped_;
      snapshot_ = std::move(snap);
    }
    working_ = false;
    if (!pending_) idle_.notify_all();
    if (current && changed_) {
      lock.unlock();
      changed_();
      lock.lock();
    }
  }
}

}  // namespace wg
