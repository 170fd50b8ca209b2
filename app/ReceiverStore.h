// What each receiver keeps of its own in the settings file: one group per
// receiver under [receivers], named by its key (the serial of a stick of this
// computer, "rtl_tcp=HOST:PORT" for a remote one), and the remote receivers
// the user added by hand. TSettings reads and writes them through these.
#pragma once

#include "app/Options.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QSettings;

namespace wg {

// Unset: the receiver takes what the set-up has for every receiver.
struct ReceiverOwn {
  // Initialised so that a value given by name leaves the others unset
  // without a word from the compiler.
  std::optional<GainChoice> gain = std::nullopt;
  std::optional<int> ppm = std::nullopt;
  std::optional<bool> biasTee = std::nullopt;
  std::optional<int> directSampling = std::nullopt;  // 0 off, 1 the I branch, 2 the Q branch
  std::optional<bool> offsetTuning = std::nullopt;
  bool operator==(const ReceiverOwn&) const = default;
};

// Receivers remembered at most, and remote receivers added at most.
inline constexpr size_t kMostReceiversKept = 64;
inline constexpr size_t kMostRemotes = 16;

// The settings key of one value of a receiver's group.
QString ReceiverValueKey(const std::string& receiver, const char* value);
// The values of `own` that are set, as the file holds them, by key.
std::vector<std::pair<QString, QVariant>> ReceiverEntries(const std::string& receiver, const ReceiverOwn& own);

// Reads every group; `bad` hears each value that did not read (its key and
// what the file holds), which is then left unset. `keys` gets every key of
// the groups read, so that a rewrite of the file keeps them.
std::vector<std::pair<std::string, ReceiverOwn>> ReadReceivers(
    QSettings& file, const std::function<void(const QString& key, const QVariant& raw)>& bad, QStringList& keys);

// HOST:PORT as the user may type it for rtl_tcp: a host name or address and a
// port 1..65535 (1234 when left out); nullopt when it is not one.
std::optional<std::string> RemoteAddress(const QString& host, const QString& port);
// The receivers remembered as sharing the range, in order without repeats:
// serials and rtl_tcp=HOST:PORT; nullopt when an entry cannot be one.
std::optional<std::vector<std::string>> ReadSharedReceivers(const QStringList& items);

}  // namespace wg
