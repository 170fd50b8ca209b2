#include "sweep/SweepEngine.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <cmath>

#include "receiver/Platform.h"
#include "receiver/RtlTcpProtocol.h"
#include "receiver/api_rtl_sdr.h"
#include "runtime/NumText.h"
#include "sweep/CroppedPlan.h"
#include "sweep/FftLevels.h"
#include "sweep/SweepHub.h"

#include <QCoreApplication>

namespace wg {

const char* const kReadFailedText = QT_TRANSLATE_NOOP("SweepEngine", "Ошибка чтения из приёмника, сканирование остановлено");
const char* const kReceiverLostText =
    QT_TRANSLATE_NOOP("SweepEngine", "Приёмник не отвечает: сканирование остановлено, приёмник потерян до перезапуска программы");
const char* const kReceiverGoneText =
    QT_TRANSLATE_NOOP("SweepEngine", "Приёмник отключён (серийный номер %1): ожидаю его возвращения");
const char* const kReceiverBackText =
    QT_TRANSLATE_NOOP("SweepEngine", "Приёмник снова подключён (серийный номер %1): сканирование продолжается");
const char* const kRemoteGoneText = QT_TRANSLATE_NOOP("SweepEngine", "Связь с приёмником %1 потеряна: подключаюсь снова");
const char* const kRemoteBackText =
    QT_TRANSLATE_NOOP("SweepEngine", "Связь с приёмником %1 восстановлена: сканирование продолжается");
const char* const kReceiverHungAmongText = QT_TRANSLATE_NOOP(
    "SweepEngine", "Приёмник %1 не отвечает: его часть диапазона не измерена, остальные приёмники продолжают сканирование");
const char* const kReadFailedAmongText = QT_TRANSLATE_NOOP(
    "SweepEngine", "Ошибка чтения из приёмника %1 (прочитано %2 из %3 байт, результат %4): его часть диапазона сканируют остальные приёмники");
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

// A remote receiver goes by its address (see RtlTcpDevice::Serial): what it
// loses is a connection, not a plug.
bool FromRemote(const PoolNote& note) { return IsRemoteName(note.serial); }

std::string ReceiverAwayLine(const PoolNote& note) {
  const QString serial = QString::fromStdString(note.serial);
  if (note.kind == PoolNote::Kind::Hung && note.othersSweeping > 0)
    return QCoreApplication::translate("SweepEngine", kReceiverHungAmongText).arg(serial).toUtf8().toStdString();
  if (note.kind == PoolNote::Kind::ReadFailed && note.othersSweeping > 0)
    return QCoreApplication::translate("SweepEngine", kReadFailedAmongText)
        .arg(serial, QString::number(note.count), QString::number(note.length), QString::number(note.result))
        .toUtf8()
        .toStdString();
  if (note.kind != PoolNote::Kind::Gone && note.kind != PoolNote::Kind::Back) return {};
  const bool remote = FromRemote(note);
  const bool gone = note.kind == PoolNote::Kind::Gone;
  const char* text = remote ? (gone ? kRemoteGoneText : kRemoteBackText) : (gone ? kReceiverGoneText : kReceiverBackText);
  return QCoreApplication::translate("SweepEngine", text).arg(QString::fromStdString(note.serial)).toUtf8().toStdString();
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

std::string MHzText(int64_t hz) { return rt::FloatToStr(static_cast<double>(hz) / 1e6); }

// How far below its tuned frequency a step's first level lies: half the
// rate, or half the kept bins of a step whose edges are cut off.
int64_t FirstLevelBelowCentre(const ScanPlan& plan) {
  if (plan.firstBin == 0) return static_cast<int64_t>(plan.rate / 2);
  return rt::RoundHalfEven(plan.pointsPerStep / 2 * plan.binWidth);
}

// The bands of a sweep its receivers could not tune, adjoining ones merged,
// as the log names them.
std::string UntunedRanges(const PooledSweep& p) {
  const ScanPlan& plan = *p.plan;
  const int64_t rate = plan.rate;
  std::vector<std::pair<int64_t, int64_t>> runs;
  for (size_t j = 0; j < p.marks.size(); ++j) {
    if (p.marks[j] != StepMark::Untuned) continue;
    // The part of the step that would have been drawn.
    const int64_t first = plan.centres[j] - FirstLevelBelowCentre(plan);
    const int64_t width = plan.firstBin == 0 ? rate : 2 * FirstLevelBelowCentre(plan);
    const int64_t lo = std::max(plan.start, first), hi = std::min(plan.stop, first + width);
    if (!runs.empty() && lo <= runs.back().second)
      runs.back().second = std::max(runs.back().second, hi);
    else
      runs.emplace_back(lo, hi);
  }
  std::string ranges;
  for (size_t i = 0; i < runs.size(); ++i)
    ranges += (i ? ", " : "") + MHzText(runs[i].first) + "–" + MHzText(runs[i].second);
  return ranges;
}

// The pool's sweep as the engine hands it over: the levels move, nothing is copied.
std::shared_ptr<Sweep> ToSweep(PooledSweep& p) {
  const ScanPlan& plan = *p.plan;
  std::shared_ptr<Sweep> s = NewSweep();
  s->start = plan.start;
  s->stop = plan.stop;
  s->sampleRate = static_cast<int32_t>(plan.rate);
  s->binWidth = plan.binWidth;
  s->pointsPerStep = plan.pointsPerStep;
  s->firstBin = plan.firstBin;
  s->centreMended = plan.centreMended;
  s->transformsAveraged = plan.transformsAveraged;
  s->started = p.started;
  s->finished = p.finished;
  s->stepStarts.reserve(plan.centres.size());
  s->levels = std::move(p.levels);
  // A step whose work threw is not there: the trace breaks where it was.
  const auto per = static_cast<size_t>(plan.pointsPerStep);
  const int64_t below = FirstLevelBelowCentre(plan);
  size_t kept = 0;
  for (size_t j = 0; j < plan.centres.size(); ++j) {
    if (p.marks[j] == StepMark::Skipped) continue;
    if (kept != j)
      std::copy_n(s->levels.begin() + static_cast<std::ptrdiff_t>(j * per), per,
                  s->levels.begin() + static_cast<std::ptrdiff_t>(kept * per));
    s->stepStarts.push_back(plan.centres[j] - below);
    ++kept;
  }
  s->levels.resize(kept * per);
  return s;
}

}  // namespace

TSweepEngine::TSweepEngine(TSweepSeries* series, PostToUi post, LogSink log) : hub_(std::make_shared<TSweepHub>()) {
  hub_->post = std::move(post);
  hub_->series = series;
  hub_->log = std::move(log);
  ReceiverPool::Listener l;
  // Both run on the receivers' threads and reach the window only by posting.
  l.sweep = [hub = hub_](std::shared_ptr<PooledSweep> p) {
    bool sayUntuned = false;
    const uint64_t epoch = p->plan->tag;
    if (std::find(p->marks.begin(), p->marks.end(), StepMark::Untuned) != p->marks.end()) {
      std::lock_guard lk(hub->m);
      if (hub->untunedLoggedEpoch != epoch) {
        hub->untunedLoggedEpoch = epoch;  // once per scan range, not per sweep
        sayUntuned = true;
      }
    }
    const std::string ranges = sayUntuned ? UntunedRanges(*p) : std::string();
    if (hub->HandOver(ToSweep(*p), epoch)) hub->post([hub] { hub->Deliver(); });
    if (sayUntuned) hub->post([hub, ranges] { hub->LogLine(EngineText(kUntunedText) + ranges); });
  };
  l.note = [hub = hub_](const PoolNote& n) {
    switch (n.kind) {
      case PoolNote::Kind::StepFailed:
        hub->post([hub, error = n.error] { hub->LogLine(EngineText(kStepFailedText) + error); });
        break;
      case PoolNote::Kind::Hung:
        // One of several: a gap, said by the note's own line below.
        if (n.othersSweeping > 0) break;
        if (!hub->hung.exchange(true)) hub->post([hub] { hub->LogLine(EngineText(kReceiverLostText)); });
        break;
      default:
        break;
    }
    // Worded on the user-interface thread, in the language chosen there; the
    // rest only when someone there listens.
    const bool logged = n.kind == PoolNote::Kind::ReadFailed || n.kind == PoolNote::Kind::Gone ||
                        n.kind == PoolNote::Kind::Back || (n.kind == PoolNote::Kind::Hung && n.othersSweeping > 0);
    if (n.kind != PoolNote::Kind::Stalled && (logged || hub->noteListening.load() > 0))
      hub->post([hub, n] { hub->ReceiverNote(n); });
  };
  pool_ = std::make_unique<ReceiverPool>(std::move(l));
}

TSweepEngine::~TSweepEngine() { StopForDestroy(); }

int64_t TSweepEngine::WidestRange() const {
  if (sampleRate_ <= 0) return kHighestFrequency;
  return static_cast<int64_t>(static_cast<long double>(kMostSeriesPoints) * sampleRate_ / kPointsPerStep);
}

int64_t TSweepEngine::BoundedStop(int64_t start, int64_t stop) const { return std::min(stop, start + WidestRange()); }

void TSweepEngine::ScanValuesChanged() {
  hub_->currentEpoch = ++rangeEpoch_;
  hub_->DropSlot();
}

void TSweepEngine::SetScanRange(int64_t start, int64_t stop) {
  start = std::clamp(start, kLowestFrequency, kHighestFrequency);
  wantedStop_ = std::clamp(stop, kLowestFrequency, kHighestFrequency);
  stop = BoundedStop(start, wantedStop_);
  if (start == start_ && stop == stop_) return;
  start_ = start;
  stop_ = stop;
  ScanValuesChanged();
}

void TSweepEngine::SetSampleRate(int32_t rate) {
  if (rate == sampleRate_) return;
  sampleRate_ = rate;
  const int64_t before = stop_;
  stop_ = BoundedStop(start_, wantedStop_);
  ScanValuesChanged();
  if (stop_ != before && stopMoved_) stopMoved_();
}

void TSweepEngine::SetCrop(double share) {
  share = std::isnan(share) ? 0 : std::clamp(share, 0.0, kMostCrop);
  if (share == crop_) return;
  crop_ = share;
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

ReceiverId TSweepEngine::AddReceiver(std::unique_ptr<Receiver> receiver) { return pool_->Add(std::move(receiver)); }

void TSweepEngine::RemoveReceiver(ReceiverId id, std::chrono::milliseconds wait) { pool_->Remove(id, wait); }

int TSweepEngine::AddReceiverListener(ReceiverNoteListener fn) {
  const int id = hub_->nextListener++;
  hub_->noteListeners.emplace_back(id, std::make_shared<ReceiverNoteListener>(std::move(fn)));
  hub_->noteListening = static_cast<int>(hub_->noteListeners.size());
  return id;
}

void TSweepEngine::RemoveReceiverListener(int id) {
  std::erase_if(hub_->noteListeners, [id](const auto& l) { return l.first == id; });
  hub_->noteListening = static_cast<int>(hub_->noteListeners.size());
}

bool TSweepEngine::ReceiverAway() const {
  const auto ids = pool_->Ids();
  return std::any_of(ids.begin(), ids.end(), [this](ReceiverId id) {
    const Receiver* r = pool_->Find(id);
    return r && r->State() == ReceiverState::Lost;
  });
}
Receiver* TSweepEngine::FindReceiver(ReceiverId id) const { return pool_->Find(id); }

std::vector<ReceiverId> TSweepEngine::Receivers() const { return pool_->Ids(); }

bool TSweepEngine::Reset() {
  if (Running()) return false;
  planGiven_ = false;  // the next start begins a sweep of its own
  pool_->Discard();
  return true;
}

void TSweepEngine::PrepareSeries() {
  TSweepSeries* s = hub_->series;
  if (!s) return;
  s->ResetPoints(SeriesPointCount());
  hub_->preparedEpoch = rangeEpoch_;
}

ScanPlan TSweepEngine::MakePlan() const {
  const bool average = traceMode_ == TraceMode::Average;
  ScanPlan plan;
  CroppedPlan steps = CroppedCentres(start_, stop_, sampleRate_, crop_);
  plan.centres = std::move(steps.centres);
  plan.rate = static_cast<uint32_t>(sampleRate_);
  plan.pointsPerStep = steps.bins;
  plan.firstBin = steps.firstBin;
  plan.mostFailedSteps = kMostFailedSteps;
  plan.start = start_;
  plan.stop = stop_;
  plan.binWidth = binWidth_;
  plan.transformsAveraged = average ? kAveragedTransforms : 1;
  plan.tag = rangeEpoch_;
  plan.transform = average ? &AveragedSpectrumOfBlock : &SpectrumOfBlock;
  if (crop_ > 0) {
    plan.centreMended = true;
    plan.transform = [whole = plan.transform, first = steps.firstBin, bins = steps.bins](
                         const uint8_t* bytes, size_t length, long count, double* out) {
      thread_local std::vector<double> levels(kFftSize);
      whole(bytes, length, count, levels.data());
      MendCentre(levels.data());
      std::copy_n(levels.begin() + first, bins, out);
    };
  } else if (!keepDcSpike_) {
    plan.centreMended = true;
    plan.transform = [whole = plan.transform](const uint8_t* bytes, size_t length, long count, double* out) {
      whole(bytes, length, count, out);
      MendCentre(out);
    };
  }
  plan.read.fast = fast_;
  plan.read.settleBytes = settleBytes_;
  plan.read.usedBytes = average ? kAveragedBytes : kSpectrumBytes;
  return plan;
}

bool TSweepEngine::Start() {
  if (Running()) return false;
  if (hub_->hung.load()) return false;
  const auto ids = pool_->Ids();
  if (std::none_of(ids.begin(), ids.end(), [&](ReceiverId id) {
        const Receiver* r = pool_->Find(id);
        return r && r->State() != ReceiverState::OpenFailed && r->State() != ReceiverState::Closed;
      })) {
    // Without the library no receiver could be opened: that is the news.
    const bool library = api_rtl_sdr::rtlsdr_set_center_freq && api_rtl_sdr::rtlsdr_set_sample_rate &&
                         api_rtl_sdr::rtlsdr_reset_buffer && api_rtl_sdr::rtlsdr_read_sync;
    Log(library ? EngineText(kReceiverNotOpenText) : ReceiverLibraryAbsentLine());
    return false;
  }
  if (sampleRate_ <= 0) return false;  // the centre would never move on
  if (planGiven_ && planEpoch_ == rangeEpoch_ && planMode_ == traceMode_ && planFast_ == fast_ &&
      planKeepDcSpike_ == keepDcSpike_ && !pool_->Stalled()) {
    pool_->Resume();
  } else {
    ScanPlan plan = MakePlan();
    planSteps_ = plan.centres.size();
    planPoints_ = plan.pointsPerStep;
    pool_->SetPlan(std::move(plan));
    planGiven_ = true;
    planEpoch_ = rangeEpoch_;
    planMode_ = traceMode_;
    planFast_ = fast_;
    planKeepDcSpike_ = keepDcSpike_;
  }
  // Nothing in this range can be measured: it ends at once.
  sweeping_ = planSteps_ > 0;
  return true;
}

void TSweepEngine::Stop() {
  pool_->Stop();
  sweeping_ = false;
}

void TSweepEngine::StopAndWithhold() {
  Stop();
  ScanValuesChanged();
}

void TSweepEngine::StopForDestroy() {
  if (pool_) {
    pool_->Close(hub_->hung.load() ? std::chrono::milliseconds(0) : stopWait_);
    sweeping_ = false;
  }
  hub_->series = nullptr;
  hub_->log = nullptr;
  hub_->listeners.clear();
  hub_->noteListeners.clear();
  hub_->noteListening = 0;
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

bool TSweepEngine::Running() const { return sweeping_ && pool_->Running() && !hub_->hung.load(); }

bool TSweepEngine::Idle() const { return !Running() && pool_->WaitQuiet(std::chrono::milliseconds(0)); }

bool TSweepEngine::WaitIdle(std::chrono::milliseconds wait) {
  if (hub_->hung.load()) return false;
  return !Running() && pool_->WaitQuiet(wait);
}

bool TSweepEngine::WaitAbandonedWorkers(std::chrono::milliseconds wait) { return Receiver::WaitNoHungThreads(wait); }

bool TSweepEngine::WorkerAbandoned() const { return hub_->hung.load(); }

int TSweepEngine::AbandonedWorkersAlive() { return Receiver::HungThreads(); }

int32_t TSweepEngine::StepIndex() const { return static_cast<int32_t>(1 + 2 * pool_->StepsDone()); }

size_t TSweepEngine::PointsInProgress() const { return pool_->StepsDone() * static_cast<size_t>(planPoints_); }

size_t TSweepEngine::HeldPointCapacity() const {
  std::lock_guard lk(hub_->m);
  return pool_->HeldCapacity() + (hub_->slot ? hub_->slot->levels.capacity() : 0);
}

const PostToUi& TSweepEngine::Poster() const { return hub_->post; }

void TSweepEngine::Log(const std::string& text) { hub_->LogLine(text); }

}  // namespace wg
