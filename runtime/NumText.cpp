#include "runtime/NumText.h"

#include <atomic>
#include <cfenv>
#include <charconv>
#include <climits>
#include <cmath>
#include <langinfo.h>
#include <locale.h>
#include <mutex>

namespace rt {
namespace {

std::atomic<char> g_decimal{'.'};
std::mutex g_thousandMutex;
std::string g_thousand;
bool g_thousandLoaded = false;

std::string LocaleThousand() {
  std::string sep;
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* s = nl_langinfo_l(THOUSEP, loc);
    if (s) sep = s;
    freelocale(loc);
  }
  return sep;
}

std::string EffectiveThousand(std::string sep) {
  const char dec = g_decimal.load();
  if (sep.empty()) sep.assign(1, ',');
  if (sep.size() == 1 && sep[0] == dec) sep.assign(1, dec == ',' ? '.' : ',');
  return sep;
}

// Decimal digits of |v| rounded to `sig` significant digits, and the decimal
// exponent of the first digit: |v| ~= 0.d1d2d3... * 10^(exp10 + 1).
struct Decimal {
  std::string digits;  // no leading zeros; empty for zero
  int exp10 = 0;       // exponent of the first digit
};

Decimal ToDecimal(double v, int sig) {
  Decimal d;
  v = std::fabs(v);
  if (v == 0.0) return d;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, sig - 1);
  std::string s(buf, r.ptr);
  const auto e = s.find('e');
  for (size_t i = 0; i < e; ++i)
    if (s[i] != '.') d.digits.push_back(s[i]);
  d.exp10 = std::stoi(s.substr(e + 1));
  return d;
}

// Rounds the decimal to `decimals` digits after the point, halves away from
// zero. Returns the digits of the integer part and of the fraction.
void RoundDecimal(const Decimal& d, int decimals, std::string& intPart, std::string& fracPart) {
  // Lay the digits out at fixed positions: index 0 is 10^(exp10).
  std::string all;
  int firstPow = d.exp10;  // power of all[0]
  if (d.digits.empty()) {
    all = "0";
    firstPow = 0;
  } else if (firstPow < 0) {
    all.assign(static_cast<size_t>(-firstPow), '0');
    all += d.digits;
    firstPow = 0;
  } else {
    all = d.digits;
  }
  // Number of digits up to and including 10^-decimals.
  const long keep = static_cast<long>(firstPow) + 1 + decimals;
  while (static_cast<long>(all.size()) < keep) all.push_back('0');
  bool roundUp = static_cast<long>(all.size()) > keep && all[static_cast<size_t>(keep)] >= '5';
  all.resize(static_cast<size_t>(keep));
  if (roundUp) {
    long i = keep - 1;
    for (; i >= 0; --i) {
      if (all[static_cast<size_t>(i)] == '9') {
        all[static_cast<size_t>(i)] = '0';
      } else {
        ++all[static_cast<size_t>(i)];
        break;
      }
    }
    if (i < 0) {
      all.insert(all.begin(), '1');
      ++firstPow;
    }
  }
  intPart = all.substr(0, static_cast<size_t>(firstPow) + 1);
  fracPart = all.substr(static_cast<size_t>(firstPow) + 1);
  size_t nz = intPart.find_first_not_of('0');
  intPart = (nz == std::string::npos) ? std::string() : intPart.substr(nz);
}

}  // namespace

char DecimalSeparator() { return g_decimal.load(); }

void SetDecimalSeparator(char c) {
  g_decimal.store(c);
  std::lock_guard<std::mutex> lock(g_thousandMutex);
  if (g_thousandLoaded) g_thousand = EffectiveThousand(g_thousand);
}

std::string ThousandSeparator() {
  std::lock_guard<std::mutex> lock(g_thousandMutex);
  if (!g_thousandLoaded) {
    g_thousand = EffectiveThousand(LocaleThousand());
    g_thousandLoaded = true;
  }
  return g_thousand;
}

void ReloadThousandSeparator() {
  std::lock_guard<std::mutex> lock(g_thousandMutex);
  g_thousand = EffectiveThousand(LocaleThousand());
  g_thousandLoaded = true;
}

void SetThousandSeparator(std::string sep) {
  std::lock_guard<std::mutex> lock(g_thousandMutex);
  g_thousand = EffectiveThousand(std::move(sep));
  g_thousandLoaded = true;
}

std::string FloatToStr(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  if (v == 0.0) return "0";
  Decimal d = ToDecimal(v, 15);
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  std::string out;
  if (v < 0) out.push_back('-');
  const char sep = g_decimal.load();
  const int e = d.exp10;
  const int n = static_cast<int>(d.digits.size());
  if (e >= 15 || e < -4) {
    out += d.digits[0];
    if (n > 1) {
      out += sep;
      out.append(d.digits, 1, std::string::npos);
    }
    out += 'E';
    out += std::to_string(e);
  } else if (e < 0) {
    out += '0';
    out += sep;
    out.append(static_cast<size_t>(-e - 1), '0');
    out += d.digits;
  } else {
    if (n <= e + 1) {
      out += d.digits;
      out.append(static_cast<size_t>(e + 1 - n), '0');
    } else {
      out.append(d.digits, 0, static_cast<size_t>(e + 1));
      out += sep;
      out.append(d.digits, static_cast<size_t>(e + 1), std::string::npos);
    }
  }
  return out;
}

