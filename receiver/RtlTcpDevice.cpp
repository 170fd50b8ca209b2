#include "receiver/RtlTcpDevice.h"

#include <algorithm>
#include <utility>

namespace wg {
namespace {

using Clock = std::chrono::steady_clock;

// Until a rate is sent, the server runs at whatever it was started with; the
// fastest a stick makes is assumed, so that none of it is taken for new.
constexpr double kFastestBytesPerSecond = 2.0 * 3200000;

int ResultOf(RtlTcpStream::Failure f) {
  switch (f) {
    case RtlTcpStream::Failure::None: return 0;
    case RtlTcpStream::Failure::Unresolved: return kRtlTcpUnresolved;
    case RtlTcpStream::Failure::Refused: return kRtlTcpRefused;
    case RtlTcpStream::Failure::Unreachable: return kRtlTcpUnreachable;
    case RtlTcpStream::Failure::NoHeader: return kRtlTcpNoHeader;
    case RtlTcpStream::Failure::NotRtlTcp: return kRtlTcpNotRtlTcp;
  }
  return kRtlTcpUnreachable;
}

}  // namespace

RtlTcpDevice::RtlTcpDevice(RtlTcpAddress address) : address_(std::move(address)) {}

RtlTcpDevice::~RtlTcpDevice() = default;

std::string RtlTcpDevice::Serial() const { return RemoteName(address_.Text()); }

int RtlTcpDevice::Open() {
  Close();
  if (Clock::now() < nextTry_) return kRtlTcpNotDue;
  RtlTcpStream::Failure failure = RtlTcpStream::Failure::None;
  RtlTcpHeader header;
  stream_ = RtlTcpStream::Connect(address_, kConnectTime, kFastestBytesPerSecond, header, failure);
  if (!stream_) {
    nextTry_ = Clock::now() + retry_;
    retry_ = std::min(retry_ * 2, kLongestRetry);
    return ResultOf(failure);
  }
  header_ = header;
  rate_ = 0;
  ppm_ = 0;
  directSampling_ = 0;
  return 0;
}

void RtlTcpDevice::Close() {
  if (!stream_) return;
  if (stream_->Lost()) {
    nextTry_ = Clock::now() + retry_;
    retry_ = std::min(retry_ * 2, kLongestRetry);
  }
  stream_.reset();
}

bool RtlTcpDevice::Listed() { return stream_ && !stream_->Lost(); }

bool RtlTcpDevice::MeansGone(int readResult) const {
  return readResult == kRtlTcpLost || readResult == kRtlTcpStalled || readResult == kRtlTcpNoSamples;
}

int RtlTcpDevice::TunerGains(std::vector<int>& gains) {
  const auto table = RtlTcpTunerGains(header_.tuner);
  gains.assign(table.begin(), table.end());
  return static_cast<int>(gains.size());
}

int RtlTcpDevice::Send(RtlTcpCommand id, uint32_t param) {
  if (!stream_) return -1;
  return stream_->Send(id, param) ? 0 : kRtlTcpLost;
}

int RtlTcpDevice::SetSampleRate(uint32_t rate) {
  if (!stream_) return -1;
  if (!RtlTcpRateAccepted(rate)) return kRtlTcpRefusedValue;
  // The server has no state to refresh: the same rate again would cost the
  // stick a reset for nothing.
  if (rate == rate_) return 0;
  const int r = Send(RtlTcpCommand::SampleRate, rate);
  if (r == 0) {
    stream_->SetRate(2.0 * rate);
    rate_ = rate;
  }
  return r;
}

int RtlTcpDevice::SetGainMode(int manual) { return Send(RtlTcpCommand::GainMode, static_cast<uint32_t>(manual)); }

int RtlTcpDevice::SetGain(int tenths) { return Send(RtlTcpCommand::Gain, static_cast<uint32_t>(tenths)); }

int RtlTcpDevice::SetFreqCorrection(int ppm) {
  const int r = Send(RtlTcpCommand::FreqCorrection, static_cast<uint32_t>(ppm));
  if (r == 0) ppm_ = ppm;
  return r;
}

int RtlTcpDevice::SetBiasTee(bool on) { return Send(RtlTcpCommand::BiasTee, on ? 1 : 0); }

int RtlTcpDevice::SetDirectSampling(int mode) {
  if (mode < 0 || mode > 2) return kRtlTcpRefusedValue;
  const int r = Send(RtlTcpCommand::DirectSampling, static_cast<uint32_t>(mode));
  if (r == 0) directSampling_ = mode;
  return r;
}

int RtlTcpDevice::SetOffsetTuning(bool on) { return Send(RtlTcpCommand::OffsetTuning, on ? 1 : 0); }

int RtlTcpDevice::SetAgc(bool on) { return Send(RtlTcpCommand::Agc, on ? 1 : 0); }

int RtlTcpDevice::SetGainByIndex(uint32_t index) {
  if (index >= RtlTcpTunerGains(header_.tuner).size()) return kRtlTcpRefusedValue;
  return Send(RtlTcpCommand::GainByIndex, index);
}

int RtlTcpDevice::SetCentre(uint32_t hz) {
  if (!stream_) return -1;
  if (!RtlTcpTunes(header_.tuner, directSampling_, hz)) return kRtlTcpRefusedValue;
  // A receiver takes a refused tuning for a frequency out of reach and reads
  // nothing; a connection lost is for the read that follows to report, which
  // it does at once.
  Send(RtlTcpCommand::Frequency, hz);
  return 0;
}

int RtlTcpDevice::ResetBuffer() {
  if (!stream_) return -1;
  stream_->Restart();
  return 0;
}

int RtlTcpDevice::Read(uint8_t* buf, int length, int* count) {
  *count = 0;
  if (!stream_) return -1;
  if (!buf || length <= 0) return kRtlTcpRefusedValue;
  size_t got = 0;
  const auto end = stream_->Read(buf, static_cast<size_t>(length), got, kStallTime);
  *count = static_cast<int>(got);
  switch (end) {
    case RtlTcpStream::ReadEnd::Done:
      // A server that takes connections only to drop them keeps its waits
      // growing; one that served a step has the next loss waited out anew.
      retry_ = kFirstRetry;
      return 0;
    case RtlTcpStream::ReadEnd::Lost: return stream_->Received() == 0 ? kRtlTcpNoSamples : kRtlTcpLost;
    case RtlTcpStream::ReadEnd::Stalled: return kRtlTcpStalled;
    case RtlTcpStream::ReadEnd::TooLong: return kRtlTcpRefusedValue;
  }
  return -1;
}

uint64_t RtlTcpDevice::Received() const { return stream_ ? stream_->Received() : 0; }

}  // namespace wg
