#include "sweep/SweepHub.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

#include <QCoreApplication>

namespace wg {

template <class F>
void TSweepHub::Guarded(F&& f) {
  std::string what;
  try {
    f();
    return;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    what = "?";
  }
  // The next sweep tries again; one line per scan range is enough to say
  // that the trace no longer follows.
  if (failureLoggedEpoch == currentEpoch) return;
  failureLoggedEpoch = currentEpoch;
  LogLine(EngineText(kDeliveryFailedText) + what);
}

namespace {

bool SameLayout(const Sweep& a, const Sweep& b) {
  return a.PointCount() == b.PointCount() && a.start == b.start && a.stop == b.stop && a.binWidth == b.binWidth;
}

// The sweep's maxima from `held` on (none: its own levels). An untuned
// level (NaN) holds nothing; a held NaN takes any level.
void FoldMaxima(Sweep& s, const std::vector<float>* held) {
  const std::size_t n = s.PointCount();
  s.maxima.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float y = s.levels[i];
    const float h = held ? (*held)[i] : std::numeric_limits<float>::quiet_NaN();
    s.maxima[i] = !std::isnan(y) && !(h >= y) ? y : h;
  }
}

}  // namespace

bool TSweepHub::HandOver(std::shared_ptr<Sweep> sweep, uint64_t epoch) {
  std::shared_ptr<Sweep> untaken;  // let go of outside the lock
  for (;;) {
    bool hold;
    uint64_t generation;
    SweepPtr base, last;
    {
      std::lock_guard lk(m);
      hold = holding;
      generation = holdGeneration;
      base = holdBase;
      last = holdLast;
    }
    // The fold takes time per point: outside the lock, and done again in
    // the rare case that the hold restarted meanwhile.
    if (hold) {
      const std::vector<float>* held = last && SameLayout(*last, *sweep)   ? &last->maxima
                                       : base && SameLayout(*base, *sweep) ? &base->levels
                                                                           : nullptr;
      FoldMaxima(*sweep, held);
      sweep->holdGeneration = generation;
      sweep->maximaBlocks = SummariseBlocks(sweep->maxima, sweep->pointsPerStep);
    }
    if (sweep->levelBlocks.empty()) sweep->levelBlocks = SummariseBlocks(sweep->levels, sweep->pointsPerStep);
    std::lock_guard lk(m);
    if (hold != holding || generation != holdGeneration || base != holdBase || last != holdLast) continue;
    if (hold) {
      holdLast = sweep;
      holdBase.reset();
    }
    untaken = std::move(slot);
    slot = std::move(sweep);
    slotEpoch = epoch;
    const bool needPost = !posted;
    posted = true;
    return needPost;
  }
}

void TSweepHub::RestartHold(bool on) {
  SweepPtr oldBase, oldLast;  // let go of outside the lock
  std::lock_guard lk(m);
  oldBase = std::move(holdBase);
  oldLast = std::move(holdLast);
  holding = on;
  ++holdGeneration;
  // A sweep on its way is the first the new hold shows: its levels begin it.
  if (on) holdBase = slot;
}

void TSweepHub::DropSlot() {
  std::shared_ptr<Sweep> old;
  SweepPtr oldBase, oldLast;
  std::lock_guard lk(m);
  old = std::move(slot);
  oldBase = std::move(holdBase);
  oldLast = std::move(holdLast);
}

void TSweepHub::Deliver() {
  std::shared_ptr<Sweep> taken;
  uint64_t epoch = 0;
  {
    std::lock_guard lk(m);
    posted = false;
    taken = std::move(slot);
    epoch = slotEpoch;
  }
  // A sweep of an older range reaches neither the series nor the listeners.
  if (!taken || epoch != currentEpoch || taken->levels.empty()) return;
  taken->sequence = ++sequence;
  const SweepPtr sweep = std::move(taken);  // never changes from here on
  if (series && epoch == preparedEpoch) Guarded([&] { series->ShowSweep(sweep); });
  if (listeners.empty()) return;
  const auto now = listeners;  // a listener may add or remove listeners
  for (const auto& [id, fn] : now) {
    const bool still = std::any_of(listeners.begin(), listeners.end(),
                                   [id = id](const auto& l) { return l.first == id; });
    if (still) Guarded([&] { (*fn)(sweep); });
  }
}

void TSweepHub::ReceiverNote(const PoolNote& n) {
  switch (n.kind) {
    case PoolNote::Kind::ReadFailed: {
      if (n.othersSweeping > 0) {
        LogLine(ReceiverAwayLine(n));  // the others go on
        break;
      }
      const QString details = QCoreApplication::translate("SweepEngine", " (прочитано %1 из %2 байт, результат %3)")
                                  .arg(QString::number(n.count), QString::number(n.length), QString::number(n.result));
      LogLine(EngineText(kReadFailedText) + details.toUtf8().toStdString());
      break;
    }
    case PoolNote::Kind::Hung:
      if (n.othersSweeping > 0) LogLine(ReceiverAwayLine(n));  // the others go on
      break;
    case PoolNote::Kind::Gone:
    case PoolNote::Kind::Back:
      // It is looked for and comes back by itself: the sweep is not over.
      LogLine(ReceiverAwayLine(n));
      break;
    default:
      break;
  }
  const auto now = noteListeners;  // a listener may add or remove listeners
  for (const auto& [id, fn] : now) {
    const bool still = std::any_of(noteListeners.begin(), noteListeners.end(),
                                   [id = id](const auto& l) { return l.first == id; });
    if (still) (*fn)(n);
  }
}

}  // namespace wg
