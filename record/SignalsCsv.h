// The signal table as a CSV file: one header line naming the columns, then
// one line per signal in frequency order.
//
//   frequency_hz,peak_db,mean_db,snr_db,bandwidth_hz,occupancy_pct,sweeps_present,sweeps_covered,first_seen,last_seen
//   146520000,-42.17,-44.90,37.61,12500,98.5,197,200,2026-12-07T11:29:26Z,2026-12-07T11:39:10Z
//
// Frequencies and bandwidths in whole Hz, levels in dB with two decimals,
// occupancy in percent with one, always with a '.'; times in UTC (ISO 8601).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "sweep/SignalTable.h"

namespace wg {

extern const char* const kSignalsCsvHeader;

std::string SignalsCsv(const std::vector<TSignal>& table);

// "2026-12-07T11:29:26Z".
std::string UtcTime(std::chrono::system_clock::time_point when);

// Writes the table whole into `path` through a file beside it that is then
// renamed over it, so that a reader of `path` never sees half a table and a
// failure leaves the earlier file as it was. A link is followed and its
// target replaced; a device or a named pipe is written in place (see
// runtime/FileWrite.h). False with "could not be written: " and the reason
// ("No space left on device"); the path is the caller's to say.
bool WriteSignalsCsvFile(const std::string& path, const std::vector<TSignal>& table, std::string* error);

}  // namespace wg
