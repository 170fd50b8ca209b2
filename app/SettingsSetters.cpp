// What the window changes: each setter keeps the value and writes its key
// when it differs from the one in force.
#include <algorithm>
#include <string>
#include <vector>

#include "app/ReceiverStore.h"
#include "app/Settings.h"
#include "app/SettingsKeys.h"

namespace wg {

using namespace settings_keys;

void TSettings::SetScanRange(ScanRange r) {
  if (r == v_.range) return;
  v_.range = r;
  Write(kScanStart, QString::number(r.start));
  Write(kScanStop, QString::number(r.stop));
}

void TSettings::SetGain(GainChoice g) {
  if (v_.gain == g) return;
  v_.gain = g;
  Write(kGain, GainText(g));
}

void TSettings::SetPpm(int ppm) {
  if (ppm == v_.ppm) return;
  v_.ppm = ppm;
  Write(kPpm, QString::number(ppm));
}

void TSettings::SetSampleRate(uint32_t rate) {
  if (rate == v_.sampleRate) return;
  v_.sampleRate = rate;
  Write(kRate, QString::number(rate));
}

void TSettings::SetReceiverSerial(const std::string &serial) {
  if (serial == v_.serial) return;
  v_.serial = serial;
  Write(kSerial, QString::fromUtf8(serial.c_str()));
}

void TSettings::SetTraceView(TraceMode t) {
  if (t == v_.traceView) return;
  v_.traceView = t;
  Write(kTraceMode, TraceViewText(t));
}

void TSettings::SetPeakMarker(bool on) {
  if (on == v_.peakMarker) return;
  v_.peakMarker = on;
  Write(kPeakMarker, on);
}

void TSettings::SetMarkers(const std::vector<double> &hz) {
  std::vector<double> kept(hz.begin(), hz.begin() + std::min(hz.size(), kMaxMarkers));
  if (kept == v_.markers) return;
  v_.markers = kept;
  QStringList l;
  for (double f : kept) l << QString::number(f, 'g', 15);
  Write(kMarkers, l);
}

void TSettings::SetWindowGeometry(const QByteArray &g) {
  if (g == v_.geometry) return;
  v_.geometry = g;
  Write(kGeometry, g);
}

void TSettings::SetWaterfallShown(bool shown) {
  if (shown == v_.waterfallShown) return;
  v_.waterfallShown = shown;
  Write(kWaterfallShown, shown);
}

void TSettings::SetWaterfallShare(double share) {
  share = std::clamp(share, kMinWaterfallShare, kMaxWaterfallShare);
  if (share == v_.waterfallShare) return;
  v_.waterfallShare = share;
  Write(kWaterfallShare, QString::number(share, 'g', 6));
}

void TSettings::SetWaterfallColours(const ColourSpan &c) {
  if (c == v_.waterfallColours) return;
  v_.waterfallColours = c;
  Write(kWaterfallColours, ColoursText(c));
}

void TSettings::SetReceiverStrip(bool on) {
  if (on == v_.receiverStrip) return;
  v_.receiverStrip = on;
  Write(kStrip, on);
}

void TSettings::SetGqrxAddress(const std::string &hostPort) {
  if (hostPort == v_.gqrxAddress) return;
  v_.gqrxAddress = hostPort;
  Write(kGqrx, QString::fromStdString(hostPort));
}

void TSettings::SetReceiverOwn(const std::string &key, const ReceiverOwn &own) {
  if (key.empty()) return;
  const auto it = v_.receivers.find(key);
  if (it == v_.receivers.end() && v_.receivers.size() >= kMostReceiversKept) return;
  ReceiverOwn &kept = v_.receivers[key];
  ReceiverOwn changed;
  const auto take = [](auto &to, const auto &from, auto &change) {
    if (from && from != to) to = change = from;
  };
  take(kept.gain, own.gain, changed.gain);
  take(kept.ppm, own.ppm, changed.ppm);
  take(kept.biasTee, own.biasTee, changed.biasTee);
  take(kept.directSampling, own.directSampling, changed.directSampling);
  take(kept.offsetTuning, own.offsetTuning, changed.offsetTuning);
  for (const auto &[name, value] : ReceiverEntries(key, changed)) {
    Write(name, value);
    if (!receiverKeys_.contains(name)) receiverKeys_ << name;
  }
}

ReceiverOwn TSettings::OwnOf(const std::string &key) const {
  const auto it = v_.receivers.find(key);
  return it == v_.receivers.end() ? ReceiverOwn{} : it->second;
}

void TSettings::SetSharedReceivers(const std::vector<std::string> &keys) {
  std::vector<std::string> kept(keys.begin(), keys.begin() + std::min(keys.size(), kMostReceiversKept));
  if (kept.size() < 2) kept.clear();
  if (kept == v_.shared) return;
  v_.shared = kept;
  QStringList l;
  for (const std::string &k : kept) l << QString::fromStdString(k);
  Write(kShared, l);
}

void TSettings::SetRemotes(const std::vector<std::string> &hostPorts) {
  std::vector<std::string> kept(hostPorts.begin(), hostPorts.begin() + std::min(hostPorts.size(), kMostRemotes));
  if (kept == v_.remotes) return;
  v_.remotes = kept;
  QStringList l;
  for (const std::string &r : kept) l << QString::fromStdString(r);
  Write(kRemotes, l);
}

void TSettings::SetLanguage(Language l) {
  // Chosen once, it is remembered even when it is the system's.
  if (v_.language == l) return;
  v_.language = l;
  Write(kLanguage, LanguageText(l));
}

void TSettings::SetRecordChoice(double binHz, int64_t intervalSeconds, bool peakHold) {
  binHz = std::clamp(binHz, 0.0, kMostRecordBinHz);
  intervalSeconds = std::clamp<int64_t>(intervalSeconds, 0, kMostRecordIntervalSeconds);
  if (binHz != v_.recordBinHz) Write(kRecordBin, QString::number(v_.recordBinHz = binHz, 'g', 10));
  if (intervalSeconds != v_.recordIntervalSeconds)
    Write(kRecordInterval, QString::number(v_.recordIntervalSeconds = intervalSeconds));
  if (peakHold != v_.recordPeakHold) Write(kRecordPeak, v_.recordPeakHold = peakHold);
}

void TSettings::SetDcSpike(bool shown) {
  if (shown == v_.dcSpike) return;
  v_.dcSpike = shown;
  Write(kDcSpike, shown);
}

void TSettings::SetCrop(double share) {
  if (share == v_.crop) return;
  v_.crop = share;
  Write(kCrop, QString::number(share, 'g', 10));
}

}  // namespace wg
