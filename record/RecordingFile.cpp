#include "record/RecordingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace wg {
namespace {

// What deflate may refer back to.
constexpr size_t kWindow = 32768;
constexpr size_t kInput = 256 * 1024;
// Access points at first every this many bytes of data; when there would be
// more than kMostPoints, every other one goes and the span doubles, so that a
// file of any size holds at most kMostPoints * 32 kB for seeking.
constexpr uint64_t kFirstSpan = 8ull << 20;
constexpr size_t kMostPoints = 2048;

std::string SystemError(int e) { return std::strerror(e); }

// Reads at most n bytes at `at`; -1 on an error (errno), 0 at the end.
ssize_t ReadAt(int fd, void* out, size_t n, uint64_t at) {
  for (;;) {
    const ssize_t r = ::pread(fd, out, n, static_cast<off_t>(at));
    if (r >= 0 || errno != EINTR) return r;
  }
}

class PlainFile final : public TRecordingFile {
 public:
  PlainFile(std::string path, int fd, uint64_t size) : TRecordingFile(std::move(path)), fd_(fd), size_(size) {}
  ~PlainFile() override { ::close(fd_); }

  std::unique_ptr<TRecordingFile> Reopen(std::string& error) const override {
    return Open(Path(), error);
  }
  size_t Read(char* out, size_t n) override {
    if (!error_.empty()) return 0;
    const ssize_t r = ReadAt(fd_, out, n, offset_);
    if (r < 0) {
      error_ = SystemError(errno);
      return 0;
    }
    offset_ += static_cast<uint64_t>(r);
    return static_cast<size_t>(r);
  }
  bool Seek(uint64_t offset) override {
    // The file may still be growing (a survey writing it): its size now counts.
    struct stat st {};
    if (::fstat(fd_, &st) == 0) size_ = static_cast<uint64_t>(st.st_size);
    if (offset > size_) return false;
    offset_ = offset;
    return true;
  }
  uint64_t Offset() const override { return offset_; }
  uint64_t FileSize() const override { return size_; }
  uint64_t FilePosition() const override { return offset_; }
  bool Compressed() const override { return false; }
  const std::string& Error() const override { return error_; }
  size_t SeekMemoryBytes() const override { return 0; }

 private:
  const int fd_;
  uint64_t size_;
  uint64_t offset_ = 0;
  std::string error_;
};

struct AccessPoint {
  uint64_t out;  // offset in the data
  uint64_t in;   // offset in the file of the first whole byte after the point
  int bits;      // bits of the byte before `in` that still belong before the point
  std::unique_ptr<unsigned char[]> window;  // the kWindow bytes of data before it
};

struct AccessPoints {
  std::mutex m;
  std::vector<AccessPoint> list;
  uint64_t span = kFirstSpan;
};

class GzFile final : public TRecordingFile {
 public:
  GzFile(std::string path, int fd, uint64_t size, std::shared_ptr<AccessPoints> points)
      : TRecordingFile(std::move(path)), fd_(fd), size_(size), points_(std::move(points)),
        input_(kInput), ring_(new unsigned char[kWindow]()) {
    ok_ = inflateInit2(&zs_, 31) == Z_OK;
    if (!ok_) error_ = "out of memory";
  }
  ~GzFile() override {
    if (ok_) inflateEnd(&zs_);
    ::close(fd_);
  }

  std::unique_ptr<TRecordingFile> Reopen(std::string& error) const override {
    const int fd = ::open(Path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = SystemError(errno);
      return nullptr;
    }
    return std::make_unique<GzFile>(Path(), fd, size_, points_);
  }

  size_t Read(char* out, size_t n) override {
    size_t got = 0;
    while (got < n && Produce()) {
      const size_t k = std::min(n - got, pendLen_);
      std::memcpy(out + got, ring_.get() + pendStart_, k);
      Consume(k);
      got += k;
    }
    return got;
  }

