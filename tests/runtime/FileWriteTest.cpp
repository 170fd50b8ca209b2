#include "runtime/FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::stringstream ss;
  ss << std::ifstream(p).rdbuf();
  return ss.str();
}
mode_t TypeMode(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mode : 0;
}

// What stands at the path stays what it was; only a regular file (or none)
// is replaced, and a failure gives the call's reason.
TEST(FileWrite, WholeFileByWhatStandsAtThePath) {
  const struct {
    const char* name;
    const char* shell;  // lays out the folder
    const char* path;
    int error;
    const char* file;  // where the text lands
    mode_t mode;       // the file's afterwards; 0: a new one's (0666 less the umask)
    const char* link;  // stays a link
  } rows[] = {
      {"regular keeps mode", "echo old >t; chmod 640 t", "t", 0, "t", 0640, nullptr},
      {"missing made", "", "t", 0, "t", 0, nullptr},
      {"link: target replaced", "echo old >t; chmod 604 t; ln -s t l", "l", 0, "t", 0604, "l"},
      {"dangling link", "ln -s t l", "l", 0, "t", 0, "l"},
      {"chain", "mkdir d; echo >d/t; chmod 600 d/t; ln -s t d/m; ln -s \"$PWD/d/m\" l", "l", 0, "d/t",
       0600, "d/m"},
      {"circle", "ln -s a b; ln -s b a", "a", ELOOP, nullptr, 0, "a"},
      {"folder missing", "", "no/t", ENOENT, nullptr, 0, nullptr},
      {"file as folder", "echo >f", "f/t", ENOTDIR, nullptr, 0, nullptr},
      {"folder at path", "mkdir t", "t", EISDIR, nullptr, 0, nullptr},
      {"null device in place", "mknod n c 1 3 && ln -s n l", "l", 0, nullptr, 0, "l"},
      {"full device", "mknod n c 1 7", "n", ENOSPC, nullptr, 0, nullptr},
  };
  const std::string text = "frequency_hz,peak_db\n146520000,-42.17\n";
  const mode_t mask = ::umask(022);
  ::umask(mask);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    char tmpl[] = "/tmp/wg-filewrite-XXXXXX";
    const fs::path dir = ::mkdtemp(tmpl);
    if (std::system(("cd " + dir.string() + " && " + (*r.shell ? r.shell : "true")).c_str()) != 0) {
      fs::remove_all(dir);
      continue;  // no device nodes can be made here
    }
    const auto entries = [&] { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); };
    const auto before = entries();
    std::string reason;
    const bool ok = rt::WriteWholeFile(dir / r.path, text, &reason);
    const int error = ok ? 0 : errno;
    EXPECT_EQ(ok, r.error == 0) << reason;
    EXPECT_EQ(error, r.error) << reason;
    EXPECT_EQ(reason, r.error ? std::strerror(r.error) : "");
    EXPECT_EQ(r.file ? Read(dir / r.file) : text, text);
    EXPECT_EQ(r.file ? TypeMode(dir / r.file) : 0u, r.file ? S_IFREG | (r.mode ? r.mode : 0666 & ~mask) : 0u);
    EXPECT_TRUE(!r.link || fs::is_symlink(dir / r.link));
    EXPECT_TRUE(!std::string(r.shell).starts_with("mknod") || S_ISCHR(TypeMode(dir / "n")));
    EXPECT_EQ(entries(), before + (r.file && !r.mode)) << "a new file, nothing left beside it";
    fs::remove_all(dir);
  }
}

// A named pipe nobody reads fails at once rather than waiting for ever; a
// reader gets the bytes, and the descriptor opened blocks as usual.
TEST(FileWrite, NamedPipe) {
  char tmpl[] = "/tmp/wg-filewrite-XXXXXX";
  const fs::path pipe = fs::path(::mkdtemp(tmpl)) / "fifo";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  std::string reason;
  EXPECT_FALSE(rt::WriteWholeFile(pipe, "lost\n", &reason));
  EXPECT_EQ(reason, std::string(std::strerror(ENXIO)) + " (nothing reads from the pipe)");
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_TRUE(rt::WriteWholeFile(pipe, "table\n", &reason)) << reason;
  char buf[16] = {};
  EXPECT_EQ(::read(reader, buf, sizeof buf), 6);
  const int fd = rt::OpenForWriting(pipe, O_APPEND | O_TRUNC);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  ::close(fd);
  ::close(reader);
  EXPECT_TRUE(S_ISFIFO(TypeMode(pipe)));
  fs::remove_all(pipe.parent_path());
}

}  // namespace
