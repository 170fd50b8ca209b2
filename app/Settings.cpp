#include "app/Settings.h"
#include "app/SettingsKeys.h"

#include "receiver/RtlTcpProtocol.h"
#include "runtime/FileWrite.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <utility>

namespace wg {

using namespace settings_keys;

namespace {

constexpr const char* kNotSaved = QT_TRANSLATE_NOOP("Settings", "не удалось сохранить в %1");

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

// A stored value as one line of text, whatever type the file gave it.
QString Shown(const QVariant& v) {
  QString s = v.typeId() == QMetaType::QStringList ? v.toStringList().join(QStringLiteral(", ")) : v.toString();
  s.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
  if (s.size() > 60) s = s.left(60) + QStringLiteral("…");
  return s;
}

std::optional<int64_t> ReadInteger(const QVariant& v) {
  bool ok = false;
  const qlonglong n = v.toString().trimmed().toLongLong(&ok);
  if (!ok) return std::nullopt;
  return n;
}

std::optional<bool> ReadBool(const QVariant& v) {
  const QString s = v.toString().trimmed().toLower();
  if (s == QLatin1String("true") || s == QLatin1String("1")) return true;
  if (s == QLatin1String("false") || s == QLatin1String("0")) return false;
  return std::nullopt;
}

QString Tr(const char* text) { return QCoreApplication::translate("Settings", text); }

// The arguments go in as they are, in one pass: a '%' in a value read from
// the file stays text.
QString Fill(const QString& pattern, const QStringList& args) {
  QString out;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const qsizetype n = i + 1 < pattern.size() ? pattern[i + 1].digitValue() : -1;
    if (pattern[i] == QLatin1Char('%') && n >= 1 && n <= args.size()) {
      out += args[n - 1];
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

// The line of a write that failed, with the reason where known.
QString NotSavedText(const QString& path, const std::string& reason) {
  QString line = Fill(Tr(kNotSaved), {path});
  if (!reason.empty()) line += QStringLiteral(": ") + QString::fromLocal8Bit(reason);
  return line;
}

// Why the settings file could not be written, as far as can be seen without
// writing: the path leads nowhere, or its folder takes no new file. Empty
// when nothing stands in the way (a full disk, found out only by writing).
std::string WhyNotWritten(const QString& file) {
  rt::WriteTarget target;
  if (!rt::FindWriteTarget(QFile::encodeName(file).toStdString(), target)) return std::strerror(errno);
  const std::string folder = QFile::encodeName(QFileInfo(QFile::decodeName(target.path.c_str())).path()).toStdString();
  if (::access(folder.c_str(), W_OK) != 0) return std::strerror(errno);
  return {};
}

}  // namespace

TSettings::TSettings() = default;

TSettings::TSettings(const QString& file) : path_(QFileInfo(file).absoluteFilePath()) {
  // A settings file linked to /dev/null (to keep nothing) or a pipe must not
  // become a plain file, as it would by the rename of a whole-file write; nor
  // has it settings to read (a pipe would keep the reading waiting).
  rt::WriteTarget target;
  if (rt::FindWriteTarget(QFile::encodeName(file).toStdString(), target) &&
      target.kind != rt::WriteTarget::Kind::Missing && target.kind != rt::WriteTarget::Kind::Regular &&
      target.kind != rt::WriteTarget::Kind::Folder) {
    shadow_ = std::make_unique<QTemporaryDir>();
    if (shadow_->isValid())
      file_ = std::make_unique<QSettings>(shadow_->filePath(QStringLiteral("wideglass.ini")), QSettings::IniFormat);
  }
  if (!file_) file_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
  // A crash or a full disk mid-write must leave the previous file whole.
  file_->setAtomicSyncRequired(true);
  Load();
}

TSettings::~TSettings() {
  if (!file_ || !written_ || writeFailed_) return;
  // The window's last changes (its place, the markers) are written here,
  // after its log has gone.
  file_->sync();
  std::string reason;
  if (file_->status() == QSettings::AccessError)
    reason = WhyNotWritten(path_);
  else if (CopyInPlace(reason))
    return;
  const std::string line = Utf8(Tr(QT_TRANSLATE_NOOP("Settings", "Настройки: ")) + NotSavedText(path_, reason));
  if (sink_)
    sink_(line);
  else
    std::fprintf(stderr, "wideglass: %s\n", line.c_str());
}

QString TSettings::DefaultFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/wideglass/wideglass.ini");
}

QString TSettings::File() const { return file_ ? path_ : QString(); }

std::vector<std::string> TSettings::TakeMessages() {
  std::vector<std::string> lines;
  for (const auto& m : std::exchange(messages_, {}))
    lines.push_back(Utf8(Tr(QT_TRANSLATE_NOOP("Settings", "Настройки: ")) + m()));
  return lines;
}

void TSettings::SetMessageSink(std::function<void(const std::string&)> sink) {
  sink_ = std::move(sink);
  if (sink_)
    for (const std::string& line : TakeMessages()) sink_(line);
}

void TSettings::Note(const char* text, const QStringList& args) {
  Say([text, args] { return Fill(Tr(text), args); });
}

void TSettings::Say(std::function<QString()> line) {
  if (sink_)
    sink_(Utf8(Tr(QT_TRANSLATE_NOOP("Settings", "Настройки: ")) + line()));
  else
    messages_.push_back(std::move(line));
}

QString TSettings::GainText(const std::optional<GainChoice>& g) {
  if (!g) return QString();
  if (g->automatic) return QStringLiteral("auto");
  return QString::number(g->tenthsDb / 10.0, 'f', 1);
}

QString TSettings::TraceViewText(TraceMode t) { return QString::fromLatin1(TraceModeKey(t)); }

void TSettings::Load() {
  switch (file_->status()) {
    case QSettings::AccessError:
      Note(QT_TRANSLATE_NOOP("Settings", "файл %1 не читается, взяты значения по умолчанию"), {path_});
      return;
    case QSettings::FormatError:
      Note(QT_TRANSLATE_NOOP("Settings", "файл %1 повреждён, негодные значения заменены значениями по умолчанию"),
           {path_});
      break;
    case QSettings::NoError: break;
  }
  const SettingsValues defaults;
  // Reads one key: absent keeps the default silently; present but not
  // accepted by `read` keeps the default and says so.
  const auto take = [&](const char* key, const QString& fallback, auto read) {
    if (!file_->contains(QLatin1String(key))) return;
    const QVariant raw = file_->value(QLatin1String(key));
    if (read(raw)) return;
    // A fallback in words is worded when the line is taken; a number stays as it is.
    const QString shown = Shown(raw), name = QLatin1String(key);
    messages_.push_back([name, shown, fallback] {
      const QString taken = fallback.isEmpty() ? Tr(QT_TRANSLATE_NOOP("Settings", "значение по умолчанию"))
                                               : Tr(fallback.toUtf8().constData());
      return Fill(Tr(QT_TRANSLATE_NOOP("Settings", "неверное значение %1 = \"%2\", взято %3")), {name, shown, taken});
    });
  };

  const auto takeBool = [&](const char* key, bool& to) {
    take(key, QStringLiteral("false"), [&](const QVariant& raw) {
      const auto b = ReadBool(raw);
      if (b) to = *b;
      return b.has_value();
    });
  };

  // The range is one value: both ends or neither, as the editors keep them.
  if (file_->contains(QLatin1String(kScanStart)) || file_->contains(QLatin1String(kScanStop))) {
    const auto start = ReadInteger(file_->value(QLatin1String(kScanStart)));
    const auto stop = ReadInteger(file_->value(QLatin1String(kScanStop)));
    if (start && stop && *start >= kMinStartHz && *start <= kMaxStartHz && *stop >= kMinStopHz &&
        *stop <= kMaxStopHz && *stop - *start >= kMinSpanHz) {
      v_.range = {*start, *stop};
    } else {
      Note(QT_TRANSLATE_NOOP("Settings", "неверный диапазон %1 .. %2 Hz, взят %3 .. %4 Hz"),
           {Shown(file_->value(QLatin1String(kScanStart))), Shown(file_->value(QLatin1String(kScanStop))),
            QString::number(defaults.range.start), QString::number(defaults.range.stop)});
    }
  }
  take(kGain, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "усиление по умолчанию")), [&](const QVariant& raw) {
    v_.gain = ParseGain(raw.toString());
    return v_.gain.has_value();
  });
  take(kPpm, QString::number(defaults.ppm), [&](const QVariant& raw) {
    const auto n = ReadInteger(raw);
    if (!n || *n < kMinPpm || *n > kMaxPpm) return false;
    v_.ppm = static_cast<int>(*n);
    return true;
  });
  take(kRate, QString::number(defaults.sampleRate), [&](const QVariant& raw) {
    const auto n = ReadInteger(raw);
    if (!n || !IsOfferedSampleRate(*n)) return false;
    v_.sampleRate = static_cast<uint32_t>(*n);
    return true;
  });
  take(kSerial, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "приёмник 0")), [&](const QVariant& raw) {
    const QString s = raw.toString();
    if (raw.typeId() == QMetaType::QStringList || s.toUtf8().size() > 255) return false;
    v_.serial = s.toUtf8().toStdString();
    return true;
  });
  take(kTraceMode, TraceViewText(defaults.traceView), [&](const QVariant& raw) {
    const auto t = TraceModeFromKey(raw.toString().toStdString());
    if (t) v_.traceView = *t;
    return t.has_value();
  });
  takeBool(kPeakMarker, v_.peakMarker);
  take(kMarkers, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "без маркеров")), [&](const QVariant& raw) {
    std::vector<double> hz;
    for (const QString& s : raw.toStringList()) {
      if (s.trimmed().isEmpty()) continue;
      bool ok = false;
      const double f = s.trimmed().toDouble(&ok);
      if (!ok || !std::isfinite(f) || f < 0 || f > static_cast<double>(kMaxStopHz)) return false;
      hz.push_back(f);
    }
    if (hz.size() > kMaxMarkers) return false;
    v_.markers = std::move(hz);
    return true;
  });
  take(kGeometry, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "положение по умолчанию")), [&](const QVariant& raw) {
    if (raw.typeId() != QMetaType::QByteArray) return false;
    v_.geometry = raw.toByteArray();
    return true;
  });
  takeBool(kWaterfallShown, v_.waterfallShown);
  take(kWaterfallShare, QString::number(defaults.waterfallShare), [&](const QVariant& raw) {
    bool ok = false;
    const double d = raw.toString().trimmed().toDouble(&ok);
    if (!ok || !(d >= kMinWaterfallShare && d <= kMaxWaterfallShare)) return false;
    v_.waterfallShare = d;
    return true;
  });
  take(kRecordBin, QStringLiteral("0"), [&](const QVariant& raw) {
    bool ok = false;
    const double d = raw.toString().trimmed().toDouble(&ok);
    if (!ok || !(d >= 0 && d <= kMostRecordBinHz)) return false;
    v_.recordBinHz = d;
    return true;
  });
  take(kRecordInterval, QStringLiteral("0"), [&](const QVariant& raw) {
    const auto n = ReadInteger(raw);
    if (!n || *n < 0 || *n > kMostRecordIntervalSeconds) return false;
    v_.recordIntervalSeconds = *n;
    return true;
  });
  takeBool(kRecordPeak, v_.recordPeakHold);
  take(kCrop, QStringLiteral("0"), [&](const QVariant& raw) {
    const auto share = ParseCrop(raw.toString());
    if (share) v_.crop = *share;
    return share.has_value();
  });
  takeBool(kDcSpike, v_.dcSpike);
  take(kLanguage, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "язык системы")), [&](const QVariant& raw) {
    const QString s = raw.toString();
    if (s != QLatin1String("ru") && s != QLatin1String("en")) return false;
    v_.language = s == QLatin1String("en") ? Language::English : Language::Russian;
    return true;
  });
  take(kWaterfallColours, ColoursText(defaults.waterfallColours), [&](const QVariant& raw) {
    const auto c = ParseColours(raw.toString());
    if (c) v_.waterfallColours = *c;
    return c.has_value();
  });
  takeBool(kStrip, v_.receiverStrip);
  take(kGqrx, QString::fromStdString(defaults.gqrxAddress), [&](const QVariant& raw) {
    const QString s = raw.toString().trimmed();
    const qsizetype colon = s.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = colon > 0 ? s.mid(colon + 1).toInt(&ok) : 0;
    if (!ok || port < 1 || port > 65535 || s.size() > 255) return false;
    v_.gqrxAddress = s.toStdString();
    return true;
  });
  // Corrections found by calibrating, as an earlier version kept them; a
  // receiver's own group wins.
  std::map<std::string, int> calibration;
  take(kCalibration, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "без поправок")), [&](const QVariant& raw) {
    std::map<std::string, int> found;
    for (const QString& item : raw.toStringList()) {
      const qsizetype eq = item.lastIndexOf(QLatin1Char('='));
      const auto ppm = eq > 0 ? ReadInteger(item.mid(eq + 1)) : std::nullopt;
      if (!ppm || *ppm < kMinPpm || *ppm > kMaxPpm || found.size() >= 64) return false;
      found[item.left(eq).toStdString()] = static_cast<int>(*ppm);
    }
    calibration = std::move(found);
    return true;
  });
  for (const auto& [serial, ppm] : calibration) v_.receivers[serial].ppm = ppm;
  const auto bad = [this](const QString& name, const QVariant& raw) {
    const QString shown = Shown(raw);
    messages_.push_back([name, shown] {
      return Fill(Tr(QT_TRANSLATE_NOOP("Settings", "неверное значение %1 = \"%2\", взято %3")),
                  {name, shown, Tr(QT_TRANSLATE_NOOP("Settings", "значение по умолчанию"))});
    });
  };
  for (auto& [key, own] : ReadReceivers(*file_, bad, receiverKeys_)) {
    ReceiverOwn& kept = v_.receivers[key];
    const std::optional<int> calibrated = kept.ppm;
    kept = own;
    if (!kept.ppm) kept.ppm = calibrated;
  }
  take(kRemotes, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "без приёмников по сети")), [&](const QVariant& raw) {
    std::vector<std::string> found;
    for (const QString& item : raw.toStringList()) {
      RtlTcpAddress address;
      if (item.trimmed().isEmpty()) continue;
      if (!RtlTcpAddress::Parse(item.trimmed().toStdString(), address) || found.size() >= kMostRemotes) return false;
      if (std::find(found.begin(), found.end(), address.Text()) == found.end()) found.push_back(address.Text());
    }
    v_.remotes = std::move(found);
    return true;
  });
  take(kShared, QString::fromUtf8(QT_TRANSLATE_NOOP("Settings", "один приёмник")), [&](const QVariant& raw) {
    auto found = ReadSharedReceivers(raw.toStringList());
    if (found) v_.shared = std::move(*found);
    return found.has_value();
  });
}

