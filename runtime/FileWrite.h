// Writing files without destroying what stands at the path.
//
// A whole file (a table, a picture, a saved sweep) goes out through a new file
// beside the old one that is then renamed over it, so that a reader never
// sees half of it and a failure (a full disk) leaves the earlier file whole.
// That is only right for a regular file, or a path where nothing is yet:
//  - a symbolic link (or a chain of them) is followed, and the file it leads
//    to is replaced; the link stays a link, even one that led nowhere;
//  - a device (/dev/null) or a named pipe is written in place: opened without
//    creating or truncating anything, so that it stays what it was.
// A replaced regular file keeps its permission bits (and, where allowed, its
// owner); a new one gets 0666 less the umask.
//
// A named pipe is opened without waiting: nobody reading it is a failure
// at once (ENXIO), not a wait without end. Once opened, the descriptor blocks
// again as usual, so that a slow reader is waited for.
//
// Failures come back as errno values and as text: the C library's words for
// the call that failed ("No space left on device"), with a hint where those
// words alone puzzle (a pipe that nobody reads).
//
// Plain POSIX, free of Qt.
#pragma once

#include <string>
#include <string_view>

namespace rt {

// What stands at a path that is to be written, once its links are followed.
struct WriteTarget {
  enum class Kind { Missing, Regular, Pipe, Device, Folder, Other };
  std::string path;  // the file to write: the last link's target, or the path itself
  Kind kind = Kind::Missing;
  unsigned mode = 0;  // permission bits of an existing file
  unsigned uid = 0, gid = 0;
  bool linked = false;  // `path` was reached through a link
};

// Follows the symbolic links at `path` (a relative target counts from the
// link's folder). False with errno set (ELOOP after 40 links, EACCES, ...).
bool FindWriteTarget(const std::string& path, WriteTarget& target);

// Writes `data` as the whole content of `path`, as said at the top. False
// with the reason in `reason` (when given) and errno set.
bool WriteWholeFile(const std::string& path, std::string_view data, std::string* reason = nullptr);

// Opens `path` for writing in place, adding `flags` (O_APPEND, O_TRUNC) to
// O_WRONLY: a missing file is created (0666 less the umask), a link is
// followed, a device or a pipe is neither created nor truncated, a pipe
// that nobody reads fails at once. The descriptor is close-on-exec and
// blocking. -1 with errno set.
// The reason, when given, is as WriteWholeFile's.
int OpenForWriting(const std::string& path, int flags, std::string* reason = nullptr);

}  // namespace rt
