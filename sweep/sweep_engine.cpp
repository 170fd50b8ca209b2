#include "sweep_engine.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "api_rtl_sdr.h"
#include "numtext.h"
#include "platform_dl.h"
#include "fft_levels.h"

namespace wg {

const char* const kReadFailedText = "Ошибка чтения из приёмника, сканирование остановлено";
const char* const kReceiverLostText =
    "Приёмник не отвечает: сканирование остановлено, приёмник потерян до перезапуска программы";
const char* const kLibraryMissingText = "Библиотека приёмника не найдена: ";
const char* const kReceiverNotOpenText = "Приёмник не открыт: сканирование не запущено";

// The sweep under way: owned by the worker while one runs, by the engine
// otherwise. A worker that is abandoned keeps its own and the engine starts
// afresh.
struct TSweepEngine::Progress {
  int32_t stepIndex = 1;
  std::vector<SpectrumPoint> points;
};

// Where the worker and the user-interface thread meet. Queued calls hold it
// by shared_ptr, so they stay safe after the engine is gone.
struct TSweepEngine::Hub {
  PostToUi post;  // fixed at construction; called by the worker

  // User-interface thread only.
  TSweepSeries* series = nullptr;
  LogSink log;
  uint64_t preparedEpoch = UINT64_MAX;  // none prepared yet

  // Shared with the worker, under m: the one-slot hand-over.
  std::mutex m;
  bool hasSlot = false;
  uint64_t slotEpoch = 0;
  std::vector<SpectrumPoint> slot;
  std::vector<SpectrumPoint> spare;  // storage handed back for the next sweep
  bool posted = false;               // a Deliver call is queued

  void Deliver();
  void LogLine(const std::string& text) {
    if (log) log(text);
  }
};

// One sweep worker: the values it sweeps with, fixed at its start, and its
// own stop flag, so that an abandoned worker never reads the engine again.
struct TSweepEngine::Worker {
  int64_t start = 0, stop = 0;
  int32_t rate = 0;
  double binWidth = 0;
  int32_t blockSize = kBlockSize;
  uint64_t epoch = 0;
  rtlsdr_dev_t* dev = nullptr;
  api_rtl_sdr::rtlsdr_set_center_freq_fn setCentre = nullptr;
  api_rtl_sdr::rtlsdr_set_sample_rate_fn setRate = nullptr;
  api_rtl_sdr::rtlsdr_reset_buffer_fn resetBuffer = nullptr;
  api_rtl_sdr::rtlsdr_read_sync_fn readSync = nullptr;

  std::shared_ptr<Progress> progress;
  std::shared_ptr<Hub> hub;

  std::atomic<bool> stopFlag{false};
  std::mutex m;  // guards done/abandoned and every call of post
  std::condition_variable cv;
  std::atomic<bool> done{false};
  bool abandoned = false;

  bool touchedReceiver = false;  // in the sweep under way