QString TSettings::ColoursText(const ColourSpan& c) {
  switch (c.kind) {
    case ColourSpan::Kind::Automatic: return QStringLiteral("auto");
    case ColourSpan::Kind::LevelAxis: return QStringLiteral("axis");
    case ColourSpan::Kind::Fixed: break;
  }
  return QString::number(c.low, 'g', 6) + QLatin1Char(' ') + QString::number(c.high, 'g', 6);
}

std::optional<ColourSpan> TSettings::ParseColours(const QString& text) {
  const QString t = text.trimmed();
  if (t == QLatin1String("auto")) return ColourSpan{};
  if (t == QLatin1String("axis")) return ColourSpan{ColourSpan::Kind::LevelAxis};
  const QStringList ends = t.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (ends.size() != 2) return std::nullopt;
  bool ok1 = false, ok2 = false;
  const double lo = ends[0].toDouble(&ok1), hi = ends[1].toDouble(&ok2);
  if (!ok1 || !ok2 || !(lo >= -200 && hi <= 100 && lo < hi)) return std::nullopt;
  return ColourSpan{ColourSpan::Kind::Fixed, lo, hi};
}

// The file is written on the event loop's next turn after a change, so a
// burst of changes (typing a frequency) costs one write, and checked right
// then: a failure is said while the user is still there to read it.
void TSettings::Write(const char* key, const QVariant& value) { Write(QLatin1String(key), value); }

