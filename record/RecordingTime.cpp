// The time stamps of a recording's lines: rtl_power's "YYYY-MM-DD" and
// "HH:MM:SS", as seconds since 1970 in UTC, and back.
#include <cstdio>
#include <string>
#include <string_view>

#include "record/RecordingReader.h"

namespace wg {
namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar
// (Howard Hinnant's algorithm), and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t &y, unsigned &m, unsigned &d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool Digits(std::string_view s, size_t at, size_t n, int &v) {
  v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  return true;
}

}  // namespace

bool ParseRecordingTime(std::string_view date, std::string_view time, int64_t &out) {
  int y, mo, d, h, mi, s;
  if (date.size() != 10 || date[4] != '-' || date[7] != '-' || time.size() != 8 || time[2] != ':' || time[5] != ':')
    return false;
  if (!Digits(date, 0, 4, y) || !Digits(date, 5, 2, mo) || !Digits(date, 8, 2, d) || !Digits(time, 0, 2, h) ||
      !Digits(time, 3, 2, mi) || !Digits(time, 6, 2, s))
    return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h > 23 || mi > 59 || s > 60) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return false;
  out = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

std::string RecordingTimeText(int64_t time) {
  int64_t days = time / 86400, secs = time % 86400;
  if (secs < 0) secs += 86400, --days;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                static_cast<long long>(secs % 60));
  return buf;
}

}  // namespace wg