  bool Seek(uint64_t offset) override {
    if (offset >= out_ && offset - out_ <= pendLen_) {
      Consume(static_cast<size_t>(offset - out_));
      return true;
    }
    AccessPoint from{};
    std::unique_ptr<unsigned char[]> window;
    {
      std::lock_guard lk(points_->m);
      const auto& list = points_->list;
      auto it = std::upper_bound(list.begin(), list.end(), offset,
                                 [](uint64_t o, const AccessPoint& p) { return o < p.out; });
      if (it != list.begin()) {
        --it;
        from = {it->out, it->in, it->bits, nullptr};
        window.reset(new unsigned char[kWindow]);
        std::memcpy(window.get(), it->window.get(), kWindow);
      }
    }
    // Forward from here unless a point lies nearer to the target, or the
    // target lies behind.
    const bool forward = offset > out_ && (!window || from.out <= out_);
    if (!forward) {
      if (window)
        RestartAt(from, window.get());
      else
        RestartAtBeginning();
    }
    while (out_ < offset && Produce()) Consume(static_cast<size_t>(std::min<uint64_t>(offset - out_, pendLen_)));
    return out_ == offset;
  }

  uint64_t Offset() const override { return out_; }
  uint64_t FileSize() const override { return size_; }
  uint64_t FilePosition() const override { return inPos_ - zs_.avail_in; }
  bool Compressed() const override { return true; }
  const std::string& Error() const override { return error_; }
  size_t SeekMemoryBytes() const override {
    std::lock_guard lk(points_->m);
    return points_->list.capacity() * sizeof(AccessPoint) + points_->list.size() * kWindow;
  }

 private:
  void Consume(size_t k) {
    pendStart_ += k;
    pendLen_ -= k;
    out_ += k;
  }

  // Keeps what is left of the input and reads more behind it; false when
  // nothing more came (the end of the file, or an error).
  bool Fill() {
    if (zs_.avail_in > 0 && zs_.next_in != input_.data())
      std::memmove(input_.data(), zs_.next_in, zs_.avail_in);
    const size_t have = zs_.avail_in;
    zs_.next_in = input_.data();
    const ssize_t r = ReadAt(fd_, input_.data() + have, input_.size() - have, inPos_);
    if (r < 0) {
      error_ = SystemError(errno);
      return false;
    }
    inPos_ += static_cast<uint64_t>(r);
    zs_.avail_in = static_cast<uInt>(have + static_cast<size_t>(r));
    return r > 0;
  }

  // Makes data to deliver, unless all of it was; false at its end.
  bool Produce() {
    while (pendLen_ == 0 && !ended_) {
      if (!ok_) {
        ended_ = true;
        break;
      }
      if (ringUsed_ == kWindow) ringUsed_ = 0;
      bool more = zs_.avail_in > 0 || Fill();
      zs_.next_out = ring_.get() + ringUsed_;
      zs_.avail_out = static_cast<uInt>(kWindow - ringUsed_);
      const int ret = inflate(&zs_, Z_BLOCK);
      const size_t made = kWindow - ringUsed_ - zs_.avail_out;
      pendStart_ = ringUsed_;
      pendLen_ = made;
      ringUsed_ += made;
      if (ret == Z_STREAM_END) {
        if (!NextMember()) ended_ = true;
      } else if (ret == Z_BUF_ERROR) {
        if (!more && zs_.avail_in == 0) {
          if (error_.empty()) error_ = "the compressed data is cut short";
          ended_ = true;
        }
      } else if (ret != Z_OK) {
        error_ = zs_.msg ? zs_.msg : "damaged compressed data";
        ended_ = true;
      } else if ((zs_.data_type & 128) && !(zs_.data_type & 64)) {
        MaybeAddPoint();
      }
    }
    return pendLen_ > 0;
  }

