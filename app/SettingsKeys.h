// The keys of the settings file, and how a language is stored: shared by
// the parts of the settings that read and write them.
#pragma once

#include <QString>

#include "app/Language.h"

namespace wg::settings_keys {

inline constexpr const char *kScanStart = "scan/start";
inline constexpr const char *kScanStop = "scan/stop";
inline constexpr const char *kGain = "receiver/gain";
inline constexpr const char *kPpm = "receiver/ppm";
inline constexpr const char *kRate = "receiver/rate";
inline constexpr const char *kSerial = "receiver/serial";
inline constexpr const char *kTraceMode = "trace/mode";
inline constexpr const char *kPeakMarker = "markers/peak";
inline constexpr const char *kMarkers = "markers/fixed";
inline constexpr const char *kGeometry = "window/geometry";
inline constexpr const char *kWaterfallShown = "waterfall/shown";
inline constexpr const char *kWaterfallShare = "waterfall/share";
inline constexpr const char *kLanguage = "ui/language";
inline constexpr const char *kWaterfallColours = "waterfall/colours";
inline constexpr const char *kStrip = "ui/strip";
inline constexpr const char *kGqrx = "gqrx/address";
inline constexpr const char *kCalibration = "receiver/calibration";
inline constexpr const char *kRecordBin = "record/bin";
inline constexpr const char *kRecordInterval = "record/interval";
inline constexpr const char *kRecordPeak = "record/peak";
inline constexpr const char *kCrop = "sweep/crop";
inline constexpr const char *kDcSpike = "sweep/dcSpike";
inline constexpr const char *kRemotes = "receiver/remotes";
inline constexpr const char *kShared = "receiver/shared";
inline constexpr const char *kKnownKeys[] = {
    kScanStart,      kScanStop,         kGain,    kPpm,      kRate,           kSerial,
    kTraceMode,      kPeakMarker,       kMarkers, kGeometry, kWaterfallShown, kWaterfallShare,
    kLanguage,       kWaterfallColours, kStrip,   kGqrx,     kCalibration,    kRecordBin,
    kRecordInterval, kRecordPeak,       kCrop,    kDcSpike,  kRemotes,        kShared};

inline QString LanguageText(Language l) { return l == Language::English ? QStringLiteral("en") : QStringLiteral("ru"); }

}  // namespace wg::settings_keys
