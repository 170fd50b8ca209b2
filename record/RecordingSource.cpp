#include "record/RecordingSource.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>

namespace wg {

SweepPtr RecordedSweepValue(const RecordedSweep& r) {
  if (r.steps.empty()) return nullptr;
  const RecordedStep& first = r.steps.front();
  // Lines may differ in their bins (a last one cut at the range's stop): the
  // longest sets the points per step, the others end in unmeasured points.
  const auto per = static_cast<size_t>(
      std::max_element(r.steps.begin(), r.steps.end(), [](const auto& a, const auto& b) { return a.bins < b.bins; })->bins);
  if (per == 0) return nullptr;
  auto s = NewSweep();
  s->pointsPerStep = static_cast<int>(per);
  s->binWidth = first.binWidth;
  s->sampleRate = static_cast<int32_t>(std::clamp<int64_t>(first.high - first.low, 0, INT32_MAX));
  s->start = first.low;
  s->stop = r.steps.back().high;
  s->stepStarts.reserve(r.steps.size());
  s->levels.assign(r.steps.size() * per, std::numeric_limits<float>::quiet_NaN());
  for (size_t k = 0; k < r.steps.size(); ++k) {
    const RecordedStep& step = r.steps[k];
    s->stepStarts.push_back(step.low);
    const size_t n = step.bins;
    if (step.first + n <= r.levels.size())
      std::copy_n(r.levels.begin() + step.first, n, s->levels.begin() + static_cast<std::ptrdiff_t>(k * per));
  }
  // Made here, off the window's thread, as the engine's worker makes them.
  s->levelBlocks = SummariseBlocks(s->levels, s->pointsPerStep);
  // The file says the wall clock where it was written; read here as the
  // local time it most likely was.
  const std::time_t written = static_cast<std::time_t>(r.time);
  std::tm tm{};
  gmtime_r(&written, &tm);
  tm.tm_isdst = -1;
  const std::time_t local = std::mktime(&tm);
  s->finished = s->started = std::chrono::system_clock::from_time_t(local == -1 ? written : local);
  s->transformsAveraged = static_cast<int>(std::clamp<int64_t>(first.samples, 1, INT_MAX));
  s->sequence = r.number + 1;
  return s;
}

std::unique_ptr<TRecordingSource> TRecordingSource::Open(const std::string& path, std::string& error, Events events,
                                                         size_t overviewSweeps) {
  auto recording = TRecording::Open(path, error);
  if (!recording) return nullptr;
  return std::unique_ptr<TRecordingSource>(new TRecordingSource(std::move(recording), std::move(events), overviewSweeps));
}

TRecordingSource::TRecordingSource(std::unique_ptr<TRecording> recording, Events events, size_t overviewSweeps)
    : recording_(std::move(recording)), events_(std::move(events)), overviewSweeps_(overviewSweeps) {
  scanner_ = std::thread([this] { Scan(); });
  server_ = std::thread([this] { Serve(); });
}

TRecordingSource::~TRecordingSource() {
  {
    std::lock_guard lk(m_);
    stop_ = true;
    cv_.notify_all();
  }
  // Reading stops within the chunk under way, wherever in a sweep it is.
  recording_->Cancel();
  scanner_.join();
  server_.join();
}

void TRecordingSource::Show(uint64_t n) {
  std::lock_guard lk(m_);
  wanted_ = true;
  want_ = n;
  cv_.notify_all();
}

void TRecordingSource::Serve() {
  RecordedSweep read;
  for (;;) {
    uint64_t n = 0;
    {
      std::unique_lock lk(m_);
      cv_.wait(lk, [&] { return stop_ || wanted_; });
      if (stop_) return;
      n = want_;
      wanted_ = false;
    }
    if (!recording_->ReadSweep(n, read)) continue;
    if (SweepPtr s = RecordedSweepValue(read); s && events_.shown && !stop_) events_.shown(n, s);
  }
}

uint64_t TRecordingSource::ReadOverviewAgain() {
  std::lock_guard lk(m_);
  const uint64_t reading = ++reading_;
  cv_.notify_all();
  return reading;
}

void TRecordingSource::Scan() {
  const bool complete = recording_->Scan({}, [this](double done) {
    if (events_.progress) events_.progress(done, recording_->SweepCount());
    return !stop_;
  });
  if (stop_) return;
  if (events_.progress) events_.progress(1.0, recording_->SweepCount());
  uint64_t reading = reading_;
  ReadOverview(reading);
  if (stop_) return;
  if (events_.finished) events_.finished(complete);
  // Again whenever asked, the latest asking only.
  for (;;) {
    {
      std::unique_lock lk(m_);
      cv_.wait(lk, [&] { return stop_ || reading_ != reading; });
      if (stop_) return;
      reading = reading_;
    }
    ReadOverview(reading);
  }
}

void TRecordingSource::ReadOverview(uint64_t reading) {
  const uint64_t count = recording_->SweepCount();
  const auto more = [&] { return !stop_ && reading_ == reading; };
  const auto each = [&](const RecordedSweep& r) {
    if (SweepPtr s = RecordedSweepValue(r); s && events_.overview) events_.overview(s, reading);
    return more();
  };
  if (count <= overviewSweeps_) {
    recording_->ReadSweeps(0, each);
  } else {
    // Spread evenly, the newest always among them.
    RecordedSweep read;
    for (size_t i = 0; i < overviewSweeps_ && more(); ++i) {
      const uint64_t n = overviewSweeps_ == 1 ? count - 1
                                              : (count - 1) - (count - 1) * (overviewSweeps_ - 1 - i) / (overviewSweeps_ - 1);
      if (recording_->ReadSweep(n, read)) each(read);
    }
  }
}

}  // namespace wg
