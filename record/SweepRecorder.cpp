#include "record/SweepRecorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/FileWrite.h"
#include "sweep/FftLevels.h"

namespace wg {

namespace {

// The formatted text of a sweep is kept for the next one up to this size.
constexpr size_t kKeptTextBytes = size_t{4} << 20;

}  // namespace

std::unique_ptr<TSweepRecorder> TSweepRecorder::Open(const std::string& path, std::string& error,
                                                     FailureFn onFailure, Options options) {
  // Standard output is duplicated so that closing the recording leaves it open.
  // A file is opened where it stands (a link followed, a device or a pipe
  // neither created nor truncated); a pipe that nobody reads is a failure now
  // rather than a wait without end.
  const int fd = path == "-" ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0) : rt::OpenForWriting(path, O_APPEND, &error);
  if (fd < 0) {
    if (path == "-") error = std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<TSweepRecorder>(new TSweepRecorder(path, fd, std::move(onFailure), options));
}

TSweepRecorder::TSweepRecorder(std::string path, int fd, FailureFn onFailure, Options options)
    : path_(std::move(path)), fd_(fd), onFailure_(std::move(onFailure)), options_(options) {
  struct stat st {};
  if (path_ != "-" && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    regularFile_ = true;
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  if (options_.maxQueued == 0) options_.maxQueued = 1;
  if (options_.integration.Chosen())
    integrator_ = std::make_unique<TSweepIntegrator>(options_.integration, std::chrono::system_clock::now());
  thread_ = std::thread([this] { Run(); });
}

TSweepRecorder::~TSweepRecorder() { Close(); }

std::string TSweepRecorder::FailureReason() const {
  std::lock_guard lk(m_);
  return failure_;
}

bool TSweepRecorder::Add(SweepPtr sweep) {
  std::unique_lock lk(m_);
  if (options_.waitWhenFull)
    cv_.wait(lk, [&] { return closing_ || failed_ || queue_.size() < options_.maxQueued; });
  if (closing_ || failed_ || !sweep) return false;
  if (queue_.size() >= options_.maxQueued) {
    ++sweepsDropped_;
    return false;
  }
  queue_.push_back(std::move(sweep));
  cv_.notify_all();
  return true;
}

void TSweepRecorder::Close() {
  {
    std::lock_guard lk(m_);
    closing_ = true;
    cv_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard lk(m_);
  if (!closed_) {
    ::close(fd_);
    closed_ = true;
  }
}

void TSweepRecorder::Run() {
  std::string text;
  for (;;) {
    SweepPtr sweep;
    {
      std::unique_lock lk(m_);
      cv_.wait(lk, [&] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      sweep = std::move(queue_.front());
      queue_.pop_front();
      cv_.notify_all();
    }
    if (!failed_) {
      text.clear();
      Format(*sweep, text);
      if (text.empty()) {
        ++sweepsWritten_;  // in an interval still under way
      } else if (WriteSweep(text)) {
        bytesWritten_ += text.size();
        ++sweepsWritten_;
      }
      // A survey's text runs to tens of megabytes: not kept between sweeps.
      if (text.capacity() > kKeptTextBytes) std::string().swap(text);
    }
  }
}

void TSweepRecorder::Format(const Sweep& sweep, std::string& text) {
  if (!integrator_) {
    AppendRtlPowerLines(text, sweep);
    return;
  }
  RtlPowerSweep& s = integrated_;
  s.binsPerStep = sweep.pointsPerStep;
  s.lows = sweep.stepStarts;
  s.levels.assign(sweep.levels.begin(), sweep.levels.end());
  s.sampleRate = RtlPowerBand(sweep);
  s.binWidth = sweep.binWidth;
  s.samples = sweep.transformsAveraged;
  s.when = sweep.finished;
  s.start = sweep.start;
  s.stop = sweep.stop;
  s.noiseBins = NoiseBandwidthBins();
  integrator_->Add(s, [&](RtlPowerSweep& out) { AppendRtlPowerLines(text, out); });
}

bool TSweepRecorder::StopWriting(std::chrono::milliseconds wait) {
  stopAsked_ = true;
  if (!writing_.try_lock_for(wait)) return false;
  writesStopped_ = true;
  writing_.unlock();
  return true;
}

bool TSweepRecorder::WriteSweep(const std::string& text) {
  std::lock_guard hold(writing_);
  if (writesStopped_) return false;
  off_t before = 0;
  if (regularFile_) {
    // Writing on would only feed a file nobody can find any more.
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_) {
      Fail(std::strerror(ENOENT));
      return false;
    }
    before = ::lseek(fd_, 0, SEEK_END);
  }
  size_t done = 0;
  while (done < text.size()) {
    // A pipe gets a line per call, so that a stop asked for while its reader
    // dawdles waits for one line only; a file gets the sweep in one.
    size_t end = text.size();
    if (stopAsked_ && (done == 0 || (!regularFile_ && text[done - 1] == '\n'))) {
      bytesWritten_ += done;
      return false;
    }
    if (!regularFile_) {
      const size_t nl = text.find('\n', done);
      if (nl != std::string::npos) end = nl + 1;
    }
    const ssize_t n = ::write(fd_, text.data() + done, end - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int e = n < 0 ? errno : ENOSPC;
    // Leave the file ending with the last whole sweep.
    if (regularFile_ && done > 0 && before >= 0) (void)::ftruncate(fd_, before);
    Fail(std::strerror(e));
    return false;
  }
  return true;
}

void TSweepRecorder::Fail(const std::string& reason) {
  {
    std::lock_guard lk(m_);
    failure_ = reason;
    failed_ = true;
    cv_.notify_all();
  }
  if (onFailure_) onFailure_(reason);
}

}  // namespace wg
