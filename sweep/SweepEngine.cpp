#include "sweep/SweepEngine.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "receiver/Platform.h"
#include "receiver/api_rtl_sdr.h"
#include "runtime/NumText.h"
#include "sweep/FftLevels.h"

#include <QCoreApplication>

namespace wg {

const char* const kReadFailedText = QT_TRANSLATE_NOOP("SweepEngine", "Ошибка чтения из приёмника, сканирование остановлено");
const char* const kReceiverLostText =
    QT_TRANSLATE_NOOP("SweepEngine", "Приёмник не отвечает: сканирование остановлено, приёмник потерян до перезапуска программы");
const char* const kLibraryMissingText = QT_TRANSLATE_NOOP("SweepEngine", "Библиотека приёмника не найдена: ");
const char* const kLibraryUnloadableText = QT_TRANSLATE_NOOP("SweepEngine", "Библиотека приёмника не может быть загружена: ");
const char* const kReceiverNotOpenText = QT_TRANSLATE_NOOP("SweepEngine", "Приёмник не открыт: сканирование не запущено");
const char* const kUntunedText = QT_TRANSLATE_NOOP("SweepEngine", "Приёмник не настраивается на эти частоты, уровни там не измерены, МГц: ");
const char* const kStepFailedText = QT_TRANSLATE_NOOP("SweepEngine", "Шаг сканирования не удаётся, сканирование остановлено: ");
const char* const kDeliveryFailedText = QT_TRANSLATE_NOOP("SweepEngine", "Ошибка вывода развёртки: ");

namespace {

using SpectrumFn = void (*)(const uint8_t*, size_t, long, double*);

int64_t SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Frequencies of one sweep that the receiver could not tune, as adjoining
// bands merged into runs.
using Runs = std::vector<std::pair<int64_t, int64_t>>;

std::string MHzText(int64_t hz) { return rt::FloatToStr(static_cast<double>(hz) / 1e6); }

}  // namespace

std::vector<int64_t> SweepCentres(int64_t start, int64_t stop, int32_t rate) {
  std::vector<int64_t> centres;
  if (rate <= 0 || stop <= start) return centres;
  for (int64_t k = 1;; k += 2) {
    const long double c = static_cast<long double>(rate) / 2 * k + start;
    if (!(std::fabs(c) < 4e18L)) break;
    const int64_t centre = rt::RoundHalfEven(c);
    if (centre - rate / 2 >= stop) break;
    centres.push_back(centre);
  }
  return centres;
}

// The sweep under way: owned by the worker while one runs, by the engine
// otherwise. A worker that is left to end on its own keeps it; a reset in the
// meantime gives the engine a fresh one.
struct TSweepEngine::Progress {
  int32_t stepIndex = 1;
  std::vector<SpectrumPoint> points;
  Runs untuned;
  std::chrono::system_clock::time_point started;
};

// What a finished sweep was measured over.
struct SweepMeta {
  int64_t start = 0, stop = 0;
  int32_t rate = 0;
  double binWidth = 0;
  std::chrono::system_clock::time_point started, finished;
};

// Where the workers and the user-interface thread meet. Queued calls hold it
// by shared_ptr, so they stay safe after the engine is gone.
struct TSweepEngine::Hub {
  PostToUi post;  // fixed at construction; called by the engine's threads

  // User-interface thread only.
  TSweepSeries* series = nullptr;
  LogSink log;
  uint64_t currentEpoch = 0;
  uint64_t preparedEpoch = UINT64_MAX;  // none prepared yet
  uint64_t failureLoggedEpoch = UINT64_MAX;
  uint64_t sequence = 0;
  int nextListener = 1;
  std::vector<std::pair<int, std::shared_ptr<SweepListener>>> listeners;

  // Shared with the workers, under m: the one-slot hand-over.
  std::mutex m;
  bool hasSlot = false;
  uint64_t slotEpoch = 0;
  SweepMeta slotMeta;
  std::vector<SpectrumPoint> slot;
  std::vector<SpectrumPoint> spare;  // storage handed back for the next sweep
  bool posted = false;               // a Deliver call is queued
  uint64_t untunedLoggedEpoch = UINT64_MAX;

