#include "receiver/RtlTcpProtocol.h"

#include <rtl-sdr.h>

#include <algorithm>
#include <charconv>

namespace wg {
namespace {

// The gain tables of the library's tuner drivers, tenths of a dB.
constexpr int kE4000Gains[] = {-10, 15, 40, 65, 90, 115, 140, 165, 190, 215, 240, 290, 340, 420};
constexpr int kFc0012Gains[] = {-99, -40, 71, 179, 192};
constexpr int kFc0013Gains[] = {-99, -73, -65, -63, -60, -58, -54, 58,  61,  63,  65, 67,
                                68,  70,  71,  179, 181, 182, 184, 186, 188, 191, 197};
constexpr int kR82xxGains[] = {0,   9,   14,  27,  37,  77,  87,  125, 144, 157, 166, 197, 207, 229, 254,
                               280, 297, 328, 338, 364, 372, 386, 402, 421, 434, 439, 445, 480, 496};
constexpr int kNoGains[] = {0};  // a tuner without steps reports one, 0

// The RTL2832U samples at 28.8 MHz: direct sampling reaches below half of
// that without aliasing, and nothing above it.
constexpr uint32_t kDirectSamplingMaxHz = 28800000;

bool HostCharOk(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == ':' || c == '%';
}

uint32_t ReadBigEndian(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

}  // namespace

bool RtlTcpAddress::Parse(std::string_view text, RtlTcpAddress& out) {
  std::string_view host = text, port;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    // More than one colon without brackets is an IPv6 host alone.
    if (text.find(':') == colon) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) return false;
    }
  }
  // A DNS name is at most 253 characters.
  if (host.empty() || host.size() > 253 || !std::all_of(host.begin(), host.end(), HostCharOk)) return false;
  uint32_t number = kDefaultPort;
  if (!port.empty()) {
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc() || end != port.data() + port.size() || number == 0 || number > 65535) return false;
  }
  out.host.assign(host);
  out.port = static_cast<uint16_t>(number);
  return true;
}

std::string RtlTcpAddress::Text() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

RtlTcpHeader::Check RtlTcpHeader::Parse(const uint8_t (&bytes)[kSize], RtlTcpHeader& out) {
  if (bytes[0] != 'R' || bytes[1] != 'T' || bytes[2] != 'L' || bytes[3] != '0') return Check::NotRtlTcp;
  const uint32_t tuner = ReadBigEndian(bytes + 4);
  const uint32_t gains = ReadBigEndian(bytes + 8);
  if (tuner > RTLSDR_TUNER_R828D) return Check::UnknownTuner;
  if (gains > kMaxGainCount) return Check::TooManyGains;
  out.tuner = tuner;
  out.gainCount = gains;
  return Check::Ok;
}

void EncodeRtlTcpCommand(RtlTcpCommand id, uint32_t param, uint8_t (&out)[kRtlTcpCommandSize]) {
  out[0] = static_cast<uint8_t>(id);
  out[1] = static_cast<uint8_t>(param >> 24);
  out[2] = static_cast<uint8_t>(param >> 16);
  out[3] = static_cast<uint8_t>(param >> 8);
  out[4] = static_cast<uint8_t>(param);
}

std::span<const int> RtlTcpTunerGains(unsigned tuner) {
  switch (tuner) {
    case RTLSDR_TUNER_E4000: return kE4000Gains;
    case RTLSDR_TUNER_FC0012: return kFc0012Gains;
    case RTLSDR_TUNER_FC0013: return kFc0013Gains;
    case RTLSDR_TUNER_R820T:
    case RTLSDR_TUNER_R828D: return kR82xxGains;
    default: return kNoGains;
  }
}

bool RtlTcpTunes(unsigned tuner, int directSampling, uint32_t hz) {
  if (directSampling) return hz > 0 && hz <= kDirectSamplingMaxHz;
  // The ranges the tuners are made for, narrower where the drivers' own
  // limits are looser: a frequency outside is left untuned.
  switch (tuner) {
    case RTLSDR_TUNER_E4000: return hz >= 52000000 && hz <= 2200000000u;
    case RTLSDR_TUNER_FC0012: return hz >= 22000000 && hz <= 948600000;
    case RTLSDR_TUNER_FC0013: return hz >= 22000000 && hz <= 1100000000;
    case RTLSDR_TUNER_FC2580: return (hz >= 146000000 && hz <= 308000000) || (hz >= 438000000 && hz <= 924000000);
    default: return hz >= 24000000 && hz <= 1766000000;
  }
}

bool RtlTcpRateAccepted(uint32_t rate) {
  return (rate > 225000 && rate <= 300000) || (rate > 900000 && rate <= 3200000);
}

}  // namespace wg
