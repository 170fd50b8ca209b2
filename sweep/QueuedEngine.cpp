#include "sweep/QueuedEngine.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace wg {

std::unique_ptr<TSweepEngine> MakeQueuedEngine(QObject& home, TSweepSeries* series, LogSink log) {
  return std::make_unique<TSweepEngine>(
      series,
      // The worker never waits for a publication.
      [&home](std::function<void()> job) { QMetaObject::invokeMethod(&home, std::move(job), Qt::QueuedConnection); },
      // The worker may report from its own thread; the log belongs to home's.
      [&home, log = std::move(log)](const std::string& text) {
        QMetaObject::invokeMethod(&home, [log, text] { log(text); }, Qt::AutoConnection);
      });
}

}  // namespace wg