  // Set by the watchdog: a worker hangs in the receiver.
  std::atomic<bool> hung{false};

  void Deliver();
  void WriteSeries(const std::vector<SpectrumPoint>& pts);
  template <class F>
  void Guarded(F&& f);
  void LogLine(const std::string& text) {
    if (log) log(text);
  }
};

// One sweep worker: the values it sweeps with, fixed at its start, and its
// own stop flag, so that a worker left behind never reads the engine again.
struct TSweepEngine::Worker {
  int64_t start = 0, stop = 0;
  int32_t rate = 0;
  double binWidth = 0;
  int32_t blockSize = kBlockSize;
  uint64_t epoch = 0;
  std::vector<int64_t> centres;
  SpectrumFn spectrum = &SpectrumOfBlock;
  rtlsdr_dev_t* dev = nullptr;
  api_rtl_sdr::rtlsdr_set_center_freq_fn setCentre = nullptr;
  api_rtl_sdr::rtlsdr_set_sample_rate_fn setRate = nullptr;
  api_rtl_sdr::rtlsdr_reset_buffer_fn resetBuffer = nullptr;
  api_rtl_sdr::rtlsdr_read_sync_fn readSync = nullptr;

  std::shared_ptr<Progress> progress;
  std::shared_ptr<Hub> hub;
  // Earlier workers of the engine that had not returned at this one's
  // start: the receiver is touched only after all of them returned.
  std::vector<std::shared_ptr<Worker>> previous;

  std::atomic<bool> stopFlag{false};
  std::mutex m;  // guards abandoned, every call of post, and the waits below
  std::condition_variable cv;
  std::atomic<bool> done{false};
  bool abandoned = false;  // posts nothing more; listed with the abandoned
  // When the receiver call under way began (steady clock, ns); 0 outside.
  std::atomic<int64_t> callSince{0};

  bool tunedThisSweep = false;

  void Run();
  bool WaitForPrevious();
  void Step(int64_t centre, std::vector<uint8_t>& block, double* levels);
  void AppendUntuned(int64_t centre);
  void Publish();
  void Post(std::function<void()> fn);
  void RequestStop();
  bool WaitDone(std::chrono::milliseconds wait);
  bool Abandon();
  void Finish();
};

// Notices a receiver call that does not return and says so once.
struct TSweepEngine::Watchdog {
  std::shared_ptr<Hub> hub;
  std::mutex m;
  std::condition_variable cv;
  bool quit = false;
  std::vector<std::weak_ptr<Worker>> watched;
  std::thread thread;

