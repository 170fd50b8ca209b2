// A stick on this computer, through the receiver library's entry points.
#pragma once

#include <memory>
#include <string>

#include "receiver/ReceiverDevice.h"
#include "receiver/RtlSdrLibrary.h"

struct rtlsdr_dev;

namespace wg {

class LocalRtlSdr : public ReceiverDevice {
 public:
  // libusb's code for a device that is no longer there, which the library
  // passes on from its transfers.
  static constexpr int kNoDevice = -4;

  // `serial`, when the caller listed it already, saves listing the sticks
  // at the first open.
  LocalRtlSdr(std::shared_ptr<const RtlSdrLibrary> library, uint32_t index, std::string serial = {});
  ~LocalRtlSdr() override;  // closes a handle left open

  int Open() override;
  void Close() override;
  bool Listed() override;
  uint32_t Index() const override { return index_; }
  std::string Serial() const override { return serial_; }
  bool MeansGone(int readResult) const override { return readResult == kNoDevice; }
  ReceiverAbilities Abilities() const override;

  unsigned TunerType() override;
  int TunerGains(std::vector<int>& gains) override;
  int SetSampleRate(uint32_t rate) override;
  uint32_t SampleRate() override;
  int SetGainMode(int manual) override;
  int SetGain(int tenths) override;
  int SetFreqCorrection(int ppm) override;
  int FreqCorrection() override;
  int SetBiasTee(bool on) override;
  int SetDirectSampling(int mode) override;
  int SetOffsetTuning(bool on) override;

  int SetCentre(uint32_t hz) override;
  int ResetBuffer() override;
  int Read(uint8_t* buf, int length, int* count) override;

 private:
  const RtlSdrEntryPoints& api() const { return library_->Api(); }

  std::shared_ptr<const RtlSdrLibrary> library_;
  uint32_t index_;
  std::string serial_;
  rtlsdr_dev* dev_ = nullptr;
  bool openedOnce_ = false;
};

}  // namespace wg
