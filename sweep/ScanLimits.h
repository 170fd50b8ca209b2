// The scan and receiver facts every layer agrees on: the scan range's limits
// (those of the two frequency editors), the written start-up range, the sample
// rates offered, the frequency correction's limits and the points of one step.
// The engine, the receiver set-up, the editors, the command line and the
// settings file all take them from here.
#pragma once

#include <cstdint>

namespace wg {

// One transform per step: its bins are the step's points.
inline constexpr int kPointsPerStep = 4096;

// Scan range limits in Hz: those of the two frequency editors. A range is at
// least 1 MHz wide.
inline constexpr int64_t kMinStartHz = 100000;
inline constexpr int64_t kMaxStartHz = 3999000000;
inline constexpr int64_t kMinStopHz = 200000;
inline constexpr int64_t kMaxStopHz = 4000000000;
inline constexpr int64_t kMinSpanHz = 1000000;

// The range the written program starts with, Hz.
inline constexpr int64_t kDefaultStartHz = 138000000;
inline constexpr int64_t kDefaultStopHz = 153000000;

// The sample rates the program offers, in Hz: the written one first, then
// those users pick because many sticks drop samples at 3.2 MS/s.
inline constexpr uint32_t kSampleRates[] = {3200000, 2400000, 2048000, 1800000, 1024000};
inline constexpr uint32_t kDefaultSampleRate = kSampleRates[0];

// Frequency correction, ppm: the limits, and the written value.
inline constexpr int kMinPpm = -3000;
inline constexpr int kMaxPpm = 3000;
inline constexpr int kDefaultPpm = 2700;

}  // namespace wg