  void Run();
  void Step(int64_t centre, std::vector<uint8_t>& block, double* levels);
  void Publish();
  void Post(std::function<void()> fn);
  void Finish();
};

std::string ReceiverLibraryFile() {
  if (!api_rtl_sdr::LibraryPath().empty()) return api_rtl_sdr::LibraryPath();
  std::string dir = wg::platform::ExecutablePath();
  const auto slash = dir.rfind('/');
  dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
  return dir + api_rtl_sdr::kPluginsFolder + "/" + api_rtl_sdr::kLibraryFile;
}

namespace {

// Workers abandoned in a read, program-wide, with the receiver each holds.
// Never destroyed: a hung worker may outlive static destruction.
struct AbandonedRegistry {
  std::mutex m;
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

void TSweepEngine::Hub::Deliver() {
  std::vector<SpectrumPoint> pts;
  uint64_t epoch = 0;
  {
    std::lock_guard lk(m);
    posted = false;
    if (!hasSlot) return;
    pts = std::move(slot);
    slot = {};
    hasSlot = false;
    epoch = slotEpoch;
  }
  // A sweep of an older range must not land in a series laid out for a newer
  // one; an empty list has no point to copy from.
  if (series && epoch == preparedEpoch && !pts.empty()) {
    try {
      const int n = series->PointCount();
      const size_t have = pts.size();
      const SpectrumPoint& last = pts.back();
      for (int i = 0; i < n; ++i) {
        const size_t k = static_cast<size_t>(i);
        const SpectrumPoint& src = (k < have && pts[k].X >= kLowestPublishedX) ? pts[k] : last;
        series->SetPointX(i, src.X);
        series->SetPointY(i, src.Y);
      }
    } catch (...) {
      // The series refused a write (its size changed under us); the next
      // sweep writes it again.
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

void TSweepEngine::Worker::Run() {
  Progress& p = *progress;
  std::vector<uint8_t> block(static_cast<size_t>(blockSize));
  std::vector<double> levels(kFftSize);
  while (!stopFlag.load(std::memory_order_acquire)) {
    const long double c = static_cast<long double>(rate) / 2 * p.stepIndex + start;
    p.stepIndex += 2;
    // A step runs while its band's lower edge lies below the stop frequency,
    // so the top of the range is always measured.
    // Past the tunable range (or an index about to overflow) the sweep ends
    // too.
    bool inRange = false;
    int64_t centre = 0;
    if (std::fabs(c) < 4e18L && p.stepIndex < INT32_MAX - 2) {
      centre = rt::RoundHalfEven(c);
      const int64_t lowerEdge = centre - rate / 2;
      inRange = lowerEdge < stop && lowerEdge <= static_cast<int64_t>(UINT32_MAX);
    }
    if (!inRange) {
      p.stepIndex = 1;
      if (!p.points.empty()) {
        Publish();
      } else if (!touchedReceiver) {
        break;  // nothing in this range can be measured: do not spin
      }
      touchedReceiver = false;
      continue;
    }
    try {
      Step(centre, block, levels.data());
    } catch (...) {
      // The step is skipped; the sweep goes on with the next one.
    }
  }
  Finish();
}

void TSweepEngine::Worker::Step(int64_t centre, std::vector<uint8_t>& block, double* levels) {
  if (centre < 0 || centre > static_cast<int64_t>(UINT32_MAX)) return;  // cannot be tuned
  touchedReceiver = true;
  setCentre(dev, static_cast<uint32_t>(centre));
  setRate(dev, static_cast<uint32_t>(rate));
  resetBuffer(dev);
  int count = 0;
  const int result = readSync(dev, block.data(), blockSize, &count);
  if (count < blockSize || result < 0) {
    // Nothing of this sweep will be published; say why, unless the stop was
    // asked for anyway.
    if (!stopFlag.exchange(true)) {
      const std::string text = std::string(kReadFailedText) + " (прочитано " +
                               rt::FormatInt(count) + " из " + rt::FormatInt(blockSize) +
                               " байт, результат " + rt::FormatInt(result) + ")";
      auto h = hub;
      Post([h, text] { h->LogLine(text); });
    }
  }
  count = std::clamp(count, 0, blockSize);
  SpectrumOfBlock(block.data(), block.size(), count, levels);
  const double base = static_cast<double>(centre - rate / 2);
  auto& pts = progress->points;
  for (int g = 0; g < kPointsPerStep; ++g) pts.push_back({g * binWidth + base, levels[g]});
}

void TSweepEngine::Worker::Publish() {
  auto& list = progress->points;
  std::vector<SpectrumPoint> next;
  bool needPost = false;
  {
    std::lock_guard lk(hub->m);
    next = std::move(hub->spare);
    hub->spare = {};
    if (hub->hasSlot && next.capacity() == 0) next = std::move(hub->slot);  // never taken
    hub->slot = std::move(list);
    hub->slotEpoch = epoch;
    hub->hasSlot = true;
    needPost = !hub->posted;
    hub->posted = true;
  }
  list = std::move(next);
  list.clear();
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
  }
  cv.notify_all();
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

void TSweepEngine::SetScanRange(int64_t start, int64_t stop) {
  if (start == start_ && stop == stop_) return;
  start_ = start;
  stop_ = stop;
  ++rangeEpoch_;
}

void TSweepEngine::SetSampleRate(int32_t rate) {
  if (rate == sampleRate_) return;
  sampleRate_ = rate;
  ++rangeEpoch_;
}

void TSweepEngine::SetBinWidth(double width) {
  if (width == binWidth_) return;
  binWidth_ = width;
  ++rangeEpoch_;
}

int TSweepEngine::SeriesPointCount() const {
  if (sampleRate_ <= 0 || stop_ <= start_) return 0;
  const long double n =
      static_cast<long double>(stop_ - start_) / sampleRate_ * kPointsPerStep;
  if (n >= INT_MAX) return INT_MAX;
  return static_cast<int>(rt::RoundHalfEven(n));
}

bool TSweepEngine::Reset() {
  JoinFinished();
  if (worker_) return false;
  progress_->stepIndex = 1;
  progress_->points.clear();
  return true;
}

void TSweepEngine::PrepareSeries() {
  TSweepSeries* s = hub_->series;
  if (!s) return;
  s->ClearPoints();
  const int n = SeriesPointCount();
  for (int i = 0; i < n; ++i) s->AddPoint(0.0, 0.0, std::string(), kSweepRed);
  hub_->preparedEpoch = rangeEpoch_;
}

bool TSweepEngine::Start() {
  JoinFinished();
  if (worker_) return false;  // never two workers on the receiver
  if (receiverLost_ || DeviceHeldByAbandoned(api_rtl_sdr::dev)) return false;
  if (!api_rtl_sdr::rtlsdr_set_center_freq || !api_rtl_sdr::rtlsdr_set_sample_rate ||
      !api_rtl_sdr::rtlsdr_reset_buffer || !api_rtl_sdr::rtlsdr_read_sync) {
    Log(kLibraryMissingText + ReceiverLibraryFile());
    return false;
  }
  if (!api_rtl_sdr::dev) {
    Log(kReceiverNotOpenText);
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
  w->dev = api_rtl_sdr::dev;
  w->setCentre = api_rtl_sdr::rtlsdr_set_center_freq;
  w->setRate = api_rtl_sdr::rtlsdr_set_sample_rate;
  w->resetBuffer = api_rtl_sdr::rtlsdr_reset_buffer;
  w->readSync = api_rtl_sdr::rtlsdr_read_sync;
  w->progress = progress_;
  w->hub = hub_;
  try {
    thread_ = std::thread([w] { w->Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  worker_ = std::move(w);
  return true;
}

void TSweepEngine::Stop() { EndWorker(); }

void TSweepEngine::StopForDestroy() {
  EndWorker();
  hub_->series = nullptr;
  hub_->log = nullptr;
}

void TSweepEngine::EndWorker() {
  if (!worker_) return;
  const std::shared_ptr<Worker> w = std::move(worker_);
  w->stopFlag.store(true, std::memory_order_release);
  bool finished = false;
  {
    std::unique_lock lk(w->m);
    finished = w->cv.wait_for(lk, stopWait_, [&] { return w->done.load(); });
    if (!finished) {
      // Stuck in the library: leave it there. It keeps its own state alive
      // and posts nothing more; the receiver it holds is not used again.
      w->abandoned = true;
      auto& r = Abandoned();
      std::lock_guard rl(r.m);
      r.workers.emplace_back(w.get(), w->dev);
    }
  }
  if (finished) {
    thread_.join();
    return;
  }
  thread_.detach();
  receiverLost_ = true;
  progress_ = std::make_shared<Progress>();
  Log(kReceiverLostText);
}

void TSweepEngine::JoinFinished() {
  if (worker_ && worker_->done.load(std::memory_order_acquire)) {
    thread_.join();
    worker_.reset();
  }
}

bool TSweepEngine::Running() const {
  return worker_ && !worker_->done.load(std::memory_order_acquire);
}

int TSweepEngine::AbandonedWorkersAlive() {
  auto& r = Abandoned();
  std::lock_guard lk(r.m);
  return static_cast<int>(r.workers.size());
}

int32_t TSweepEngine::StepIndex() const { return progress_->stepIndex; }

const std::vector<SpectrumPoint>& TSweepEngine::PointList() const { return progress_->points; }

void TSweepEngine::Log(const std::string& text) { hub_->LogLine(text); }

}  // namespace wg
