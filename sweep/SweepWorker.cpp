#include "sweep/SweepWorker.h"

#include <algorithm>
#include <string>

#include <QCoreApplication>

#include "runtime/NumText.h"
#include "sweep/SweepEngine.h"
#include "sweep/SweepHub.h"
#include "sweep/SweepWatchdog.h"

namespace wg {

namespace {

std::string MHzText(int64_t hz) { return rt::FloatToStr(static_cast<double>(hz) / 1e6); }

}  // namespace

void TSweepWorker::Post(std::function<void()> fn) {
  std::lock_guard lk(m);
  if (abandoned || !hub->post) return;  // the window may be gone already
  hub->post(std::move(fn));
}

void TSweepWorker::RequestStop() {
  stopFlag.store(true, std::memory_order_release);
  std::lock_guard lk(m);
  cv.notify_all();
}

bool TSweepWorker::WaitDone(std::chrono::milliseconds wait) {
  std::unique_lock lk(m);
  return cv.wait_for(lk, wait, [&] { return done.load(); });
}

bool TSweepWorker::Abandon() {
  std::lock_guard lk(m);
  if (done.load()) return false;
  if (!abandoned) {
    abandoned = true;
    abandoned::Add(this, steps.Device());
  }
  return true;
}

bool TSweepWorker::WaitForPrevious() {
  for (auto& p : previous) {
    std::unique_lock lk(p->m);
    while (!p->done.load()) {
      if (stopFlag.load(std::memory_order_acquire)) return false;
      p->cv.wait_for(lk, std::chrono::milliseconds(10));
    }
  }
  previous.clear();
  return true;
}

Sweep& TSweepWorker::Building() {
  std::shared_ptr<Sweep>& b = progress->building;
  if (!b) {
    b = NewSweep();
    // Room for the whole sweep at once: the levels are never moved while it grows.
    b->stepStarts.reserve(centres.size());
    b->levels.reserve(centres.size() * static_cast<std::size_t>(b->pointsPerStep));
  }
  return *b;
}

void TSweepWorker::Run() {
  if (!WaitForPrevious()) {
    Finish();
    return;
  }
  TSweepProgress& p = *progress;
  const size_t stepCount = centres.size();
  int failedInARow = 0;
  while (!stopFlag.load(std::memory_order_acquire)) {
    if (stepCount == 0) break;  // nothing in this range can be measured: do not spin
    const size_t j = static_cast<size_t>((p.stepIndex - 1) / 2);
    if (j >= stepCount) {
      p.stepIndex = 1;
      const bool tuned = tunedThisSweep_;
      tunedThisSweep_ = false;
      if (p.building && !p.building->levels.empty()) Publish();
      if (!tuned) {
        // Nothing was read: wait about as long as the sweep would have taken.
        const auto pause = std::clamp(
            std::chrono::milliseconds(static_cast<int64_t>(stepCount) * blockSize * 500LL / std::max(rate, 1)),
            std::chrono::milliseconds(100), TSweepEngine::kHangTime);
        std::unique_lock lk(m);
        cv.wait_for(lk, pause, [&] { return stopFlag.load(); });
      }
      continue;
    }
    if (p.stepIndex == 1) p.started = std::chrono::system_clock::now();
    p.stepIndex += 2;
    std::string failure;
    try {
      Step(centres[j]);
      failedInARow = 0;
      continue;
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "?";
    }
    // The step is skipped; the sweep goes on with the next one, unless the
    // steps keep failing.
    if (++failedInARow >= TSweepEngine::kMostFailedSteps) {
      auto h = hub;
      // Worded on the user-interface thread, in the language chosen there.
      Post([h, failure] { h->LogLine(EngineText(kStepFailedText) + failure); });
      break;
    }
  }
  Finish();
}

void TSweepWorker::NoteUntuned(int64_t centre) {
  const int64_t lo = std::max(start, centre - rate / 2), hi = std::min(stop, centre - rate / 2 + rate);
  auto& runs = progress->untuned;
  if (!runs.empty() && lo <= runs.back().second)
    runs.back().second = std::max(runs.back().second, hi);
  else
    runs.emplace_back(lo, hi);
}

void TSweepWorker::Step(int64_t centre) {
  Sweep& into = Building();
  const StepResult r = steps.Measure(centre, into, callSince);
  if (!r.tuned) {
    NoteUntuned(centre);
    return;
  }
  tunedThisSweep_ = true;
  // Nothing of this sweep will be published; say why, unless the stop was
  // asked for anyway.
  if (r.readFailed && !stopFlag.exchange(true)) {
    auto h = hub;
    Post([h, count = r.count, blockSize = blockSize, result = r.result] {
      const QString details = QCoreApplication::translate("SweepEngine", " (прочитано %1 из %2 байт, результат %3)")
                                  .arg(QString::number(count), QString::number(blockSize), QString::number(result));
      h->LogLine(EngineText(kReadFailedText) + details.toUtf8().toStdString());
    });
  }
}

void TSweepWorker::Publish() {
  TSweepProgress& p = *progress;
  std::shared_ptr<Sweep> sweep = std::move(p.building);
  sweep->start = start;
  sweep->stop = stop;
  sweep->sampleRate = rate;
  sweep->binWidth = binWidth;
  sweep->transformsAveraged = transformsAveraged;
  sweep->started = p.started;
  sweep->finished = std::chrono::system_clock::now();
  bool sayUntuned = false;
  if (!p.untuned.empty()) {
    std::lock_guard lk(hub->m);
    if (hub->untunedLoggedEpoch != epoch) {
      hub->untunedLoggedEpoch = epoch;  // once per scan range, not per sweep
      sayUntuned = true;
    }
  }
  const bool needPost = hub->HandOver(std::move(sweep), epoch);
  try {
    Building();  // the next sweep follows at once
  } catch (...) {
    // Its first step tries again, where a failure is handled.
  }
  if (sayUntuned) {
    std::string ranges;
    for (size_t i = 0; i < p.untuned.size(); ++i)
      ranges += (i ? ", " : "") + MHzText(p.untuned[i].first) + "–" + MHzText(p.untuned[i].second);
    auto h = hub;
    Post([h, ranges] { h->LogLine(EngineText(kUntunedText) + ranges); });
  }
  p.untuned.clear();
  if (needPost) {
    auto h = hub;
    Post([h] { h->Deliver(); });
  }
}

void TSweepWorker::Finish() {
  std::lock_guard lk(m);
  done.store(true, std::memory_order_release);
  if (abandoned) abandoned::Remove(this);
  cv.notify_all();
}

}  // namespace wg