  void Run();
};

std::string EngineText(const char* text) {
  return QCoreApplication::translate("SweepEngine", text).toUtf8().toStdString();
}

std::string ReceiverLibraryFile() {
  if (!api_rtl_sdr::LibraryPath().empty()) return api_rtl_sdr::LibraryPath();
  std::string dir = wg::platform::ExecutablePath();
  const auto slash = dir.rfind('/');
  dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
  return dir + api_rtl_sdr::kPluginsFolder + "/" + api_rtl_sdr::kLibraryFile;
}

std::string ReceiverLibraryAbsentLine() {
  if (api_rtl_sdr::Failure() == api_rtl_sdr::LoadFailure::Unloadable)
    return EngineText(kLibraryUnloadableText) + ReceiverLibraryFile() + " (" + api_rtl_sdr::FailureReason() + ")";
  return EngineText(kLibraryMissingText) + ReceiverLibraryFile();
}

namespace {

// Workers hung or abandoned in a read, program-wide, with the receiver each
// holds. Never destroyed: a hung worker may outlive static destruction.
struct AbandonedRegistry {
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::pair<const void*, rtlsdr_dev_t*>> workers;
};
AbandonedRegistry& Abandoned() {
  static auto* r = new AbandonedRegistry;
  return *r;
}

bool DeviceHeldByAbandoned(rtlsdr_dev_t* dev) {
  auto& r = Abandoned();
  std::lock_guard lk(r.m);
  return std::any_of(r.workers.begin(), r.workers.end(),
                     [dev](const auto& w) { return w.second == dev; });
}

}  // namespace

// ---------------------------------------------------------------------------
// User-interface side of the hand-over.

template <class F>
void TSweepEngine::Hub::Guarded(F&& f) {
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

void TSweepEngine::Hub::WriteSeries(const std::vector<SpectrumPoint>& pts) {
  const int n = series->PointCount();
  if (n <= 0) return;
  const size_t count = static_cast<size_t>(n);
  const size_t have = pts.size();
  bool direct = have >= count;
  for (size_t i = 0; direct && i < count; ++i) direct = pts[i].X >= kLowestPublishedX;
  if (direct) {
    series->ReplaceXY(n, &pts[0].X, &pts[0].Y, 2);
    return;
  }
  // Points past the list's end, or never measured, take the list's last
  // point; rare enough (a skipped step) to build them apart.
  std::vector<SpectrumPoint> filled(count);
  const SpectrumPoint& last = pts.back();
  for (size_t i = 0; i < count; ++i)
    filled[i] = (i < have && pts[i].X >= kLowestPublishedX) ? pts[i] : last;
  series->ReplaceXY(n, &filled[0].X, &filled[0].Y, 2);
}

void TSweepEngine::Hub::Deliver() {
  std::vector<SpectrumPoint> pts;
  uint64_t epoch = 0;
  SweepMeta meta;
  {
    std::lock_guard lk(m);
    posted = false;
    if (!hasSlot) return;
    pts = std::move(slot);
    slot = std::vector<SpectrumPoint>();
    hasSlot = false;
    epoch = slotEpoch;
    meta = slotMeta;
  }
  // A sweep of an older range reaches neither the series nor the listeners,
  // and its storage (sized for that range) is let go.
  if (epoch != currentEpoch || pts.empty()) return;
  if (series && epoch == preparedEpoch) Guarded([&] { WriteSeries(pts); });
  const SweepView view{pts.data(), pts.size(), meta.start,    meta.stop,
                       meta.rate,  meta.binWidth, ++sequence, meta.started,
                       meta.finished};
  if (!listeners.empty()) {
    const auto now = listeners;  // a listener may add or remove listeners
    for (const auto& [id, fn] : now) {
      const bool still = std::any_of(listeners.begin(), listeners.end(),
                                     [id = id](const auto& l) { return l.first == id; });
      if (still) Guarded([&] { (*fn)(view); });
    }
  }
  pts.clear();
  std::lock_guard lk(m);
  if (spare.capacity() < pts.capacity()) spare = std::move(pts);
}

// ---------------------------------------------------------------------------
// The worker.

void TSweepEngine::Worker::Post(std::function<void()> fn) {
  std::lock_guard lk(m);
  if (abandoned || !hub->post) return;  // the window may be gone already
  hub->post(std::move(fn));
}

void TSweepEngine::Worker::RequestStop() {
  stopFlag.store(true, std::memory_order_release);
  std::lock_guard lk(m);
  cv.notify_all();
}

bool TSweepEngine::Worker::WaitDone(std::chrono::milliseconds wait) {
  std::unique_lock lk(m);
  return cv.wait_for(lk, wait, [&] { return done.load(); });
}

bool TSweepEngine::Worker::Abandon() {
  std::lock_guard lk(m);
  if (done.load()) return false;
  if (!abandoned) {
    abandoned = true;
    auto& r = Abandoned();
    std::lock_guard rl(r.m);
    r.workers.emplace_back(this, dev);
  }
  return true;
}

bool TSweepEngine::Worker::WaitForPrevious() {
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

void TSweepEngine::Worker::Run() {
  if (!WaitForPrevious()) {
    Finish();
    return;
  }
  Progress& p = *progress;
  std::vector<uint8_t> block(static_cast<size_t>(blockSize));
  std::vector<double> levels(kFftSize);
  const size_t steps = centres.size();
  int failedInARow = 0;
  while (!stopFlag.load(std::memory_order_acquire)) {
    if (steps == 0) break;  // nothing in this range can be measured: do not spin
    const size_t j = static_cast<size_t>((p.stepIndex - 1) / 2);
    if (j >= steps) {
      p.stepIndex = 1;
      const bool tuned = tunedThisSweep;
      tunedThisSweep = false;
      if (!p.points.empty()) Publish();
      if (!tuned) {
        // Nothing was read: wait about as long as the sweep would have taken.
        const auto pause = std::clamp(
            std::chrono::milliseconds(static_cast<int64_t>(steps) * blockSize * 500LL / std::max(rate, 1)),
            std::chrono::milliseconds(100), kHangTime);
        std::unique_lock lk(m);
        cv.wait_for(lk, pause, [&] { return stopFlag.load(); });
      }
      continue;
    }
    if (p.stepIndex == 1) p.started = std::chrono::system_clock::now();
    p.stepIndex += 2;
    std::string failure;
    try {
      Step(centres[j], block, levels.data());
      failedInARow = 0;
      continue;
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "?";
    }
    // The step is skipped; the sweep goes on with the next one, unless the
    // steps keep failing.
    if (++failedInARow >= kMostFailedSteps) {
      auto h = hub;
      // Worded on the user-interface thread, in the language chosen there.
      Post([h, failure] { h->LogLine(EngineText(kStepFailedText) + failure); });
      break;
    }
  }
  Finish();
}

void TSweepEngine::Worker::AppendUntuned(int64_t centre) {
  auto& pts = progress->points;
  const double base = static_cast<double>(centre - rate / 2);
  const double gap = std::numeric_limits<double>::quiet_NaN();
  for (int g = 0; g < kPointsPerStep; ++g) pts.push_back({g * binWidth + base, gap});
  const int64_t lo = std::max(start, centre - rate / 2), hi = std::min(stop, centre - rate / 2 + rate);
  auto& runs = progress->untuned;
  if (!runs.empty() && lo <= runs.back().second)
    runs.back().second = std::max(runs.back().second, hi);
  else
    runs.emplace_back(lo, hi);
}

void TSweepEngine::Worker::Step(int64_t centre, std::vector<uint8_t>& block, double* levels) {
  if (centre < 0 || centre > static_cast<int64_t>(UINT32_MAX)) {
    AppendUntuned(centre);
    return;
  }
  struct InCall {
    std::atomic<int64_t>& since;
    explicit InCall(std::atomic<int64_t>& s) : since(s) { since.store(SteadyNanos()); }
    ~InCall() { since.store(0); }
  };
  int count = 0, result = 0;
  {
    InCall watched(callSince);
    // A frequency the tuner cannot reach is not measured: whatever the
    // receiver delivered would belong to its previous tuning.
    if (setCentre(dev, static_cast<uint32_t>(centre)) < 0) {
      AppendUntuned(centre);
      return;
    }
    tunedThisSweep = true;
    setRate(dev, static_cast<uint32_t>(rate));
    resetBuffer(dev);
    result = readSync(dev, block.data(), blockSize, &count);
  }
  if (count < blockSize || result < 0) {
    // Nothing of this sweep will be published; say why, unless the stop was
    // asked for anyway.
    if (!stopFlag.exchange(true)) {
      auto h = hub;
      Post([h, count, blockSize = blockSize, result] {
        const QString details = QCoreApplication::translate("SweepEngine", " (прочитано %1 из %2 байт, результат %3)")
                                    .arg(QString::number(count), QString::number(blockSize), QString::number(result));
        h->LogLine(EngineText(kReadFailedText) + details.toUtf8().toStdString());
      });
    }
  }
  count = std::clamp(count, 0, blockSize);
  spectrum(block.data(), block.size(), count, levels);
  const double base = static_cast<double>(centre - rate / 2);
  auto& pts = progress->points;
  for (int g = 0; g < kPointsPerStep; ++g) pts.push_back({g * binWidth + base, levels[g]});
}

void TSweepEngine::Worker::Publish() {
  Progress& p = *progress;
  auto& list = p.points;
  std::vector<SpectrumPoint> next;
  bool needPost = false, sayUntuned = false;
  {
    std::lock_guard lk(hub->m);
    next = std::move(hub->spare);
    hub->spare = std::vector<SpectrumPoint>();
    if (hub->hasSlot && next.capacity() == 0) next = std::move(hub->slot);  // never taken
    hub->slot = std::move(list);
    hub->slotEpoch = epoch;
    hub->slotMeta = {start, stop, rate, binWidth, p.started, std::chrono::system_clock::now()};
    hub->hasSlot = true;
    needPost = !hub->posted;
    hub->posted = true;
    if (!p.untuned.empty() && hub->untunedLoggedEpoch != epoch) {
      hub->untunedLoggedEpoch = epoch;  // once per scan range, not per sweep
      sayUntuned = true;
    }
  }
  list = std::move(next);
  list.clear();
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

void TSweepEngine::Worker::Finish() {
  std::lock_guard lk(m);
  done.store(true, std::memory_order_release);
  if (abandoned) {
    auto& r = Abandoned();
    std::lock_guard rl(r.m);
    std::erase_if(r.workers, [this](const auto& w) { return w.first == this; });
    r.cv.notify_all();
  }
  cv.notify_all();
}

// ---------------------------------------------------------------------------
// The watchdog.

void TSweepEngine::Watchdog::Run() {
  std::unique_lock lk(m);
  while (!quit) {
    cv.wait_for(lk, std::chrono::milliseconds(100));
    const int64_t now = SteadyNanos();
    const int64_t limit = std::chrono::nanoseconds(kHangTime).count();
    std::erase_if(watched, [&](const std::weak_ptr<Worker>& weak) {
      const auto w = weak.lock();
      if (!w || w->done.load()) return true;
      const int64_t since = w->callSince.load();
      if (since == 0 || now - since < limit) return false;
      // Left in the library: it posts nothing more, and if the call ever
      // returns the worker ends there.
      w->stopFlag.store(true);
      if (!w->Abandon()) return true;  // returned just now
      if (!hub->hung.exchange(true) && hub->post) {
        auto h = hub;
        hub->post([h] { h->LogLine(EngineText(kReceiverLostText)); });
      }
      return true;
    });
  }
}

// ---------------------------------------------------------------------------
// The engine.

TSweepEngine::TSweepEngine(TSweepSeries* series, PostToUi post, LogSink log)
    : progress_(std::make_shared<Progress>()), hub_(std::make_shared<Hub>()) {
  hub_->post = std::move(post);
  hub_->series = series;
  hub_->log = std::move(log);
}

TSweepEngine::~TSweepEngine() { StopForDestroy(); }

int64_t TSweepEngine::BoundedStop(int64_t start, int64_t stop) const {
  if (sampleRate_ <= 0) return stop;
  const auto widest = static_cast<int64_t>(static_cast<long double>(kMostSeriesPoints) * sampleRate_ / kPointsPerStep);
  return std::min(stop, start + widest);
}

void TSweepEngine::ScanValuesChanged() {
  hub_->currentEpoch = ++rangeEpoch_;
  // Storage sized for the old range is not kept for the new one.
  std::lock_guard lk(hub_->m);
  // (Assigning {} would keep the capacity.)
  hub_->spare = std::vector<SpectrumPoint>();
  if (hub_->hasSlot) {
    hub_->slot = std::vector<SpectrumPoint>();
    hub_->hasSlot = false;
  }
}

void TSweepEngine::SetScanRange(int64_t start, int64_t stop) {
  start = std::clamp(start, kLowestFrequency, kHighestFrequency);
  stop = BoundedStop(start, std::clamp(stop, kLowestFrequency, kHighestFrequency));
  if (start == start_ && stop == stop_) return;
  start_ = start;
  stop_ = stop;
  ScanValuesChanged();
}

void TSweepEngine::SetSampleRate(int32_t rate) {
  if (rate == sampleRate_) return;
  sampleRate_ = rate;
  stop_ = BoundedStop(start_, stop_);
  ScanValuesChanged();
}

void TSweepEngine::SetBinWidth(double width) {
  if (width == binWidth_) return;
  binWidth_ = width;
  ScanValuesChanged();
}

int TSweepEngine::SeriesPointCount() const {
  if (sampleRate_ <= 0 || stop_ <= start_) return 0;
  const long double n = static_cast<long double>(stop_ - start_) / sampleRate_ * kPointsPerStep;
  return static_cast<int>(std::min<long long>(rt::RoundHalfEven(n), kMostSeriesPoints));
}

bool TSweepEngine::Reset() {
  JoinFinished();
  if (worker_) return false;
  // A stopped worker still finishing its step keeps the old sweep.
  if (progress_.use_count() > 1)
    progress_ = std::make_shared<Progress>();
  else
    *progress_ = Progress{};  // storage of a wider range is let go
  return true;
}

void TSweepEngine::PrepareSeries() {
  TSweepSeries* s = hub_->series;
  if (!s) return;
  s->ResetPoints(SeriesPointCount());
  hub_->preparedEpoch = rangeEpoch_;
}

bool TSweepEngine::Start() {
  JoinFinished();
  if (worker_) return false;  // never two workers on the receiver
  if (hub_->hung.load() || DeviceHeldByAbandoned(api_rtl_sdr::dev)) return false;
  if (!api_rtl_sdr::rtlsdr_set_center_freq || !api_rtl_sdr::rtlsdr_set_sample_rate ||
      !api_rtl_sdr::rtlsdr_reset_buffer || !api_rtl_sdr::rtlsdr_read_sync) {
    Log(ReceiverLibraryAbsentLine());
    return false;
  }
  if (!api_rtl_sdr::dev) {
    Log(EngineText(kReceiverNotOpenText));
    return false;
  }
  if (sampleRate_ <= 0) return false;  // the centre would never move on

  auto w = std::make_shared<Worker>();
  w->start = start_;
  w->stop = stop_;
  w->rate = sampleRate_;
  w->binWidth = binWidth_;
  w->blockSize = kBlockSize;
  w->epoch = rangeEpoch_;
  w->centres = SweepCentres(start_, stop_, sampleRate_);
  w->spectrum = traceMode_ == TraceMode::Average ? &AveragedSpectrumOfBlock : &SpectrumOfBlock;
  w->dev = api_rtl_sdr::dev;
  w->setCentre = api_rtl_sdr::rtlsdr_set_center_freq;
  w->setRate = api_rtl_sdr::rtlsdr_set_sample_rate;
  w->resetBuffer = api_rtl_sdr::rtlsdr_reset_buffer;
  w->readSync = api_rtl_sdr::rtlsdr_read_sync;
  w->progress = progress_;
  w->hub = hub_;
  for (const auto& r : retiring_) w->previous.push_back(r.first);
  if (!watchdog_) {
    auto wd = std::make_unique<Watchdog>();
    wd->hub = hub_;
    try {
      wd->thread = std::thread([p = wd.get()] { p->Run(); });
    } catch (const std::system_error&) {
      return false;
    }
    watchdog_ = std::move(wd);
  }
  try {
    thread_ = std::thread([w] { w->Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  {
    std::lock_guard lk(watchdog_->m);
    watchdog_->watched.push_back(w);
  }
  worker_ = std::move(w);
  return true;
}

void TSweepEngine::Stop() { EndWorker(stopWait_); }

void TSweepEngine::StopForDestroy() {
  const auto deadline = std::chrono::steady_clock::now() + stopWait_;
  const auto left = [&] {
    if (hub_->hung.load()) return std::chrono::milliseconds(0);
    return std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                      deadline - std::chrono::steady_clock::now()));
  };
  EndWorker(left());
  for (auto& [w, t] : retiring_) w->RequestStop();
  for (auto& [w, t] : retiring_) {
    if (w->WaitDone(left()) || !w->Abandon()) {
      t.join();
    } else {
      // Stuck in the library: leave it there. It keeps its own state alive
      // and posts nothing more; the receiver it holds is not used again.
      t.detach();
    }
  }
  retiring_.clear();
  if (watchdog_) {
    {
      std::lock_guard lk(watchdog_->m);
      watchdog_->quit = true;
      watchdog_->cv.notify_all();
    }
    watchdog_->thread.join();
    watchdog_.reset();
  }
  hub_->series = nullptr;
  hub_->log = nullptr;
  hub_->listeners.clear();
}

void TSweepEngine::EndWorker(std::chrono::milliseconds wait) {
  if (!worker_) return;
  std::shared_ptr<Worker> w = std::move(worker_);
  w->RequestStop();
  if (!hub_->hung.load() && w->WaitDone(wait)) {
    thread_.join();
    return;
  }
  retiring_.emplace_back(std::move(w), std::move(thread_));
}

void TSweepEngine::JoinFinished() {
  if (worker_ && worker_->done.load(std::memory_order_acquire)) {
    thread_.join();
    worker_.reset();
  }
  std::erase_if(retiring_, [](auto& r) {
    if (!r.first->done.load(std::memory_order_acquire)) return false;
    r.second.join();
    return true;
  });
}

int TSweepEngine::AddSweepListener(SweepListener fn) {
  const int id = hub_->nextListener++;
  hub_->listeners.emplace_back(id, std::make_shared<SweepListener>(std::move(fn)));
  return id;
}

void TSweepEngine::RemoveSweepListener(int id) {
  std::erase_if(hub_->listeners, [id](const auto& l) { return l.first == id; });
}

bool TSweepEngine::Running() const {
  return worker_ && !worker_->done.load(std::memory_order_acquire) && !hub_->hung.load();
}

bool TSweepEngine::Idle() const {
  const auto ended = [](const std::shared_ptr<Worker>& w) { return w->done.load(std::memory_order_acquire); };
  return (!worker_ || ended(worker_)) &&
         std::all_of(retiring_.begin(), retiring_.end(), [&](const auto& r) { return ended(r.first); });
}

bool TSweepEngine::WaitIdle(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  const auto waitFor = [&](const std::shared_ptr<Worker>& w) {
    if (hub_->hung.load()) return;
    w->WaitDone(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
  };
  if (worker_) waitFor(worker_);
  for (const auto& r : retiring_) waitFor(r.first);
  JoinFinished();
  return Idle();
}

bool TSweepEngine::WaitAbandonedWorkers(std::chrono::milliseconds wait) {
  auto& r = Abandoned();
  std::unique_lock lk(r.m);
  return r.cv.wait_for(lk, wait, [&] { return r.workers.empty(); });
}

bool TSweepEngine::WorkerAbandoned() const { return hub_->hung.load(); }

int TSweepEngine::AbandonedWorkersAlive() {
  auto& r = Abandoned();
  std::lock_guard lk(r.m);
  return static_cast<int>(r.workers.size());
}

int32_t TSweepEngine::StepIndex() const { return progress_->stepIndex; }

const std::vector<SpectrumPoint>& TSweepEngine::PointList() const { return progress_->points; }

size_t TSweepEngine::HeldPointCapacity() const {
  std::lock_guard lk(hub_->m);
  return progress_->points.capacity() + hub_->slot.capacity() + hub_->spare.capacity();
}

void TSweepEngine::Log(const std::string& text) { hub_->LogLine(text); }

}  // namespace wg
