// Remembered settings: an INI file under the user's configuration folder,
// read once when opened and written (atomically, through QSettings' own save
// file) whenever a value changes. Every value is checked when read; one that
// does not read or lies outside its limits falls back to its default, and one
// line for the log says so. Nothing in the file can stop the program. Keys
// the program does not know (left by another version, or damage) are not
// written back.
#pragma once

#include "app/Options.h"
#include "app/ReceiverStore.h"
#include "runtime/ColourScale.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSettings;

namespace wg {

struct ScanRange {
  int64_t start = kDefaultStartHz;  // Hz
  int64_t stop = kDefaultStopHz;
  bool operator==(const ScanRange&) const = default;
};

// The remembered values; a default-made one is the written start-up.
struct SettingsValues {
  ScanRange range;
  std::optional<GainChoice> gain;  // never chosen: manual mode with no gain set, as written
  int ppm = kDefaultPpm;
  uint32_t sampleRate = kDefaultSampleRate;
  std::string serial;              // empty: receiver 0
  // The receivers sharing the range when more than one, the first as
  // `serial`: serials, and rtl_tcp=HOST:PORT for remote ones.
  std::vector<std::string> shared;
  TraceMode traceView = TraceMode::Live;
  bool peakMarker = false;
  std::vector<double> markers;     // fixed markers' frequencies, Hz, at most kMaxMarkers
  QByteArray geometry;             // QWidget::saveGeometry; empty: the written placement
  bool waterfallShown = false;
  double waterfallShare = 0.4;     // the waterfall's part of the right panel's height
  std::optional<Language> language;  // never chosen: the system's (SystemLanguage)
  ColourSpan waterfallColours;     // automatic unless chosen
  bool receiverStrip = false;
  std::string gqrxAddress = "127.0.0.1:7356";
  // What each receiver keeps of its own (gain, correction, options), by its
  // key; a correction found by calibrating is kept here too.
  std::map<std::string, ReceiverOwn> receivers;
  std::vector<std::string> remotes;  // rtl_tcp servers added by hand, HOST:PORT, in the order added
  // Record…'s choices: bins combined to at least this width (0: every bin),
  // sweeps integrated over this many seconds (0: every sweep), peak hold.
  double recordBinHz = 0;
  int64_t recordIntervalSeconds = 0;
  bool recordPeakHold = false;
  double crop = 0;                 // the share of each step's edges left out; 0: none
  bool dcSpike = false;            // each step's centre as the stick delivers it, not mended
};

class TSettings {
 public:
  static constexpr size_t kMaxMarkers = 4;
  static constexpr double kMinWaterfallShare = 0.05;
  static constexpr double kMaxWaterfallShare = 0.95;

  // Nothing remembered: the defaults, and changes last for this run only.
  TSettings();
  // The INI file at `file`, created when a value is first written.
  explicit TSettings(const QString& file);
  ~TSettings();
  TSettings(const TSettings&) = delete;
  TSettings& operator=(const TSettings&) = delete;

  // <configuration folder>/wideglass/wideglass.ini; the folder is
  // $XDG_CONFIG_HOME, else ~/.config.
  static QString DefaultFile();
  QString File() const;  // empty when nothing is remembered

  // Log lines about values that fell back or a file that could not be read
  // or written, gathered since the last call. They are worded as they are
  // taken, so that they come out in the language chosen by then.
  std::vector<std::string> TakeMessages();
  // From now on each such line goes to `sink` as it arises, those gathered
  // so far first; an empty sink gathers them again.
  void SetMessageSink(std::function<void(const std::string&)> sink);
  // Adds such a line, for a value found wanting where it is used: `text` is
  // marked with QT_TRANSLATE_NOOP("Settings", ...), and %1, %2... in it stand
  // for args, put in as they are.
  void Note(const char* text, const QStringList& args = {});

  const SettingsValues& Values() const { return v_; }

  // Each setter takes a changed value into the file, which is written on the
  // event loop's next turn (at the latest by Sync or the destructor); a write
  // that fails is said once.
  void SetScanRange(ScanRange r);
  void SetGain(GainChoice g);
  void SetPpm(int ppm);
  void SetSampleRate(uint32_t rate);
  void SetReceiverSerial(const std::string& serial);
  // Several in use (their keys, as ReceiverOwn's), or none (one in use).
  void SetSharedReceivers(const std::vector<std::string>& keys);
  void SetTraceView(TraceMode t);
  void SetPeakMarker(bool on);
  void SetMarkers(const std::vector<double>& hz);
  void SetWindowGeometry(const QByteArray& g);
  void SetWaterfallShown(bool shown);
  void SetWaterfallShare(double share);
  void SetLanguage(Language l);
  void SetWaterfallColours(const ColourSpan& c);
  void SetReceiverStrip(bool on);
  void SetGqrxAddress(const std::string& hostPort);
  // The values set in `own` become the receiver's own; those unset stay.
  void SetReceiverOwn(const std::string& key, const ReceiverOwn& own);
  // What a receiver keeps of its own; nothing set for one never seen.
  ReceiverOwn OwnOf(const std::string& key) const;
  void SetRemotes(const std::vector<std::string>& hostPorts);
  void SetRecordChoice(double binHz, int64_t intervalSeconds, bool peakHold);
  void SetCrop(double share);
  void SetDcSpike(bool shown);
  // The limits of Record…'s choices.
  static constexpr double kMostRecordBinHz = 3200000;
  static constexpr int64_t kMostRecordIntervalSeconds = 86400;

  // Writes what changed now; a failure adds a message.
  void Sync();

  // Texts as the file holds them, for tests and messages.
  static QString GainText(const std::optional<GainChoice>& g);
  static QString TraceViewText(TraceMode t);
  static QString ColoursText(const ColourSpan& c);
  static std::optional<ColourSpan> ParseColours(const QString& text);

 private:
  void Load();
  void Write(const char* key, const QVariant& value);
  void Write(const QString& key, const QVariant& value);
  void DropUnknownKeys();
  void CheckWritten();
  bool CopyInPlace(std::string& reason);
  void Say(std::function<QString()> line);

  QString path_;  // the settings file as named
  // A device or a pipe at the path: the settings live in a file of this
  // folder for the run, each write copied to the path in place.
  std::unique_ptr<QTemporaryDir> shadow_;
  std::unique_ptr<QSettings> file_;
  SettingsValues v_;
  std::vector<std::function<QString()>> messages_;
  std::function<void(const std::string&)> sink_;
  bool written_ = false;
  QStringList receiverKeys_;  // the receivers' keys the file holds, kept by a rewrite
  bool unknownDropped_ = false;
  bool syncQueued_ = false;
  bool writeFailed_ = false;
};

}  // namespace wg
