// A stick on another computer, served by rtl_tcp: the kind of receiver
// chosen with rtl_tcp=HOST[:PORT]. The server answers no command, so what a
// local stick's library would refuse is refused here before it is sent, and
// what a local stick reads back is what was last sent.
//
// A connection that is lost is opened again, first a second after the loss,
// then, until a step gets through, after twice the wait before each time, up
// to half a minute.
#pragma once

#include <chrono>
#include <memory>

#include "receiver/ReceiverDevice.h"
#include "receiver/RtlTcpStream.h"

namespace wg {

// Results of a remote receiver's calls beside 0, apart from the library's.
enum RtlTcpResult : int {
  kRtlTcpUnresolved = -100,   // the host name is not known (in time)
  kRtlTcpRefused = -101,      // nothing listens at that port
  kRtlTcpUnreachable = -102,  // no answer in time
  kRtlTcpNoHeader = -103,     // connected, but no header came: not a server, or busy with another client
  kRtlTcpNotRtlTcp = -104,    // what came is not an rtl_tcp header
  kRtlTcpLost = -105,         // the connection was closed or reset
  kRtlTcpStalled = -106,      // the server stopped sending
  kRtlTcpNotDue = -107,       // a new connection is not due yet
  kRtlTcpRefusedValue = -108, // a value the stick would not take; nothing was sent
  kRtlTcpNoSamples = -109,    // the server closed the connection after its header, before any sample
};

class RtlTcpDevice : public ReceiverDevice {
 public:
  // Connecting, name lookup and header included, stays inside the receiver's
  // watchdog.
  static constexpr std::chrono::milliseconds kConnectTime{800};
  // A read that sees no byte for this long gives the connection up, and
  // the connection is opened again as after a loss.
  static constexpr std::chrono::milliseconds kStallTime{2000};
  // Every call ends by a deadline of its own (connecting kConnectTime, a
  // command's send a fifth of a second, a read kStallTime without a byte):
  // the receiver's watchdog waits longer, so that a server that pauses is
  // reconnected rather than given up for good.
  static constexpr std::chrono::milliseconds kHangTime{kStallTime + std::chrono::milliseconds(2000)};
  static constexpr std::chrono::seconds kFirstRetry{1}, kLongestRetry{30};

  explicit RtlTcpDevice(RtlTcpAddress address);
  ~RtlTcpDevice() override;

  const RtlTcpAddress& Address() const { return address_; }

  int Open() override;
  void Close() override;
  bool Listed() override;
  uint32_t Index() const override { return 0; }
  // rtl_tcp=HOST:PORT, as it is chosen.
  std::string Serial() const override;
  std::chrono::milliseconds HangTime() const override { return kHangTime; }
  bool MeansGone(int readResult) const override;
  ReceiverAbilities Abilities() const override { return {true, true, true}; }

  unsigned TunerType() override { return header_.tuner; }
  int TunerGains(std::vector<int>& gains) override;
  int SetSampleRate(uint32_t rate) override;
  uint32_t SampleRate() override { return rate_; }
  int SetGainMode(int manual) override;
  int SetGain(int tenths) override;
  int SetFreqCorrection(int ppm) override;
  int FreqCorrection() override { return ppm_; }
  int SetBiasTee(bool on) override;
  int SetDirectSampling(int mode) override;
  int SetOffsetTuning(bool on) override;
  // The server's other two: the demodulator's gain loop, and a gain by its
  // place in the tuner's table.
  int SetAgc(bool on);
  int SetGainByIndex(uint32_t index);

  int SetCentre(uint32_t hz) override;
  int ResetBuffer() override;
  int Read(uint8_t* buf, int length, int* count) override;

  // Stream bytes received on the current connection (0 without one).
  uint64_t Received() const;

 private:
  int Send(RtlTcpCommand id, uint32_t param);

  const RtlTcpAddress address_;
  std::unique_ptr<RtlTcpStream> stream_;
  RtlTcpHeader header_;
  uint32_t rate_ = 0;  // as last sent on this connection
  int ppm_ = 0;
  int directSampling_ = 0;
  std::chrono::steady_clock::time_point nextTry_{};
  std::chrono::seconds retry_ = kFirstRetry;
};

}  // namespace wg
