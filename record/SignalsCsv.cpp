#include "record/SignalsCsv.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "runtime/NumText.h"

namespace wg {

const char* const kSignalsCsvHeader =
    "frequency_hz,peak_db,mean_db,snr_db,bandwidth_hz,occupancy_pct,sweeps_present,sweeps_covered,"
    "first_seen,last_seen";

std::string UtcTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return std::string(buf, n);
}

std::string SignalsCsv(const std::vector<TSignal>& table) {
  std::string out = kSignalsCsvHeader;
  out += '\n';
  for (const TSignal& s : table) {
    out += rt::FormatFixed(s.frequency, 0) + ',' + rt::FormatFixed(s.peakDb, 2) + ',' +
           rt::FormatFixed(s.meanDb, 2) + ',' + rt::FormatFixed(s.snrDb, 2) + ',' +
           rt::FormatFixed(s.bandwidth, 0) + ',' + rt::FormatFixed(s.OccupancyPercent(), 1) + ',' +
           std::to_string(s.present) + ',' + std::to_string(s.covered) + ',' + UtcTime(s.firstSeen) + ',' +
           UtcTime(s.lastSeen) + '\n';
  }
  return out;
}

bool WriteSignalsCsvFile(const std::string& path, const std::vector<TSignal>& table, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    return false;
  };
  static std::atomic<unsigned> serial{0};
  const std::string temp = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  const std::string text = SignalsCsv(table);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return fail(temp);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      errno = e;
      return fail(temp);
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    errno = e;
    return fail(path);
  }
  return true;
}

}  // namespace wg
