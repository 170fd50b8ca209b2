// The sweep engine as a Qt program runs it: finished sweeps and log lines
// reach the thread of `home` (the window, or the survey's application)
// through its event loop. The window and the survey make their engine here.
#pragma once

#include "sweep/SweepEngine.h"

#include <memory>

class QObject;

namespace wg {

// `home` must outlive the engine; calls still queued when it is gone are
// dropped with it.
std::unique_ptr<TSweepEngine> MakeQueuedEngine(QObject& home, TSweepSeries* series, LogSink log);

}  // namespace wg
