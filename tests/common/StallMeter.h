// How long the user-interface thread went without turning its event loop.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

#include "tests/common/RunQueueWait.h"

namespace wgtest {

// The longest time the user-interface thread went without turning its event
// loop, seen by a timer that wants to run every few milliseconds. Time the
// thread only waited for a CPU that other programs held is not counted: the
// tests share the machine, the user's window does not wait for them.
class StallMeter : public QObject {
 public:
  StallMeter() {
    clock_.start();
    lastWait_ = RunQueueWaitNs();
    timer_.setInterval(3);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    timer_.start();
  }
  void Tick() {
    const qint64 now = clock_.elapsed();
    const int64_t wait = RunQueueWaitNs();
    longest_ = std::max(longest_, now - last_ - (wait - lastWait_) / 1000000);
    last_ = now;
    lastWait_ = wait;
  }
  // The longest stall since the last call.
  qint64 TakeLongest() {
    Tick();
    const qint64 l = longest_;
    longest_ = 0;
    return l;
  }

 private:
  QElapsedTimer clock_;
  QTimer timer_;
  qint64 last_ = 0;
  int64_t lastWait_ = 0;
  qint64 longest_ = 0;
};

}  // namespace wgtest
