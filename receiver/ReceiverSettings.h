// What a receiver is set to, what its set-up found, and how one step reads
// its samples: the values a Receiver keeps and reports, for every kind of
// receiver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wg {

// How the receiver's gain is set.
enum class GainMode {
  Written,  // manual gain selected, no gain ever chosen (the tuner's lowest on an R820T)
  Auto,     // the tuner's automatic gain
  Manual,   // one of the tuner's gains
};

struct ReceiverSettings {
  static constexpr int kDefaultFreqCorrection = 2700;  // ppm
  static constexpr uint32_t kDefaultSampleRate = 3200000;

  GainMode gainMode = GainMode::Written;
  int gainTenths = 0;  // tenths of a dB, with GainMode::Manual
  int freqCorrection = kDefaultFreqCorrection;
  uint32_t sampleRate = kDefaultSampleRate;
  // Options as rtl_sdr names them; off unless chosen, and then the library is
  // never asked about them.
  bool biasTee = false;      // -T: power for an antenna amplifier
  int directSampling = 0;    // -D: 0 off, 1 the I branch, 2 the Q branch
  bool offsetTuning = false; // -O
};

// Options a receiver cannot honour: the library lacks their entry points.
struct ReceiverAbilities {
  bool biasTee = false, directSampling = false, offsetTuning = false;
};

// What opening a receiver found, as the report shows it.
struct ReceiverFound {
  uint32_t index = 0;    // as the library counted it when opened
  std::string serial;    // how it is found again after it was unplugged
  int openResult = 0;    // the library's; negative: not opened
  unsigned tuner = 0;    // rtlsdr_tuner value
  uint32_t sampleRate = 0;  // Hz, as read back
  std::vector<int> gains;   // tenths of a dB, table order
  int freqCorrection = 0;   // ppm, as read back
  ReceiverAbilities abilities;
};

// How much one step reads after tuning. The written block reads 131,072
// bytes and its spectrum uses the last ones; a fast step reads only the bytes
// that may still carry the previous tuning and the samples its spectrum uses.
struct ReadPlan {
  static constexpr int kWrittenBlock = 131072;
  // What a stick still delivers of the previous tuning once the tuning
  // delay below has passed: the samples in the demodulator's and the USB
  // pipeline. Debian's rtl_power flushes as much after each retune (it
  // sleeps 5 ms, then reads 4096 bytes), and its readings are the ones users
  // trust; dropping more only slows the sweep.
  static constexpr int kSettleBytes = 4096;
  // The library passes the length straight to a USB bulk transfer, which
  // takes whole packets of 512 bytes only: a part packet overflows.
  static constexpr int kTransferUnit = 512;

  // How long a fast step waits after the retune before it reads: a stick
  // gives no sign when its tuner has locked, so the wait is rtl_power's.
  static constexpr int kTuneWaitUs = 5000;

  bool fast = false;
  int usedBytes = 8192;  // the spectrum's: 8,192 live, 65,536 averaged
  int settleBytes = kSettleBytes;
  int tuneWaitUs = kTuneWaitUs;

  // Bytes one step reads: the written block, or the settle bytes and the
  // used ones rounded up to whole packets.
  constexpr int Length() const {
    if (!fast) return kWrittenBlock;
    const int want = (settleBytes > 0 ? settleBytes : 0) + (usedBytes > 0 ? usedBytes : 0);
    return (want + kTransferUnit - 1) / kTransferUnit * kTransferUnit;
  }
};
static_assert(ReadPlan::kWrittenBlock % ReadPlan::kTransferUnit == 0);

}  // namespace wg
