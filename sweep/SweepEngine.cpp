#include "sweep/SweepEngine.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <cmath>

#include "receiver/Platform.h"
#include "receiver/api_rtl_sdr.h"
#include "runtime/NumText.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepHub.h"
#include "sweep/SweepSteps.h"
#include "sweep/SweepWatchdog.h"
#include "sweep/SweepWorker.h"

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

TSweepEngine::TSweepEngine(TSweepSeries* series, PostToUi post, LogSink log)
    : progress_(std::make_shared<TSweepProgress>()), hub_(std::make_shared<TSweepHub>()) {
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
  hub_->DropSlot();
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
    progress_ = std::make_shared<TSweepProgress>();
  else
    *progress_ = TSweepProgress{};  // storage of a wider range is let go
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
  if (hub_->hung.load() || abandoned::HoldsDevice(api_rtl_sdr::dev)) return false;
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

  const bool average = traceMode_ == TraceMode::Average;
  auto w = std::make_shared<TSweepWorker>(
      TSweepSteps(sampleRate_, kBlockSize, average ? &AveragedSpectrumOfBlock : &SpectrumOfBlock));
  w->start = start_;
  w->stop = stop_;
  w->rate = sampleRate_;
  w->binWidth = binWidth_;
  w->blockSize = kBlockSize;
  w->transformsAveraged = average ? kAveragedTransforms : 1;
  w->epoch = rangeEpoch_;
  w->centres = SweepCentres(start_, stop_, sampleRate_);
  w->progress = progress_;
  w->hub = hub_;
  for (const auto& r : retiring_) w->previous.push_back(r.first);
  if (!watchdog_) {
    auto wd = std::make_unique<TSweepWatchdog>();
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

void TSweepEngine::StopAndWithhold() {
  EndWorker(stopWait_);
  ScanValuesChanged();
}

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
  std::shared_ptr<TSweepWorker> w = std::move(worker_);
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

void TSweepEngine::SetHold(bool on) { hub_->RestartHold(on); }

void TSweepEngine::RestartHold() { hub_->RestartHold(Holding()); }

bool TSweepEngine::Holding() const {
  std::lock_guard lk(hub_->m);
  return hub_->holding;
}

const std::vector<float>& TSweepEngine::HeldLevels(const Sweep& sweep) const {
  std::lock_guard lk(hub_->m);
  const bool current = hub_->holding && sweep.holdGeneration == hub_->holdGeneration && !sweep.maxima.empty();
  return current ? sweep.maxima : sweep.levels;
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
  const auto ended = [](const std::shared_ptr<TSweepWorker>& w) { return w->done.load(std::memory_order_acquire); };
  return (!worker_ || ended(worker_)) &&
         std::all_of(retiring_.begin(), retiring_.end(), [&](const auto& r) { return ended(r.first); });
}

bool TSweepEngine::WaitIdle(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  const auto waitFor = [&](const std::shared_ptr<TSweepWorker>& w) {
    if (hub_->hung.load()) return;
    w->WaitDone(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
  };
  if (worker_) waitFor(worker_);
  for (const auto& r : retiring_) waitFor(r.first);
  JoinFinished();
  return Idle();
}

bool TSweepEngine::WaitAbandonedWorkers(std::chrono::milliseconds wait) { return abandoned::WaitNone(wait); }

bool TSweepEngine::WorkerAbandoned() const { return hub_->hung.load(); }

int TSweepEngine::AbandonedWorkersAlive() { return abandoned::Count(); }

int32_t TSweepEngine::StepIndex() const { return progress_->stepIndex; }

size_t TSweepEngine::PointsInProgress() const {
  return progress_->building ? progress_->building->PointCount() : 0;
}

size_t TSweepEngine::HeldPointCapacity() const {
  const auto capacity = [](const std::shared_ptr<Sweep>& s) { return s ? s->levels.capacity() : 0; };
  std::lock_guard lk(hub_->m);
  return capacity(progress_->building) + capacity(hub_->slot);
}

void TSweepEngine::Log(const std::string& text) { hub_->LogLine(text); }

}  // namespace wg
