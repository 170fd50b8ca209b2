// What rtl_tcp says and understands, without the network: the address a user
// names, the 12-byte header the server opens with, the 5-byte commands, and
// what the real library knows of each tuner (its gains and the frequencies it
// locks on), since the server passes on none of that but the tuner's type.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace wg {

// Where a remote stick is served: HOST[:PORT], the port 1234 unless given.
// An IPv6 host with a port is written in brackets: [::1]:1234.
struct RtlTcpAddress {
  static constexpr uint16_t kDefaultPort = 1234;
  std::string host;
  uint16_t port = kDefaultPort;

  // False for an empty or malformed host, or a port outside 1..65535.
  static bool Parse(std::string_view text, RtlTcpAddress& out);
  // HOST:PORT, with the brackets an IPv6 host needs.
  std::string Text() const;
};

// Where a serial would name a local stick, a remote one is named as
// gr-osmosdr writes it: rtl_tcp=HOST:PORT.
inline constexpr std::string_view kRemoteNamePrefix = "rtl_tcp=";
inline bool IsRemoteName(std::string_view name) { return name.starts_with(kRemoteNamePrefix); }
inline std::string RemoteName(std::string_view hostPort) {
  return std::string(kRemoteNamePrefix).append(hostPort);
}
// False for a local stick's name or a malformed address.
inline bool ParseRemoteName(std::string_view name, RtlTcpAddress& out) {
  return IsRemoteName(name) && RtlTcpAddress::Parse(name.substr(kRemoteNamePrefix.size()), out);
}

// The header: "RTL0", then the tuner type and its gain count, big-endian.
struct RtlTcpHeader {
  static constexpr size_t kSize = 12;
  // No tuner the library knows has more gain steps than this; a count above
  // it is not a stick's.
  static constexpr uint32_t kMaxGainCount = 64;

  unsigned tuner = 0;  // rtlsdr_tuner value
  uint32_t gainCount = 0;

  enum class Check { Ok, NotRtlTcp, UnknownTuner, TooManyGains };
  static Check Parse(const uint8_t (&bytes)[kSize], RtlTcpHeader& out);
};

// Command ids, as the server reads them.
enum class RtlTcpCommand : uint8_t {
  Frequency = 0x01,
  SampleRate = 0x02,
  GainMode = 0x03,  // 0 automatic, otherwise manual
  Gain = 0x04,      // tenths of a dB
  FreqCorrection = 0x05,
  Agc = 0x08,
  DirectSampling = 0x09,
  OffsetTuning = 0x0a,
  GainByIndex = 0x0d,
  BiasTee = 0x0e,
};

constexpr size_t kRtlTcpCommandSize = 5;
// One id byte, then the parameter big-endian; signed values go as their
// two's complement, as the server reads them back.
void EncodeRtlTcpCommand(RtlTcpCommand id, uint32_t param, uint8_t (&out)[kRtlTcpCommandSize]);

// The tuner's gain steps in tenths of a dB, in the library's order.
std::span<const int> RtlTcpTunerGains(unsigned tuner);
// Whether the stick behind the server can be tuned to `hz`. The server
// answers nothing: a frequency its tuner refuses would leave the stream at
// the previous one, so such a frequency is never sent.
bool RtlTcpTunes(unsigned tuner, int directSampling, uint32_t hz);
// Sample rates the library accepts: 225001..300000 and 900001..3200000 Hz.
bool RtlTcpRateAccepted(uint32_t rate);

}  // namespace wg
