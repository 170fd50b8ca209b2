#include "receiver/LocalRtlSdr.h"

#include <algorithm>
#include <utility>

namespace wg {

LocalRtlSdr::LocalRtlSdr(std::shared_ptr<const RtlSdrLibrary> library, uint32_t index, std::string serial)
    : library_(std::move(library)), index_(index), serial_(std::move(serial)) {}

LocalRtlSdr::~LocalRtlSdr() { Close(); }

int LocalRtlSdr::Open() {
  Close();
  if (!api().rtlsdr_open) return -1;
  if (openedOnce_ && !serial_.empty()) {
    // Once known, the stick is its serial: after a replug the bus may list
    // it at another index, and another stick at its old one.
    const int at = library_->IndexOfSerial(serial_);
    if (at < 0) return -1;
    index_ = static_cast<uint32_t>(at);
  } else if (serial_.empty()) {
    const auto list = library_->List();
    if (index_ < list.size()) serial_ = list[index_].serial;
  }
  openedOnce_ = true;
  rtlsdr_dev_t* dev = nullptr;
  const int result = api().rtlsdr_open(&dev, index_);
  if (result < 0 || !dev) return result < 0 ? result : -1;
  dev_ = dev;
  return result;
}

void LocalRtlSdr::Close() {
  if (!dev_) return;
  rtlsdr_dev_t* dev = std::exchange(dev_, nullptr);
  if (api().rtlsdr_close) api().rtlsdr_close(dev);
}

bool LocalRtlSdr::Listed() { return !serial_.empty() && library_->IndexOfSerial(serial_) >= 0; }

ReceiverAbilities LocalRtlSdr::Abilities() const {
  return {api().rtlsdr_set_bias_tee != nullptr, api().rtlsdr_set_direct_sampling != nullptr,
          api().rtlsdr_set_offset_tuning != nullptr};
}

// Every call checks its entry point: a library may lack any of them.
#define WG_CALL(name, fallback, ...) (dev_ && api().name ? api().name(dev_, __VA_ARGS__) : (fallback))
#define WG_CALL0(name, fallback) (dev_ && api().name ? api().name(dev_) : (fallback))

unsigned LocalRtlSdr::TunerType() { return static_cast<uint8_t>(WG_CALL0(rtlsdr_get_tuner_type, RTLSDR_TUNER_UNKNOWN)); }

int LocalRtlSdr::TunerGains(std::vector<int>& gains) {
  // The library writes as many as the tuner has; no tuner has more than this.
  int table[256] = {};
  const int n = WG_CALL(rtlsdr_get_tuner_gains, -1, table);
  gains.assign(table, table + std::clamp(n, 0, 256));
  return n;
}

int LocalRtlSdr::SetSampleRate(uint32_t rate) { return WG_CALL(rtlsdr_set_sample_rate, -1, rate); }
uint32_t LocalRtlSdr::SampleRate() { return WG_CALL0(rtlsdr_get_sample_rate, 0u); }
int LocalRtlSdr::SetGainMode(int manual) { return WG_CALL(rtlsdr_set_tuner_gain_mode, -1, manual); }
int LocalRtlSdr::SetGain(int tenths) { return WG_CALL(rtlsdr_set_tuner_gain, -1, tenths); }
int LocalRtlSdr::SetFreqCorrection(int ppm) { return WG_CALL(rtlsdr_set_freq_correction, -1, ppm); }
int LocalRtlSdr::FreqCorrection() { return WG_CALL0(rtlsdr_get_freq_correction, 0); }
int LocalRtlSdr::SetBiasTee(bool on) { return WG_CALL(rtlsdr_set_bias_tee, -1, on ? 1 : 0); }
int LocalRtlSdr::SetDirectSampling(int mode) { return WG_CALL(rtlsdr_set_direct_sampling, -1, mode); }
int LocalRtlSdr::SetOffsetTuning(bool on) { return WG_CALL(rtlsdr_set_offset_tuning, -1, on ? 1 : 0); }
int LocalRtlSdr::SetCentre(uint32_t hz) { return WG_CALL(rtlsdr_set_center_freq, -1, hz); }
int LocalRtlSdr::ResetBuffer() { return WG_CALL0(rtlsdr_reset_buffer, -1); }

int LocalRtlSdr::Read(uint8_t* buf, int length, int* count) {
  *count = 0;
  return WG_CALL(rtlsdr_read_sync, -1, buf, length, count);
}

#undef WG_CALL
#undef WG_CALL0

}  // namespace wg
