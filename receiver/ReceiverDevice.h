// One kind of receiver: how a stick is opened, set, tuned and read. A
// Receiver drives one of these from its own thread and from nowhere else, so
// an implementation needs no locking of its own. The calls mirror the
// receiver library's, with its results: 0 (or a count) taken, negative
// refused or failed. A stick on this computer goes through the receiver
// library (LocalRtlSdr); other kinds reach a stick elsewhere.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "receiver/ReceiverSettings.h"

namespace wg {

class ReceiverDevice {
 public:
  virtual ~ReceiverDevice() = default;

  // A call that has not returned after this long means the stick no longer
  // responds. A kind whose calls wait on deadlines of their own says so with
  // a longer one, so that those deadlines end its calls first.
  static constexpr std::chrono::milliseconds kHangTime{1000};
  virtual std::chrono::milliseconds HangTime() const { return kHangTime; }

  // Opens the stick: the first time the one it was made for, afterwards the
  // one with the serial it had then (it may come back at another index).
  // Negative when it is not there or refuses; Found() tells which was opened.
  virtual int Open() = 0;
  virtual void Close() = 0;
  // Whether the stick this device opened is listed now (after a failed read:
  // gone, or only a bad transfer).
  virtual bool Listed() = 0;
  // Index and serial of the stick opened last.
  virtual uint32_t Index() const = 0;
  virtual std::string Serial() const = 0;
  // How it reports a stick that is gone in a read.
  virtual bool MeansGone(int readResult) const = 0;
  virtual ReceiverAbilities Abilities() const = 0;

  virtual unsigned TunerType() = 0;
  virtual int TunerGains(std::vector<int>& gains) = 0;  // count, or negative
  virtual int SetSampleRate(uint32_t rate) = 0;
  virtual uint32_t SampleRate() = 0;
  virtual int SetGainMode(int manual) = 0;
  virtual int SetGain(int tenths) = 0;
  virtual int SetFreqCorrection(int ppm) = 0;
  virtual int FreqCorrection() = 0;
  virtual int SetBiasTee(bool on) = 0;
  virtual int SetDirectSampling(int mode) = 0;
  virtual int SetOffsetTuning(bool on) = 0;

  virtual int SetCentre(uint32_t hz) = 0;
  // Drops whatever the stick delivered before this call.
  virtual int ResetBuffer() = 0;
  // Blocks until `length` bytes are read or the read fails; `count` gets how
  // many arrived.
  virtual int Read(uint8_t* buf, int length, int* count) = 0;
};

}  // namespace wg
