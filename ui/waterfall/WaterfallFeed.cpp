#include "ui/waterfall/WaterfallFeed.h"

#include <QMetaObject>
#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace wg {

struct TWaterfallFeed::State {
  RowFn onRow;  // the context's thread only
  std::mutex m;
  std::condition_variable cv;
  SweepPtr pending;
  std::size_t count = 0;
  uint64_t generation = 0;  // counts the drops
  bool quit = false;
};

TWaterfallFeed::TWaterfallFeed(QObject* context, RowFn onRow)
    : context_(context), state_(std::make_shared<State>()) {
  state_->onRow = std::move(onRow);
}

TWaterfallFeed::~TWaterfallFeed() {
  {
    std::lock_guard lk(state_->m);
    state_->quit = true;
    ++state_->generation;
    state_->pending.reset();
  }
  state_->cv.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TWaterfallFeed::Add(SweepPtr sweep, std::size_t count) {
  SweepPtr replaced;  // let go of outside the lock
  {
    std::lock_guard lk(state_->m);
    replaced = std::move(state_->pending);
    state_->pending = std::move(sweep);
    state_->count = count;
  }
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (...) {
      Drop();  // no thread to be had: no rows, and the window goes on
      return;
    }
  }
  state_->cv.notify_all();
}

void TWaterfallFeed::Drop() {
  SweepPtr dropped;
  std::lock_guard lk(state_->m);
  ++state_->generation;
  dropped = std::move(state_->pending);
}

void TWaterfallFeed::Run() {
  const std::shared_ptr<State> state = state_;
  std::shared_ptr<const TWaterfallHistory::Layout> layout;  // of the last row
  for (;;) {
    SweepPtr sweep;
    std::size_t count = 0;
    uint64_t generation = 0;
    {
      std::unique_lock lk(state->m);
      state->cv.wait(lk, [&] { return state->quit || state->pending; });
      if (state->quit) return;
      sweep = std::move(state->pending);
      count = state->count;
      generation = state->generation;
    }
    auto row = std::make_shared<TWaterfallHistory::Reduced>(TWaterfallHistory::Reduce(*sweep, count, layout));
    layout = row->layout;
    sweep.reset();
    QMetaObject::invokeMethod(
        context_,
        [state, generation, row] {
          {
            std::lock_guard lk(state->m);
            if (generation != state->generation) return;  // dropped since
          }
          state->onRow(std::move(*row));
        },
        Qt::QueuedConnection);
  }
}

}  // namespace wg
