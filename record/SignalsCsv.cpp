#include "record/SignalsCsv.h"

#include <cmath>
#include <ctime>

#include "runtime/FileWrite.h"
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
  std::string reason;
  if (rt::WriteWholeFile(path, SignalsCsv(table), &reason)) return true;
  if (error) *error = "could not be written: " + reason;
  return false;
}

}  // namespace wg
