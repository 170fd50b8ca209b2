#include "app/ReceiverStore.h"

#include "receiver/RtlTcpProtocol.h"
#include "sweep/ScanLimits.h"

#include <QSettings>

#include <algorithm>

namespace wg {
namespace {

constexpr const char* kGroup = "receivers";
constexpr const char* kGain = "gain";
constexpr const char* kPpm = "ppm";
constexpr const char* kBiasTee = "biastee";
constexpr const char* kDirect = "directsampling";
constexpr const char* kOffset = "offsettuning";

// QSettings takes '/' and '\' in a name for its group separators: a serial
// holding either would land in another group. They and '%' are written as
// %XX, which the file keeps readable for the rest.
QString GroupName(const std::string& receiver) {
  QString out;
  for (const QChar c : QString::fromUtf8(receiver.c_str())) {
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('%'))
      out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
    else
      out += c;
  }
  return out;
}

std::string ReceiverName(const QString& group) {
  QString out;
  for (qsizetype i = 0; i < group.size(); ++i) {
    bool ok = false;
    const int code = group[i] == QLatin1Char('%') ? group.mid(i + 1, 2).toInt(&ok, 16) : 0;
    if (ok && group.mid(i + 1, 2).size() == 2) {
      out += QChar(code);
      i += 2;
    } else {
      out += group[i];
    }
  }
  return out.toUtf8().toStdString();
}

std::optional<bool> Flag(const QVariant& v) {
  const QString s = v.toString().trimmed().toLower();
  if (s == QLatin1String("true") || s == QLatin1String("1")) return true;
  if (s == QLatin1String("false") || s == QLatin1String("0")) return false;
  return std::nullopt;
}

std::optional<int> WholeIn(const QVariant& v, int least, int most) {
  bool ok = false;
  const int n = v.toString().trimmed().toInt(&ok);
  if (!ok || n < least || n > most) return std::nullopt;
  return n;
}

QString GainValue(const GainChoice& g) {
  return g.automatic ? QStringLiteral("auto") : QString::number(g.tenthsDb / 10.0, 'f', 1);
}

}  // namespace

QString ReceiverValueKey(const std::string& receiver, const char* value) {
  return QLatin1String(kGroup) + QLatin1Char('/') + GroupName(receiver) + QLatin1Char('/') + QLatin1String(value);
}

std::vector<std::pair<QString, QVariant>> ReceiverEntries(const std::string& receiver, const ReceiverOwn& own) {
  std::vector<std::pair<QString, QVariant>> out;
  if (own.gain) out.emplace_back(ReceiverValueKey(receiver, kGain), GainValue(*own.gain));
  if (own.ppm) out.emplace_back(ReceiverValueKey(receiver, kPpm), QString::number(*own.ppm));
  if (own.biasTee) out.emplace_back(ReceiverValueKey(receiver, kBiasTee), *own.biasTee);
  if (own.directSampling) out.emplace_back(ReceiverValueKey(receiver, kDirect), QString::number(*own.directSampling));
  if (own.offsetTuning) out.emplace_back(ReceiverValueKey(receiver, kOffset), *own.offsetTuning);
  return out;
}

std::vector<std::pair<std::string, ReceiverOwn>> ReadReceivers(
    QSettings& file, const std::function<void(const QString& key, const QVariant& raw)>& bad, QStringList& keys) {
  std::vector<std::pair<std::string, ReceiverOwn>> found;
  file.beginGroup(QLatin1String(kGroup));
  const QStringList groups = file.childGroups();
  file.endGroup();
  for (const QString& group : groups) {
    if (found.size() >= kMostReceiversKept) break;
    const std::string name = ReceiverName(group);
    ReceiverOwn own;
    // Reads one value: absent leaves it unset silently, present but not
    // read leaves it unset and is said.
    const auto take = [&](const char* value, auto read) {
      const QString key = ReceiverValueKey(name, value);
      if (!file.contains(key)) return;
      keys << key;
      const QVariant raw = file.value(key);
      if (!read(raw)) bad(key, raw);
    };
    take(kGain, [&](const QVariant& raw) { return (own.gain = ParseGain(raw.toString())).has_value(); });
    take(kPpm, [&](const QVariant& raw) { return (own.ppm = WholeIn(raw, kMinPpm, kMaxPpm)).has_value(); });
    take(kBiasTee, [&](const QVariant& raw) { return (own.biasTee = Flag(raw)).has_value(); });
    take(kDirect, [&](const QVariant& raw) { return (own.directSampling = WholeIn(raw, 0, 2)).has_value(); });
    take(kOffset, [&](const QVariant& raw) { return (own.offsetTuning = Flag(raw)).has_value(); });
    found.emplace_back(name, own);
  }
  return found;
}

std::optional<std::string> RemoteAddress(const QString& host, const QString& port) {
  const QString h = host.trimmed(), p = port.trimmed();
  if (h.isEmpty() || h.startsWith(QLatin1Char('['))) return std::nullopt;
  // An IPv6 address is bracketed, as the option takes it.
  const QString text = (h.contains(QLatin1Char(':')) ? QLatin1Char('[') + h + QLatin1Char(']') : h) +
                       (p.isEmpty() ? QString() : QLatin1Char(':') + p);
  RtlTcpAddress address;
  if (!RtlTcpAddress::Parse(text.toStdString(), address)) return std::nullopt;
  return address.Text();
}

std::optional<std::vector<std::string>> ReadSharedReceivers(const QStringList& items) {
  std::vector<std::string> found;
  for (const QString& item : items) {
    const std::string key = item.trimmed().toUtf8().toStdString();
    if (key.empty()) continue;
    RtlTcpAddress address;
    if (key.size() > 255 || found.size() >= kMostReceiversKept ||
        (IsRemoteName(key) && !ParseRemoteName(key, address)))
      return std::nullopt;
    if (std::find(found.begin(), found.end(), key) == found.end()) found.push_back(key);
  }
  return found;
}

}  // namespace wg