  // After a member's end: its trailer, then either another member or the end.
  bool NextMember() {
    if (raw_) {
      // Started without the header, so inflate left the trailer to us.
      size_t skip = 8;
      while (skip > 0) {
        if (zs_.avail_in == 0 && !Fill()) return false;
        const size_t k = std::min<size_t>(skip, zs_.avail_in);
        zs_.next_in += k;
        zs_.avail_in -= static_cast<uInt>(k);
        skip -= k;
      }
    }
    while (zs_.avail_in < 2)
      if (!Fill()) return false;
    // Anything else after a member (zeros padding a tape block) is no data.
    if (zs_.next_in[0] != 0x1f || zs_.next_in[1] != 0x8b) return false;
    raw_ = false;
    return inflateReset2(&zs_, 31) == Z_OK;
  }

  void MaybeAddPoint() {
    const uint64_t at = out_ + pendLen_;
    std::lock_guard lk(points_->m);
    auto& list = points_->list;
    if (!list.empty() && at < list.back().out + points_->span) return;
    AccessPoint p{at, inPos_ - zs_.avail_in, zs_.data_type & 7, std::unique_ptr<unsigned char[]>(new unsigned char[kWindow])};
    // The ring holds the last kWindow bytes, the oldest from ringUsed_ on.
    std::memcpy(p.window.get(), ring_.get() + ringUsed_, kWindow - ringUsed_);
    std::memcpy(p.window.get() + (kWindow - ringUsed_), ring_.get(), ringUsed_);
    list.push_back(std::move(p));
    if (list.size() >= kMostPoints) {
      size_t kept = 1;
      for (size_t i = 2; i < list.size(); i += 2) list[kept++] = std::move(list[i]);
      list.resize(kept);
      points_->span *= 2;
    }
  }

  void ResetState(uint64_t in, uint64_t out) {
    inPos_ = in;
    zs_.avail_in = 0;
    zs_.next_in = input_.data();
    out_ = out;
    pendLen_ = pendStart_ = 0;
    ended_ = false;
    error_.clear();
  }

  void RestartAtBeginning() {
    ResetState(0, 0);
    std::memset(ring_.get(), 0, kWindow);
    ringUsed_ = 0;
    raw_ = false;
    ok_ = ok_ && inflateReset2(&zs_, 31) == Z_OK;
  }

  void RestartAt(const AccessPoint& p, const unsigned char* window) {
    ResetState(p.in - (p.bits ? 1 : 0), p.out);
    raw_ = true;
    ok_ = ok_ && inflateReset2(&zs_, -15) == Z_OK;
    if (p.bits) {
      if (!Fill() || zs_.avail_in == 0) {
        ended_ = true;
        return;
      }
      const int byte = *zs_.next_in++;
      --zs_.avail_in;
      inflatePrime(&zs_, p.bits, byte >> (8 - p.bits));
    }
    inflateSetDictionary(&zs_, window, kWindow);
    std::memcpy(ring_.get(), window, kWindow);
    ringUsed_ = kWindow;
  }

  const int fd_;
  const uint64_t size_;
  const std::shared_ptr<AccessPoints> points_;
  std::vector<unsigned char> input_;
  std::unique_ptr<unsigned char[]> ring_;  // the last kWindow bytes of data made
  z_stream zs_{};
  bool ok_ = false;
  bool raw_ = false;    // decoding a member entered at an access point
  bool ended_ = false;
  size_t ringUsed_ = 0;  // where the next data goes in the ring
  size_t pendStart_ = 0, pendLen_ = 0;  // made but not yet delivered
  uint64_t out_ = 0;     // data offset of the next byte delivered
  uint64_t inPos_ = 0;   // file offset of the next byte read from disk
  std::string error_;
};

}  // namespace

std::unique_ptr<TRecordingFile> TRecordingFile::Open(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? SystemError(EISDIR) : SystemError(errno);
    ::close(fd);
    return nullptr;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  unsigned char magic[2] = {0, 0};
  if (ReadAt(fd, magic, 2, 0) == 2 && magic[0] == 0x1f && magic[1] == 0x8b)
    return std::make_unique<GzFile>(path, fd, size, std::make_shared<AccessPoints>());
  return std::make_unique<PlainFile>(path, fd, size);
}

}  // namespace wg