void TSettings::Write(const QString& key, const QVariant& value) {
  if (!file_) return;
  CheckWritten();
  DropUnknownKeys();
  file_->setValue(key, value);
  written_ = true;
  if (std::exchange(syncQueued_, true)) return;
  QTimer::singleShot(0, file_.get(), [this] {
    syncQueued_ = false;
    Sync();
  });
}

// QSettings writes back every key it read, so junk from a damaged file
// (megabytes of it) would be carried forward on every change. Dropping it key
// by key would parse all of it, which takes seconds (and so would finding out
// whether there is any): the known keys, with what they hold (even a value
// that fell back), go into a new file that replaces the old one instead.
void TSettings::DropUnknownKeys() {
  if (std::exchange(unknownDropped_, true)) return;
  // A link is followed: the file it leads to is replaced, as QSettings does.
  const QFileInfo old(file_->fileName());
  const QString path = old.canonicalFilePath();
  if (path.isEmpty() || !old.isFile()) return;
  // Beside the file, so that the rename is atomic.
  QTemporaryFile fresh(path + QStringLiteral(".XXXXXX"));
  if (!fresh.open()) return;  // the write that follows fails too, and says so
  fresh.setPermissions(old.permissions());
  fresh.close();
  {
    QSettings known(fresh.fileName(), QSettings::IniFormat);
    for (const char* key : kKnownKeys)
      if (file_->contains(QLatin1String(key))) known.setValue(QLatin1String(key), file_->value(QLatin1String(key)));
    for (const QString& key : receiverKeys_)
      if (file_->contains(key)) known.setValue(key, file_->value(key));
    known.sync();
    if (known.status() != QSettings::NoError) return;
  }
  if (std::rename(QFile::encodeName(fresh.fileName()).constData(), QFile::encodeName(path).constData()) != 0) return;
  fresh.setAutoRemove(false);
  file_ = std::make_unique<QSettings>(old.filePath(), QSettings::IniFormat);
  file_->setAtomicSyncRequired(true);
}

void TSettings::Sync() {
  if (!file_) return;
  file_->sync();
  CheckWritten();
  std::string reason;
  if (!writeFailed_ && !CopyInPlace(reason)) {
    writeFailed_ = true;
    Say([path = path_, reason] { return NotSavedText(path, reason); });
  }
}

// The run's own file, whole, to the device or pipe at the path.
bool TSettings::CopyInPlace(std::string& reason) {
  if (!shadow_) return true;
  QFile own(file_->fileName());
  if (!own.open(QIODevice::ReadOnly)) return true;  // nothing written yet
  const QByteArray text = own.readAll();
  return rt::WriteWholeFile(QFile::encodeName(path_).toStdString(),
                            std::string_view(text.constData(), static_cast<size_t>(text.size())), &reason);
}

void TSettings::CheckWritten() {
  // Said once: a folder that cannot be written stays so for the run.
  if (file_->status() == QSettings::AccessError && !writeFailed_) {
    writeFailed_ = true;
    Say([path = path_, reason = WhyNotWritten(path_)] { return NotSavedText(path, reason); });
  }
}

}  // namespace wg
