#include "runtime/FileWrite.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path dir;
  TempDir() {
    char tmpl[] = "/tmp/wg-filewrite-XXXXXX";
    dir = ::mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

std::string Read(const fs::path& p) {
  std::ifstream f(p);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Put(const fs::path& p, const std::string& text, mode_t mode) {
  std::ofstream(p) << text;
  ::chmod(p.c_str(), mode);
}

mode_t Umask() {
  const mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

size_t Entries(const fs::path& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

bool IsCharDevice(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// A device node of our own in the temporary folder where the system lets us
// make one; the machine's own otherwise, and then only once it is known to be
// a device, so that a fault here cannot replace it.
fs::path Device(const fs::path& dir, const char* name, unsigned minor) {
  const fs::path own = dir / name;
  if (IsCharDevice(own)) return own;
  if (::mknod(own.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0) {
    const int fd = ::open(own.c_str(), O_WRONLY);
    if (fd >= 0) {
      ::close(fd);
      return own;
    }
    fs::remove(own);
  }
  const fs::path real = fs::path("/dev") / name;
  rt::WriteTarget t;
  if (!rt::FindWriteTarget(real, t) || t.kind != rt::WriteTarget::Kind::Device) return {};
  return real;
}

struct WholeCase {
  const char* name;
  // Lays out the folder; returns the path to write.
  std::function<fs::path(const fs::path& dir)> lay;
  int error;  // 0: written
  // Checks afterwards, given the folder.
  std::function<void(const fs::path& dir)> check;
};

TEST(FileWrite, WholeFileByWhatStandsAtThePath) {
  const std::string text = "frequency_hz,peak_db\n146520000,-42.17\n";
  const WholeCase cases[] = {
      {"regular file keeps its mode",
       [](const fs::path& d) {
         Put(d / "t.csv", "old", 0640);
         return d / "t.csv";
       },
       0,
       [&](const fs::path& d) {
         EXPECT_EQ(Read(d / "t.csv"), text);
         EXPECT_EQ(fs::status(d / "t.csv").permissions(), fs::perms(0640));
         EXPECT_EQ(Entries(d), 1u) << "nothing left beside it";
       }},
      {"missing file made with the umask's mode", [](const fs::path& d) { return d / "new.csv"; }, 0,
       [&](const fs::path& d) {
         EXPECT_EQ(Read(d / "new.csv"), text);
         EXPECT_EQ(fs::status(d / "new.csv").permissions(), fs::perms(0666 & ~Umask()));
       }},
      {"link kept, its target replaced",
       [](const fs::path& d) {
         Put(d / "target.csv", "old", 0604);
         fs::create_symlink("target.csv", d / "link.csv");
         return d / "link.csv";
       },
       0,
       [&](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "link.csv"));
         EXPECT_EQ(Read(d / "target.csv"), text);
         EXPECT_EQ(fs::status(d / "target.csv").permissions(), fs::perms(0604));
       }},
      {"dangling link: its target made",
       [](const fs::path& d) {
         fs::create_symlink("later.csv", d / "link.csv");
         return d / "link.csv";
       },
       0,
       [&](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "link.csv"));
         EXPECT_EQ(Read(d / "later.csv"), text);
       }},
      {"chain of links through a folder",
       [](const fs::path& d) {
         fs::create_directories(d / "sub");
         Put(d / "sub" / "end.csv", "old", 0600);
         fs::create_symlink("end.csv", d / "sub" / "mid.csv");
         fs::create_symlink(d / "sub" / "mid.csv", d / "first.csv");  // absolute
         return d / "first.csv";
       },
       0,
       [&](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "first.csv"));
         EXPECT_TRUE(fs::is_symlink(d / "sub" / "mid.csv"));
         EXPECT_EQ(Read(d / "sub" / "end.csv"), text);
       }},
      {"links in a circle",
       [](const fs::path& d) {
         fs::create_symlink("b", d / "a");
         fs::create_symlink("a", d / "b");
         return d / "a";
       },
       ELOOP, [](const fs::path& d) { EXPECT_TRUE(fs::is_symlink(d / "a")); }},
      {"folder missing", [](const fs::path& d) { return d / "absent" / "t.csv"; }, ENOENT,
       [](const fs::path& d) { EXPECT_EQ(Entries(d), 0u); }},
      {"a file where a folder should be",  // fails for root too
       [](const fs::path& d) {
         Put(d / "plain", "x", 0600);
         return d / "plain" / "t.csv";
       },
       ENOTDIR, [](const fs::path& d) { EXPECT_EQ(Read(d / "plain"), "x"); }},
      {"a folder at the path",
       [](const fs::path& d) {
         fs::create_directories(d / "t.csv");
         return d / "t.csv";
       },
       EISDIR, [](const fs::path& d) { EXPECT_TRUE(fs::is_directory(d / "t.csv")); }},
      {"null device written in place", [](const fs::path& d) { return Device(d, "null", 3); }, 0,
       [](const fs::path& d) {
         EXPECT_TRUE(IsCharDevice(Device(d, "null", 3)));
         EXPECT_LE(Entries(d), 2u) << "no file beside the device";
       }},
      {"full device says so, stays a device", [](const fs::path& d) { return Device(d, "full", 7); }, ENOSPC,
       [](const fs::path& d) { EXPECT_TRUE(IsCharDevice(Device(d, "full", 7))); }},
      {"link to the null device stays a link",
       [](const fs::path& d) {
         const fs::path dev = Device(d, "null", 3);
         if (!dev.empty()) fs::create_symlink(dev, d / "out.csv");
         return dev.empty() ? dev : d / "out.csv";
       },
       0,
       [](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "out.csv"));
         EXPECT_TRUE(IsCharDevice(fs::read_symlink(d / "out.csv")));
       }},
  };
  for (const WholeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir t;
    const fs::path path = c.lay(t.dir);
    if (path.empty()) {
      ADD_FAILURE() << "no device node to write";
      continue;
    }
    std::string reason;
    errno = 0;
    const bool ok = rt::WriteWholeFile(path, text, &reason);
    if (c.error == 0) {
      EXPECT_TRUE(ok) << reason;
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(errno, c.error) << std::strerror(errno);
      EXPECT_EQ(reason, std::strerror(c.error));
    }
    c.check(t.dir);
  }
}