bool TryStrToFloat(std::string_view text, double& out) {
  const char sep = g_decimal.load();
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  std::string norm;
  size_t i = b;
  bool neg = false;
  if (i < e && (text[i] == '+' || text[i] == '-')) {
    neg = text[i] == '-';
    ++i;
  }
  int mantDigits = 0;
  while (i < e && text[i] >= '0' && text[i] <= '9') {
    norm += text[i++];
    ++mantDigits;
  }
  if (i < e && text[i] == sep) {
    norm += '.';
    ++i;
    while (i < e && text[i] >= '0' && text[i] <= '9') {
      norm += text[i++];
      ++mantDigits;
    }
  }
  if (mantDigits == 0) return false;
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    norm += 'e';
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) norm += text[i++];
    int expDigits = 0;
    while (i < e && text[i] >= '0' && text[i] <= '9') {
      norm += text[i++];
      ++expDigits;
    }
    if (expDigits == 0) return false;
  }
  if (i != e) return false;
  double v = 0;
  auto r = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (r.ec == std::errc::invalid_argument || r.ptr != norm.data() + norm.size()) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow reads as infinity, underflow as zero, like a runtime conversion
    // that saturates; neither is a parse failure.
    v = (norm.find("e-") != std::string::npos) ? 0.0 : HUGE_VAL;
  }
  out = neg ? -v : v;
  return true;
}

std::string FormatFloat(std::string_view format, double v) {
  // Only the first section of a format counts here; the program uses one.
  const size_t semi = format.find(';');
  if (semi != std::string_view::npos) format = format.substr(0, semi);
  const size_t point = format.find('.');
  const std::string_view intFmt = format.substr(0, point);
  const std::string_view fracFmt =
      point == std::string_view::npos ? std::string_view() : format.substr(point + 1);
  bool grouping = false;
  int minInt = 0;
  for (char c : intFmt) {
    if (c == ',') grouping = true;
    if (c == '0') ++minInt;
  }
  int minFrac = 0, maxFrac = 0;
  for (char c : fracFmt) {
    if (c == '0') {
      ++maxFrac;
      minFrac = maxFrac;
    } else if (c == '#') {
      ++maxFrac;
    }
  }
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";

  std::string intPart, fracPart;
  RoundDecimal(ToDecimal(v, 18), maxFrac, intPart, fracPart);
  while (static_cast<int>(fracPart.size()) > minFrac && !fracPart.empty() && fracPart.back() == '0')
    fracPart.pop_back();
  while (static_cast<int>(intPart.size()) < minInt) intPart.insert(intPart.begin(), '0');

  std::string grouped;
  if (grouping && intPart.size() > 3) {
    const std::string ts = ThousandSeparator();
    const size_t n = intPart.size();
    for (size_t k = 0; k < n; ++k) {
      if (k > 0 && (n - k) % 3 == 0) grouped += ts;
      grouped += intPart[k];
    }
  } else {
    grouped = intPart;
  }
  const bool isZero = intPart.find_first_not_of('0') == std::string::npos &&
                      fracPart.find_first_not_of('0') == std::string::npos;
  std::string out;
  if (v < 0 && !isZero) out += '-';
  out += grouped;
  if (!fracPart.empty()) {
    out += g_decimal.load();
    out += fracPart;
  }
  if (out.empty() || out == "-") out += '0';
  return out;
}

std::string FormatInt(long long v) { return std::to_string(v); }

std::string FormatFixed(double v, int decimals) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  std::string intPart, fracPart;
  RoundDecimal(ToDecimal(v, 18), decimals, intPart, fracPart);
  if (intPart.empty()) intPart.assign(1, '0');
  const bool isZero = intPart == "0" && fracPart.find_first_not_of('0') == std::string::npos;
  std::string out;
  if (v < 0 && !isZero) out.push_back('-');
  out += intPart;
  if (decimals > 0) {
    out += '.';
    out += fracPart;
  }
  return out;
}

long long RoundHalfEven(long double x) {
  // nearbyintl honours the current rounding mode, which is to-nearest-even
  // unless somebody changed it; say so explicitly.
  const int old = std::fegetround();
  if (old != FE_TONEAREST) std::fesetround(FE_TONEAREST);
  const long double r = std::nearbyintl(x);
  if (old != FE_TONEAREST) std::fesetround(old);
  return static_cast<long long>(r);
}

long long Trunc(long double x) { return static_cast<long long>(x); }

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const long long p = static_cast<long long>(a) * b;
  long long q = p / c;
  const long long r = p % c;
  // Halves away from zero: compare twice the remainder with the divisor.
  if (r != 0) {
    const unsigned long long r2 = 2ULL * static_cast<unsigned long long>(r < 0 ? -r : r);
    const unsigned long long cAbs = static_cast<unsigned long long>(c < 0 ? -static_cast<long long>(c) : c);
    if (r2 >= cAbs) q += ((p < 0) != (c < 0)) ? -1 : 1;
  }
  if (q > INT_MAX || q < INT_MIN) return -1;
  return static_cast<int>(q);
}

}  // namespace rt
