#include "sim/Scene.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace wg::sim {
namespace {

constexpr double kFmDeviationHz = 75000;
constexpr double kNfmDeviationHz = 5000;
constexpr size_t kMaxSceneBytes = 16u << 20;

std::vector<std::string> Fields(std::string_view line) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

// Scene files are written with a decimal point whatever the locale of the
// program that loads the simulator.
bool ReadNumber(std::string_view s, double& out) {
  if (s.size() > 1 && s.front() == '+' && s[1] != '-') s.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Takes the trailing on=/off= fields off `f` into `e`; false when they do not
// read, with the reason given to `complain`.
template <typename Complain>
bool TakeKeying(std::vector<std::string>& f, Emitter& e, Complain complain) {
  bool on = false, off = false;
  while (!f.empty() && f.back().find('=') != std::string::npos) {
    const std::string field = f.back();
    f.pop_back();
    const size_t eq = field.find('=');
    const std::string key = Lower(field.substr(0, eq));
    double v = 0;
    const bool number = ReadNumber(field.substr(eq + 1), v) && v >= 0 && v <= kMaxKeyingSec;
    if (key == "on" && !on) {
      if (!number || v == 0) {
        complain("on time '" + field.substr(eq + 1) + "' is not a number of seconds (0..1e6, not 0)");
        return false;
      }
      e.onSec = v;
      on = true;
    } else if (key == "off" && !off) {
      if (!number) {
        complain("off time '" + field.substr(eq + 1) + "' is not a number of seconds (0..1e6)");
        return false;
      }
      e.offSec = v;
      off = true;
    } else {
      complain("'" + field + "' is not on=SECONDS or off=SECONDS, once each");
      return false;
    }
  }
  if (on != off) {
    complain("keying needs both on=SECONDS and off=SECONDS");
    return false;
  }
  return true;
}

}  // namespace

bool EmitterOn(const Emitter& e, double seconds) {
  if (!(e.offSec > 0)) return true;
  const double period = e.onSec + e.offSec;
  return std::fmod(std::max(seconds, 0.0), period) < e.onSec;
}

const char* KindName(EmitterKind kind) {
  switch (kind) {
    case EmitterKind::Carrier: return "carrier";
    case EmitterKind::Fm: return "fm";
    case EmitterKind::Nfm: return "nfm";
  }
  return "carrier";
}

std::vector<Emitter> ParseScene(std::string_view text, std::vector<std::string>* problems) {
  std::vector<Emitter> scene;
  auto complain = [&](int lineNo, const std::string& what) {
    if (problems) problems->push_back("line " + std::to_string(lineNo) + ": " + what);
  };
  int lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++lineNo;
    const size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string> f = Fields(line);
    if (f.empty()) continue;
    Emitter e;
    if (!TakeKeying(f, e, [&](const std::string& what) { complain(lineNo, what); })) continue;
    if (f.size() < 2 || f.size() > 4) {
      complain(lineNo, "expected: frequency level [kind [deviation]] [on=SECONDS off=SECONDS]");
      continue;
    }
    if (!ReadNumber(f[0], e.frequencyHz) || e.frequencyHz <= 0 || e.frequencyHz >= 4294967296.0) {
      complain(lineNo, "frequency '" + f[0] + "' is not a frequency in Hz");
      continue;
    }
    if (!ReadNumber(f[1], e.levelDb) || e.levelDb > 100 || e.levelDb < -300) {
      complain(lineNo, "level '" + f[1] + "' is not a level in dB (-300..100)");
      continue;
    }
    const std::string kind = f.size() >= 3 ? Lower(f[2]) : "carrier";
    if (kind == "carrier" || kind == "cw" || kind == "tone") {
      e.kind = EmitterKind::Carrier;
    } else if (kind == "fm" || kind == "wfm") {
      e.kind = EmitterKind::Fm;
      e.deviationHz = kFmDeviationHz;
    } else if (kind == "nfm") {
      e.kind = EmitterKind::Nfm;
      e.deviationHz = kNfmDeviationHz;
    } else {
      complain(lineNo, "unknown kind '" + f[2] + "' (carrier, fm or nfm)");
      continue;
    }
    if (f.size() == 4) {
      double dev = 0;
      if (e.kind == EmitterKind::Carrier || !ReadNumber(f[3], dev) || dev < 0 || dev > 1e6) {
        complain(lineNo, "deviation '" + f[3] + "' does not fit (FM kinds only, 0..1000000 Hz)");
        continue;
      }
      e.deviationHz = dev;
    }
    if (scene.size() >= kMaxEmitters) {
      complain(lineNo, "more than " + std::to_string(kMaxEmitters) + " emitters; the rest is ignored");
      break;
    }
    scene.push_back(e);
  }
  return scene;
}

bool LoadSceneFile(const std::string& path, std::vector<Emitter>& out,
                   std::vector<std::string>& problems, std::string& error) {
  // A directory opens like a file but reads as nothing; it must not pass as
  // an empty scene.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open scene file '" + path + "': " + std::strerror(errno);
    return false;
  }
  auto fail = [&](int err) {
    ::close(fd);
    error = "cannot read scene file '" + path + "': " + std::strerror(err);
    return false;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(errno);
  if (S_ISDIR(st.st_mode)) return fail(EISDIR);
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(errno);
    if (n == 0) break;
    // Far more than kMaxEmitters lines need; a device or a runaway file
    // would otherwise be read for ever.
    if (text.size() + static_cast<size_t>(n) > kMaxSceneBytes) return fail(EFBIG);
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  out = ParseScene(text, &problems);
  return true;
}

const std::vector<Emitter>& DefaultScene() {
  static const std::vector<Emitter> scene = [] {
    constexpr auto C = EmitterKind::Carrier;
    constexpr auto F = EmitterKind::Fm;
    constexpr auto N = EmitterKind::Nfm;
    // Off the centres the viewer tunes to (139.6, 142.8, ... MHz), so that
    // nothing hides in the centre bin.
    std::vector<Emitter> s = {
        // 138-153 MHz: land-mobile carriers, the 2 m amateur band, pagers.
        {138512500, -48, C, 0},
        {140125000, -42, C, 0},
        {141850000, -55, N, kNfmDeviationHz},
        {144800000, -40, N, kNfmDeviationHz},
        {145500000, -36, C, 0},
        {146520000, -50, C, 0},
        {147950000, -44, F, 40000},
        {150775000, -46, N, kNfmDeviationHz},
        {151400000, -38, C, 0},
        {152050000, -58, C, 0},
        // FM broadcast.
        {88600000, -38, F, kFmDeviationHz},
        {91200000, -44, F, kFmDeviationHz},
        {95000000, -33, F, kFmDeviationHz},
        {99700000, -40, F, kFmDeviationHz},
        {102400000, -36, F, kFmDeviationHz},
        {104300000, -47, F, kFmDeviationHz},
        {106800000, -42, F, kFmDeviationHz},
    };
    return s;
  }();
  return scene;
}

}  // namespace wg::sim
