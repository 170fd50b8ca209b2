#include "runtime/FileWrite.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace rt {
namespace {

constexpr int kMostLinks = 40;  // as the kernel's own limit

std::string Reason(int error, WriteTarget::Kind kind) {
  std::string text = std::strerror(error);
  if (error == ENXIO && kind == WriteTarget::Kind::Pipe) text += " (nothing reads from the pipe)";
  return text;
}

bool Failed(int error, WriteTarget::Kind kind, std::string* reason) {
  if (reason) *reason = Reason(error, kind);
  errno = error;
  return false;
}

// A pipe's reader that went away must cost a failure of this write, not
// the process: SIGPIPE is held back on this thread while writing, and one
// that came is taken before it is let through again.
class HoldBrokenPipe {
 public:
  HoldBrokenPipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
  }
  ~HoldBrokenPipe() {
    if (!alreadyPending_) {
      const timespec none{0, 0};
      const int e = errno;
      while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
      }
      errno = e;
    }
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  HoldBrokenPipe(const HoldBrokenPipe&) = delete;
  HoldBrokenPipe& operator=(const HoldBrokenPipe&) = delete;

 private:
  sigset_t pipe_{}, before_{};
  bool alreadyPending_ = false;
};

// Writes all of `data`; false with errno set.
bool WriteAll(int fd, std::string_view data) {
  HoldBrokenPipe hold;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    return false;
  }
  return true;
}

// Opens what `target` names in place; creates it only when it is (or was
// found) missing or regular. Blocking again once open.
int OpenTarget(const WriteTarget& target, int flags) {
  int f = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags;
  if (target.kind == WriteTarget::Kind::Missing || target.kind == WriteTarget::Kind::Regular)
    f |= O_CREAT;
  else
    f &= ~(O_CREAT | O_TRUNC | O_EXCL);
  const int fd = ::open(target.path.c_str(), f, 0666);
  if (fd < 0) return -1;
  const int now = ::fcntl(fd, F_GETFL);
  if (now < 0 || ::fcntl(fd, F_SETFL, now & ~O_NONBLOCK) != 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

// A new file beside `target`, renamed over it once whole.
bool Replace(const WriteTarget& target, std::string_view data) {
  static std::atomic<unsigned> serial{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = target.path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  if (target.kind == WriteTarget::Kind::Regular) {
    // Best effort: only root may give the file back to another owner.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (st.st_uid != target.uid || st.st_gid != target.gid))
      (void)::fchown(fd, target.uid, target.gid);
    (void)::fchmod(fd, target.mode);
  }
  // fsync: a full disk may only be found out when the data go down.
  const bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  int e = errno;
  if (::close(fd) != 0 && ok) e = errno;
  else if (ok) e = 0;
  if (e == 0 && ::rename(temp.c_str(), target.path.c_str()) == 0) return true;
  if (e == 0) e = errno;
  ::unlink(temp.c_str());
  errno = e;
  return false;
}

}  // namespace

bool FindWriteTarget(const std::string& path, WriteTarget& target) {
  target = WriteTarget{};
  std::string p = path;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      target.path = p;
      target.kind = WriteTarget::Kind::Missing;
      return true;
    }
    if (S_ISLNK(st.st_mode)) {
      if (links >= kMostLinks) {
        errno = ELOOP;
        return false;
      }
      std::string to(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 256, '\0');
      for (;;) {
        const ssize_t n = ::readlink(p.c_str(), to.data(), to.size());
        if (n < 0) return false;
        if (static_cast<size_t>(n) < to.size()) {
          to.resize(static_cast<size_t>(n));
          break;
        }
        to.resize(to.size() * 2);
      }
      if (to.empty()) {
        errno = ENOENT;
        return false;
      }
      if (to.front() != '/') {
        const size_t slash = p.rfind('/');
        if (slash != std::string::npos) to = p.substr(0, slash + 1) + to;
      }
      p = std::move(to);
      target.linked = true;
      continue;
    }
    target.path = p;
    target.mode = st.st_mode & 07777;
    target.uid = st.st_uid;
    target.gid = st.st_gid;
    if (S_ISREG(st.st_mode))
      target.kind = WriteTarget::Kind::Regular;
    else if (S_ISFIFO(st.st_mode))
      target.kind = WriteTarget::Kind::Pipe;
    else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
      target.kind = WriteTarget::Kind::Device;
    else if (S_ISDIR(st.st_mode))
      target.kind = WriteTarget::Kind::Folder;
    else
      target.kind = WriteTarget::Kind::Other;
    return true;
  }
}

bool WriteWholeFile(const std::string& path, std::string_view data, std::string* reason) {
  WriteTarget t;
  if (!FindWriteTarget(path, t)) return Failed(errno, t.kind, reason);
  switch (t.kind) {
    case WriteTarget::Kind::Folder:
      return Failed(EISDIR, t.kind, reason);
    case WriteTarget::Kind::Missing:
    case WriteTarget::Kind::Regular:
      if (Replace(t, data)) return true;
      return Failed(errno, t.kind, reason);
    default:
      break;
  }
  const int fd = OpenTarget(t, 0);
  if (fd < 0) return Failed(errno, t.kind, reason);
  const bool ok = WriteAll(fd, data);
  int e = errno;
  if (::close(fd) != 0 && ok) e = errno;
  else if (ok) return true;
  return Failed(e, t.kind, reason);
}

int OpenForWriting(const std::string& path, int flags, std::string* reason) {
  WriteTarget t;
  if (!FindWriteTarget(path, t)) return Failed(errno, t.kind, reason), -1;
  if (t.kind == WriteTarget::Kind::Folder) return Failed(EISDIR, t.kind, reason), -1;
  const int fd = OpenTarget(t, flags);
  if (fd < 0) return Failed(errno, t.kind, reason), -1;
  return fd;
}

}  // namespace rt
