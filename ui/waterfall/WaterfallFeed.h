// The finished sweeps on their way into the waterfall: each is reduced to
// the waterfall's columns on a thread of its own, so that the window's
// thread only hands the sweep over and adds the row. A sweep that arrives
// while the thread is busy waits in a one-sweep queue, where a newer one
// replaces it.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

#include "sweep/Sweep.h"
#include "ui/waterfall/WaterfallHistory.h"

class QObject;

namespace wg {

class TWaterfallFeed {
 public:
  // Called on `context`'s thread with each row, in the order of the sweeps.
  using RowFn = std::function<void(TWaterfallHistory::Reduced row)>;
  TWaterfallFeed(QObject* context, RowFn onRow);
  // Waits for the row under way; no row is handed on afterwards.
  ~TWaterfallFeed();
  TWaterfallFeed(const TWaterfallFeed&) = delete;
  TWaterfallFeed& operator=(const TWaterfallFeed&) = delete;

  // The first `count` points of the sweep, to be reduced.
  void Add(SweepPtr sweep, std::size_t count);
  // Rows of the sweeps added so far are not handed on.
  void Drop();

 private:
  struct State;
  void Run();

  QObject* context_;
  std::shared_ptr<State> state_;
  std::thread thread_;  // started with the first sweep
};

}  // namespace wg