// A named pipe is written in place: a reader gets the bytes; without one the
// write fails at once rather than waiting for a reader that may never come.
TEST(FileWrite, NamedPipe) {
  TempDir t;
  const fs::path pipe = t.dir / "fifo";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::string reason;
  EXPECT_FALSE(rt::WriteWholeFile(pipe, "lost\n", &reason));
  EXPECT_EQ(errno, ENXIO);
  EXPECT_NE(reason.find(std::strerror(ENXIO)), std::string::npos) << reason;
  EXPECT_NE(reason.find("nothing reads"), std::string::npos) << reason;
  EXPECT_EQ(rt::OpenForWriting(pipe, O_APPEND), -1);
  EXPECT_EQ(errno, ENXIO);

  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(rt::WriteWholeFile(pipe, "table\n", &reason)) << reason;
  char buf[64] = {};
  EXPECT_EQ(::read(reader, buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "table\n");
  // The opened descriptor blocks as usual.
  const int fd = rt::OpenForWriting(pipe, O_APPEND);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  ::close(fd);
  ::close(reader);
  struct stat st {};
  ASSERT_EQ(::lstat(pipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A write that fails part-way (here the file size limit, as a full disk
// would) leaves the earlier file whole and nothing beside it.
TEST(FileWrite, FailureLeavesTheEarlierFile) {
  TempDir t;
  Put(t.dir / "t.csv", "earlier", 0644);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  auto* const oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string reason;
  const bool ok = rt::WriteWholeFile(t.dir / "t.csv", std::string(4096, 'x'), &reason);
  const int error = errno;
  ::setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(reason, std::strerror(EFBIG));
  EXPECT_EQ(Read(t.dir / "t.csv"), "earlier");
  EXPECT_EQ(Entries(t.dir), 1u);
}

struct OpenCase {
  const char* name;
  std::function<fs::path(const fs::path& dir)> lay;
  int error;
  std::function<void(const fs::path& dir)> check;
};

// Opening for appending (recordings): in place always, created when missing,
// devices neither created nor truncated.
TEST(FileWrite, OpenForAppending) {
  const OpenCase cases[] = {
      {"missing file created", [](const fs::path& d) { return d / "rec.csv"; }, 0,
       [](const fs::path& d) { EXPECT_EQ(Read(d / "rec.csv"), "line\n"); }},
      {"regular file appended to",
       [](const fs::path& d) {
         Put(d / "rec.csv", "old\n", 0600);
         return d / "rec.csv";
       },
       0, [](const fs::path& d) { EXPECT_EQ(Read(d / "rec.csv"), "old\nline\n"); }},
      {"through a link",
       [](const fs::path& d) {
         Put(d / "rec.csv", "old\n", 0600);
         fs::create_symlink("rec.csv", d / "link");
         return d / "link";
       },
       0,
       [](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "link"));
         EXPECT_EQ(Read(d / "rec.csv"), "old\nline\n");
       }},
      {"null device", [](const fs::path& d) { return Device(d, "null", 3); }, 0,
       [](const fs::path& d) { EXPECT_TRUE(IsCharDevice(Device(d, "null", 3))); }},
      {"folder missing", [](const fs::path& d) { return d / "absent" / "rec.csv"; }, ENOENT, nullptr},
      {"a folder at the path", [](const fs::path& d) { return d; }, EISDIR, nullptr},
  };
  for (const OpenCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir t;
    const fs::path path = c.lay(t.dir);
    ASSERT_FALSE(path.empty());
    std::string reason;
    const int fd = rt::OpenForWriting(path, O_APPEND, &reason);
    if (c.error != 0) {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(errno, c.error);
      EXPECT_EQ(reason, std::strerror(c.error));
      continue;
    }
    ASSERT_GE(fd, 0) << reason;
    EXPECT_EQ(::write(fd, "line\n", 5), 5);
    ::close(fd);
    if (c.check) c.check(t.dir);
  }
}

}  // namespace
