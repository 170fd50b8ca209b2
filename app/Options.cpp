#include "app/Options.h"

#include "receiver/RtlTcpProtocol.h"
#include "sweep/CroppedPlan.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#ifndef WG_VERSION
#define WG_VERSION "0"
#endif

namespace wg {
namespace {

constexpr const char* kProgram = "wideglass";

// A plain decimal number ("146", "146.5", "1.46e8"); QString::toDouble always
// reads a point as the decimal separator, whatever the locale.
std::optional<double> ParseNumber(const QString& text) {
  bool ok = false;
  const double v = text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

// A number followed by at most one suffix letter from `suffixes`, each with
// its multiplier.
std::optional<double> ParseSuffixed(const QString& text,
                                    std::initializer_list<std::pair<char, double>> suffixes) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return std::nullopt;
  const QChar last = t.back().toLower();
  for (const auto& [letter, factor] : suffixes) {
    if (last == QLatin1Char(letter)) {
      const auto v = ParseNumber(t.chopped(1));
      if (!v) return std::nullopt;
      const double r = *v * factor;
      if (!std::isfinite(r)) return std::nullopt;
      return r;
    }
  }
  return ParseNumber(t);
}

QString Quoted(const QString& s) { return QLatin1Char('\'') + s + QLatin1Char('\''); }

struct Error {
  QString line;
};

std::optional<int64_t> ParsePositiveCount(const QString& text) {
  bool ok = false;
  const qlonglong v = text.trimmed().toLongLong(&ok);
  if (!ok || v < 1) return std::nullopt;
  return v;
}

// A frequency as the options are written: 3.2M, 0.1M, 3999M.
QString Mega(int64_t hz) { return QString::number(static_cast<double>(hz) / 1e6, 'g', 6) + QLatin1Char('M'); }

QString RateList() {
  QStringList l;
  for (uint32_t r : kSampleRates) l << Mega(r);
  return l.join(QStringLiteral(", "));
}

QString PpmLimits() { return QStringLiteral("%1 to %2").arg(kMinPpm).arg(kMaxPpm); }

}  // namespace

bool IsOfferedSampleRate(int64_t rate) {
  return std::find(std::begin(kSampleRates), std::end(kSampleRates), rate) != std::end(kSampleRates);
}

std::optional<int64_t> ParseHz(const QString& text) {
  const auto v = ParseSuffixed(text, {{'k', 1e3}, {'m', 1e6}, {'g', 1e9}});
  // Beyond any tuner by far, and safely inside 64 bits.
  if (!v || std::fabs(*v) > 1e15) return std::nullopt;
  return std::llround(*v);
}

std::optional<std::chrono::milliseconds> ParseDuration(const QString& text) {
  const auto v = ParseSuffixed(text, {{'s', 1.0}, {'m', 60.0}, {'h', 3600.0}});
  // Up to about a century; a longer survey is a typo.
  if (!v || *v <= 0 || *v > 3.2e9) return std::nullopt;
  const auto ms = std::llround(*v * 1000.0);
  if (ms < 1) return std::nullopt;
  return std::chrono::milliseconds(ms);
}

std::optional<GainChoice> ParseGain(const QString& text) {
  if (text.trimmed().compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0) return GainChoice{true, 0};
  const auto v = ParseNumber(text);
  if (!v || *v < kMinGainDb || *v > kMaxGainDb) return std::nullopt;
  return GainChoice{false, static_cast<int>(std::lround(*v * 10.0))};
}

std::optional<uint32_t> FindDevice(const std::string& wanted, const std::vector<std::string>& serials) {
  if (wanted.empty()) return std::nullopt;
  if (std::all_of(wanted.begin(), wanted.end(), [](char c) { return c >= '0' && c <= '9'; }) && wanted.size() <= 9) {
    const unsigned long index = std::stoul(wanted);
    if (index < serials.size()) return static_cast<uint32_t>(index);
  }
  const auto first = [&](auto matches) -> std::optional<uint32_t> {
    for (size_t i = 0; i < serials.size(); ++i)
      if (matches(serials[i])) return static_cast<uint32_t>(i);
    return std::nullopt;
  };
  if (auto i = first([&](const std::string& s) { return s == wanted; })) return i;
  if (auto i = first([&](const std::string& s) { return s.starts_with(wanted); })) return i;
  return first([&](const std::string& s) { return s.ends_with(wanted); });
}

std::optional<std::vector<uint32_t>> FindDevices(const std::string& wanted, const std::vector<std::string>& serials) {
  if (const auto one = FindDevice(wanted, serials)) return std::vector<uint32_t>{*one};
  std::vector<uint32_t> found;
  if (wanted == "all") {
    for (uint32_t i = 0; i < serials.size(); ++i) found.push_back(i);
    return found.empty() ? std::nullopt : std::optional(found);
  }
  size_t from = 0;
  for (;;) {
    const size_t comma = wanted.find(',', from);
    const auto index = FindDevice(wanted.substr(from, comma == std::string::npos ? std::string::npos : comma - from), serials);
    if (!index) return std::nullopt;
    if (std::find(found.begin(), found.end(), *index) == found.end()) found.push_back(*index);
    if (comma == std::string::npos) return found;
    from = comma + 1;
  }
}

namespace {

// One server, however its address is written: a host name without case or
// a final dot ("localhost" as 127.0.0.1), a numeric address by its value.
std::string SameServer(const RtlTcpAddress& a) {
  std::string host = a.host;
  std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (host.size() > 1 && host.back() == '.') host.pop_back();
  if (host == "localhost") host = "127.0.0.1";
  unsigned char value[sizeof(in6_addr)];
  char text[INET6_ADDRSTRLEN] = {};
  if (::inet_pton(AF_INET, host.c_str(), value) == 1 && ::inet_ntop(AF_INET, value, text, sizeof text))
    host = text;
  else if (::inet_pton(AF_INET6, host.c_str(), value) == 1 && ::inet_ntop(AF_INET6, value, text, sizeof text))
    host = text;
  return host + " " + std::to_string(a.port);
}

}  // namespace

std::optional<std::vector<ReceiverChoice>> FindReceivers(const std::string& wanted,
                                                         const std::vector<std::string>& serials) {
  std::vector<ReceiverChoice> found;
  const auto local = [&found](const std::vector<uint32_t>& indices) {
    for (uint32_t i : indices) found.push_back(ReceiverChoice{i, std::nullopt});
  };
  if (wanted.find(kRemoteNamePrefix) == std::string::npos) {
    const auto indices = FindDevices(wanted, serials);
    if (!indices) return std::nullopt;
    local(*indices);
    return found;
  }
  size_t from = 0;
  for (;;) {
    const size_t comma = wanted.find(',', from);
    const std::string item = wanted.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (IsRemoteName(item)) {
      RtlTcpAddress address;
      if (!ParseRemoteName(item, address)) return std::nullopt;
      const bool again = std::any_of(found.begin(), found.end(), [&](const ReceiverChoice& c) {
        return c.remote && SameServer(*c.remote) == SameServer(address);
      });
      if (!again) found.push_back(ReceiverChoice{0, address});
    } else {
      const auto index = FindDevice(item, serials);
      if (!index) return std::nullopt;
      if (std::none_of(found.begin(), found.end(), [&](const ReceiverChoice& c) { return !c.remote && c.index == *index; }))
        local({*index});
    }
    if (comma == std::string::npos) return found;
    from = comma + 1;
  }
}

std::optional<double> ParseCrop(const QString& text) {
  QString t = text.trimmed();
  const bool percent = t.endsWith(QLatin1Char('%'));
  if (percent) t.chop(1);
  bool ok = false;
  double share = t.trimmed().toDouble(&ok);
  if (!ok) return std::nullopt;
  if (percent) share /= 100;
  if (!(share >= 0 && share <= kMostCrop)) return std::nullopt;
  return share;
}

ParseResult ParseOptions(const QStringList& args) {
  QCommandLineParser p;
  p.setApplicationDescription(QStringLiteral(
      "A panoramic spectrum viewer for RTL-SDR receivers. Frequencies take k, M or G suffixes "
      "(e.g. 88M:108M). Given options override the remembered settings for this run."));
  p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  const QCommandLineOption range(QStringList{"f"},
                                 QStringLiteral("Scan range START:STOP in Hz (default %1:%2); with --record, "
                                                "START:STOP:BIN also joins adjacent bins into bins no wider than "
                                                "BIN Hz, each holding their total power.").arg(Mega(kDefaultStartHz), Mega(kDefaultStopHz)),
                                 QStringLiteral("START:STOP[:BIN]"));
  const QCommandLineOption gain(QStringList{"g"},
                                QStringLiteral("Tuner gain in dB, or auto (default: manual mode, no gain set)."),
                                QStringLiteral("GAIN|auto"));
  const QCommandLineOption ppm(QStringList{"p"},
                               QStringLiteral("Frequency correction in ppm, %1 (default %2).").arg(PpmLimits()).arg(kDefaultPpm),
                               QStringLiteral("PPM"));
  const QCommandLineOption rate(QStringList{"s"},
                                QStringLiteral("Sample rate, which is also the step width: ") + RateList() +
                                    QStringLiteral(" (default %1).").arg(Mega(kDefaultSampleRate)),
                                QStringLiteral("RATE"));
  const QCommandLineOption device(QStringList{"d"},
                                  QStringLiteral("Receiver index or serial (default 0); several as 0,1 or all share the range;"
                                                 " rtl_tcp=HOST[:PORT] is a stick served by rtl_tcp."),
                                  QStringLiteral("INDEX|SERIAL"));
  const QCommandLineOption biasTee(QStringList{"T"},
                                   QStringLiteral("Bias-T on: power for an antenna amplifier (LNA) through the "
                                                  "antenna socket, on sticks that have it."));
  const QCommandLineOption direct(QStringList{"D"},
                                  QStringLiteral("Direct sampling: 1 the I branch, 2 the Q branch, 0 off; for HF "
                                                 "below 24 MHz on sticks wired for it."),
                                  QStringLiteral("0|1|2"));
  const QCommandLineOption offset(QStringList{"O"}, QStringLiteral("Offset tuning on (E4000 tuners)."));
  const QCommandLineOption lang(QStringList{"lang"},
                                QStringLiteral("Language of the log: ru or en (default: the one chosen in the window, "
                                               "else the system's: ru for a Russian locale, en for any other)."),
                                QStringLiteral("en|ru"));
  const QCommandLineOption record(QStringList{"record"},
                                  QStringLiteral("Survey without a window: append every sweep to FILE "
                                                 "(- for standard output) as rtl_power's CSV."),
                                  QStringLiteral("FILE|-"));
  const QCommandLineOption sweeps(QStringList{"n"}, QStringLiteral("With --record: stop after SWEEPS sweeps."),
                                  QStringLiteral("SWEEPS"));
  const QCommandLineOption duration(QStringList{"e"},
                                    QStringLiteral("With --record: stop after DURATION (s, m or h suffix)."),
                                    QStringLiteral("DURATION"));
  const QCommandLineOption signalsFile(
      QStringList{"signals"},
      QStringLiteral("With --record: write the signals found (frequency, levels, SNR, bandwidth, occupancy, first "
                     "and last seen) to FILE as CSV, rewritten whole at each -i interval (every second without one) "
                     "and when the survey ends."),
      QStringLiteral("FILE"));
  const QCommandLineOption interval(QStringList{"i"},
                                    QStringLiteral("With --record: integrate the sweeps of every INTERVAL (whole "
                                                   "seconds, s, m or h suffix) into one set of lines."),
                                    QStringLiteral("INTERVAL"));
  const QCommandLineOption peak(QStringList{"P"},
                                QStringLiteral("With --record: the highest power of an interval instead of its mean."));
  const QCommandLineOption mode(QStringList{"mode"}, QStringLiteral("Trace mode: live (default) or average."),
                                QStringLiteral("live|average"));
  const QCommandLineOption fast(QStringList{"fast"},
                                QStringLiteral("Fast sweep: each step waits out the tuning and reads only the "
                                               "samples it uses instead of a whole block."));
  const QCommandLineOption crop(QStringList{"c"},
                                QStringLiteral("Crop step edges, as rtl_power's -c: leave out SHARE of each step "
                                               "(a fraction, e.g. 0.25, or a percentage, e.g. 25%; 0 to %1), half "
                                               "at each edge, where the filter rolls the levels off; the steps "
                                               "advance by what they keep (default 0: every bin).")
                                    .arg(kMostCrop),
                                QStringLiteral("SHARE"));
  const QCommandLineOption dcSpike(QStringList{"dc-spike"},
                                   QStringLiteral("Keep the few bins at each step's centre as the stick delivers "
                                                  "them, with the spike its DC offset leaves there (by default "
                                                  "they take their neighbours' level)."));
  const QCommandLineOption library(QStringList{"receiver-library"},
                                   QStringLiteral("Load the receiver library FILE instead of plugins/librtlsdr.so "
                                                  "beside the program (e.g. the simulated receiver)."),
                                   QStringLiteral("FILE"));
  const QCommandLineOption heatmap(QStringList{"heatmap"},
                                   QStringLiteral("Draw the recording IN (rtl_power's CSV, plain or .gz) as a heat "
                                                  "map into the PNG file named after it, then exit: "
                                                  "--heatmap IN.csv OUT.png."),
                                   QStringLiteral("IN"));
  const QCommandLineOption width(QStringList{"width"},
                                 QStringLiteral("With --heatmap: the picture's width in pixels (default: one "
                                                "column per bin, within limits)."),
                                 QStringLiteral("PIXELS"));
  const QCommandLineOption open(QStringList{"open"},
                                QStringLiteral("Show the recording FILE (rtl_power's CSV, plain or .gz) in the "
                                               "window instead of the live sweep."),
                                QStringLiteral("FILE"));
  const QCommandLineOption help(QStringList{"h", "help"}, QStringLiteral("Show this help and exit."));
  const QCommandLineOption version(QStringList{"version"}, QStringLiteral("Show the version and exit."));
  for (const auto* o : {&range, &gain, &ppm, &rate, &device, &biasTee, &direct, &offset, &lang, &record, &sweeps,
                        &duration, &signalsFile, &interval, &peak, &mode, &fast, &crop, &dcSpike, &library, &heatmap, &width,
                        &open, &help, &version})
    p.addOption(*o);

  ParseResult r;
  const auto fail = [&r](const QString& line) {
    r.action = ParseResult::Action::Error;
    r.text = (QLatin1String(kProgram) + QStringLiteral(": ") + line +
              QStringLiteral(" (see wideglass --help)"))
                 .toStdString();
    // One line, whatever the input held.
    std::replace_if(r.text.begin(), r.text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return r;
  };

  if (!p.parse(args.isEmpty() ? QStringList{QLatin1String(kProgram)} : args)) {
    QString e = p.errorText();
    if (e.endsWith(QLatin1Char('.'))) e.chop(1);
    return fail(e);
  }
  if (p.isSet(help)) {
    r.action = ParseResult::Action::Help;
    r.text = p.helpText().replace(QStringLiteral("<executable_name>"), QLatin1String(kProgram)).toStdString();
    return r;
  }
  if (p.isSet(version)) {
    r.action = ParseResult::Action::Version;
    // Scripts read the first line alone; the licence follows as GNU programs word it.
    r.text = std::string(kProgram) + " " + WG_VERSION +
             "\nCopyright (C) 2026 The Wideglass developers"
             "\nLicense GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>."
             "\nThis is free software: you are free to change and redistribute it."
             "\nThere is NO WARRANTY, to the extent permitted by law.";
    return r;
  }
  QStringList positional = p.positionalArguments();
  Options& o = r.options;
  if (p.isSet(heatmap)) {
    const QString v = p.value(heatmap);
    if (v.isEmpty()) return fail(QStringLiteral("--heatmap: expected the recording to draw"));
    if (positional.isEmpty())
      return fail(QStringLiteral("--heatmap ") + Quoted(v) + QStringLiteral(": expected the PNG file to write after it"));
    o.heatmap = v.toLocal8Bit().toStdString();
    o.heatmapOut = positional.takeFirst().toLocal8Bit().toStdString();
  }
  if (!positional.isEmpty())
    return fail(QStringLiteral("unexpected argument ") + Quoted(positional.first()));
  if (p.isSet(width)) {
    const QString v = p.value(width);
    bool ok = false;
    const int n = v.trimmed().toInt(&ok);
    if (!ok || n < kHeatMapLeast || n > kHeatMapMost)
      return fail(QStringLiteral("--width ") + Quoted(v) + QStringLiteral(": expected a number of pixels from ") +
                  QString::number(kHeatMapLeast) + QStringLiteral(" to ") + QString::number(kHeatMapMost));
    if (!o.heatmap) return fail(QStringLiteral("--width needs --heatmap"));
    o.heatmapWidth = n;
  }

  // As with the rtl-sdr tools, a repeated option takes its last value.
  if (p.isSet(range)) {
    const QString v = p.value(range);
    const QStringList parts = v.split(QLatin1Char(':'));
    if (parts.size() != 2 && parts.size() != 3)
      return fail(QStringLiteral("-f ") + Quoted(v) + QStringLiteral(": expected START:STOP, e.g. 88M:108M, or START:STOP:BIN"));
    if (parts.size() == 3) {
      const auto bin = ParseHz(parts[2]);
      if (!bin || *bin < 1 || *bin > kSampleRates[0])
        return fail(QStringLiteral("-f ") + Quoted(v) + QStringLiteral(": BIN must be a frequency from 1 to ") +
                    Mega(kSampleRates[0]));
      o.binHz = static_cast<double>(*bin);
    }
    const auto start = ParseHz(parts[0]);
    const auto stop = ParseHz(parts[1]);
    if (!start || !stop)
      return fail(QStringLiteral("-f ") + Quoted(v) + QStringLiteral(": START and STOP must be frequencies in Hz, "
                                                                     "with an optional k, M or G suffix"));
    if (*start < kMinStartHz || *start > kMaxStartHz || *stop < kMinStopHz || *stop > kMaxStopHz)
      return fail(QStringLiteral("-f ") + Quoted(v) +
                  QStringLiteral(": START must lie within %1..%2 and STOP within %3..%4")
                      .arg(Mega(kMinStartHz), Mega(kMaxStartHz), Mega(kMinStopHz), Mega(kMaxStopHz)));
    if (*stop <= *start) return fail(QStringLiteral("-f ") + Quoted(v) + QStringLiteral(": STOP must be above START"));
    o.start = *start;
    // Kept at least 1 MHz wide, as the frequency editors keep it.
    o.stop = std::max(*stop, *start + kMinSpanHz);
  }
  if (p.isSet(gain)) {
    const QString v = p.value(gain);
    o.gain = ParseGain(v);
    if (!o.gain) return fail(QStringLiteral("-g ") + Quoted(v) + QStringLiteral(": the gain must be auto or dB, e.g. 49.6"));
  }
  if (p.isSet(ppm)) {
    const QString v = p.value(ppm);
    bool ok = false;
    const int n = v.trimmed().toInt(&ok);
    if (!ok || n < kMinPpm || n > kMaxPpm)
      return fail(QStringLiteral("-p ") + Quoted(v) + QStringLiteral(": the correction must be a whole number of ppm from ") +
                  PpmLimits());
    o.ppm = n;
  }
  if (p.isSet(rate)) {
    const QString v = p.value(rate);
    const auto hz = ParseHz(v);
    if (!hz || !IsOfferedSampleRate(*hz))
      return fail(QStringLiteral("-s ") + Quoted(v) + QStringLiteral(": the sample rate must be one of ") + RateList());
    o.sampleRate = static_cast<uint32_t>(*hz);
  }
  if (p.isSet(device)) {
    const QString v = p.value(device);
    const QByteArray bytes = v.toUtf8();
    if (v.trimmed().isEmpty() || bytes.size() > 255 ||
        std::any_of(v.begin(), v.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
      return fail(QStringLiteral("-d ") + Quoted(v) + QStringLiteral(": expected a receiver index or serial"));
    o.device = bytes.toStdString();
  }
  if (p.isSet(lang)) {
    const QString v = p.value(lang);
    if (v == QLatin1String("ru")) o.language = Language::Russian;
    else if (v == QLatin1String("en")) o.language = Language::English;
    else return fail(QStringLiteral("--lang ") + Quoted(v) + QStringLiteral(": expected en or ru"));
  }
  o.fast = p.isSet(fast);
  o.dcSpike = p.isSet(dcSpike);
  if (p.isSet(crop)) {
    const QString v = p.value(crop);
    o.crop = ParseCrop(v);
    if (!o.crop)
      return fail(QStringLiteral("-c ") + Quoted(v) +
                  QStringLiteral(": expected the share of each step to leave out, from 0 to %1, e.g. 0.25 or 25%")
                      .arg(kMostCrop));
  }
  o.biasTee = p.isSet(biasTee);
  o.offsetTuning = p.isSet(offset);
  if (p.isSet(direct)) {
    const QString v = p.value(direct).trimmed();
    if (v != QLatin1String("0") && v != QLatin1String("1") && v != QLatin1String("2"))
      return fail(QStringLiteral("-D ") + Quoted(p.value(direct)) +
                  QStringLiteral(": expected 1 (the I branch), 2 (the Q branch) or 0 (off)"));
    o.directSampling = v.toInt();
  }
  if (p.isSet(mode)) {
    const QString v = p.value(mode);
    const auto m = TraceModeFromKey(v.toStdString());
    // Peak hold is drawn by the window alone; the command line chooses what is computed.
    if (m && *m != TraceMode::PeakHold) o.mode = *m;
    else return fail(QStringLiteral("--mode ") + Quoted(v) + QStringLiteral(": expected live or average"));
  }
  if (p.isSet(record)) {
    const QString v = p.value(record);
    if (v.isEmpty()) return fail(QStringLiteral("--record: expected a file name or -"));
    // Made absolute now: loading the receiver library may change the
    // working directory later.
    o.record = (v == QLatin1String("-") ? v : QFileInfo(v).absoluteFilePath()).toLocal8Bit().toStdString();
  }
  if (p.isSet(sweeps)) {
    const QString v = p.value(sweeps);
    o.sweeps = ParsePositiveCount(v);
    if (!o.sweeps) return fail(QStringLiteral("-n ") + Quoted(v) + QStringLiteral(": expected a number of sweeps, 1 or more"));
  }
  if (p.isSet(duration)) {
    const QString v = p.value(duration);
    o.duration = ParseDuration(v);
    if (!o.duration)
      return fail(QStringLiteral("-e ") + Quoted(v) + QStringLiteral(": expected a duration above zero, e.g. 30s, 15m or 2h"));
  }
  if (p.isSet(interval)) {
    const QString v = p.value(interval);
    const auto d = ParseDuration(v);
    if (!d || d->count() % 1000 != 0)
      return fail(QStringLiteral("-i ") + Quoted(v) + QStringLiteral(": expected whole seconds above zero, e.g. 10s, 1m or 1h"));
    o.intervalSeconds = d->count() / 1000;
  }
  o.peakHold = p.isSet(peak);
  if (p.isSet(open)) {
    const QString v = p.value(open);
    if (v.isEmpty()) return fail(QStringLiteral("--open: expected a recording"));
    o.open = v.toLocal8Bit().toStdString();
  }
  if (p.isSet(library)) {
    const QString v = p.value(library);
    const QFileInfo file(v);
    // A library asked for by name must be there, as a receiver asked for by
    // -d must; one that is there but will not load is said in the log.
    if (v.isEmpty() || !file.exists() || file.isDir())
      return fail(QStringLiteral("--receiver-library ") + Quoted(v) + QStringLiteral(": no such file"));
    o.receiverLibrary = file.absoluteFilePath().toLocal8Bit().toStdString();
  }
  if (p.isSet(signalsFile)) {
    const QString v = p.value(signalsFile);
    if (v.isEmpty()) return fail(QStringLiteral("--signals: expected a file name"));
    o.signalsFile = QFileInfo(v).absoluteFilePath().toLocal8Bit().toStdString();
    if (!o.record) return fail(QStringLiteral("--signals writes what a survey found and needs --record"));
  }
  if ((o.sweeps || o.duration) && !o.record)
    return fail(QStringLiteral("-n and -e end a survey and need --record"));
  if ((o.binHz || o.intervalSeconds || o.peakHold) && !o.record)
    return fail(QStringLiteral("-f START:STOP:BIN, -i and -P shape a survey's lines and need --record"));
  if (o.sweeps && o.duration) return fail(QStringLiteral("-n and -e exclude each other"));
  if (o.open && (o.record || o.heatmap)) return fail(QStringLiteral("--open is for the window: not with --record or --heatmap"));
  if (o.heatmap && o.record) return fail(QStringLiteral("--heatmap and --record exclude each other"));
  return r;
}

ParseResult ParseOptions(int argc, const char* const* argv) {
  QStringList args;
  for (int i = 0; i < argc && argv && argv[i]; ++i) args << QString::fromLocal8Bit(argv[i]);
  return ParseOptions(args);
}

}  // namespace wg
