// The rtl_tcp protocol without a network: addresses as users write them, the
// header's checks, the tuners' ranges, and the stream's clock with the retune
// rule built on it.
#include <gtest/gtest.h>
#include <rtl-sdr.h>

#include "receiver/RtlTcpProtocol.h"
#include "receiver/RtlTcpStream.h"

using namespace std::chrono_literals;

namespace {

TEST(RtlTcpAddress, ReadsWhatUsersWriteAndRefusesTheRest) {
  wg::RtlTcpAddress a;
  ASSERT_TRUE(wg::RtlTcpAddress::Parse("pi.local", a));
  EXPECT_EQ(a.host, "pi.local");
  EXPECT_EQ(a.port, 1234);
  ASSERT_TRUE(wg::RtlTcpAddress::Parse("127.0.0.1:12345", a));
  EXPECT_EQ(a.host, "127.0.0.1");
  EXPECT_EQ(a.port, 12345);
  EXPECT_EQ(a.Text(), "127.0.0.1:12345");
  ASSERT_TRUE(wg::RtlTcpAddress::Parse("[::1]:7", a));
  EXPECT_EQ(a.host, "::1");
  EXPECT_EQ(a.Text(), "[::1]:7");
  ASSERT_TRUE(wg::RtlTcpAddress::Parse("fe80::1", a));
  EXPECT_EQ(a.port, 1234);
  for (const char* bad : {"", ":1234", "host:", "host:0", "host:65536", "host:12x", "[::1", "[::1]x", "a b",
                          "host/path", "[::1]:"})
    EXPECT_FALSE(wg::RtlTcpAddress::Parse(bad, a)) << bad;
  EXPECT_FALSE(wg::RtlTcpAddress::Parse(std::string(254, 'a'), a));
}

TEST(RtlTcpHeader, TakesOnlyWhatAServerSends) {
  const auto header = [](const char magic[4], uint32_t tuner, uint32_t gains) {
    return std::array<uint8_t, 12>{uint8_t(magic[0]),    uint8_t(magic[1]),    uint8_t(magic[2]),
                                   uint8_t(magic[3]),    uint8_t(tuner >> 24), uint8_t(tuner >> 16),
                                   uint8_t(tuner >> 8),  uint8_t(tuner),       uint8_t(gains >> 24),
                                   uint8_t(gains >> 16), uint8_t(gains >> 8),  uint8_t(gains)};
  };
  using Check = wg::RtlTcpHeader::Check;
  const auto parse = [](const std::array<uint8_t, 12>& b, wg::RtlTcpHeader& h) {
    uint8_t raw[12];
    std::copy(b.begin(), b.end(), raw);
    return wg::RtlTcpHeader::Parse(raw, h);
  };
  wg::RtlTcpHeader h;
  ASSERT_EQ(parse(header("RTL0", RTLSDR_TUNER_R820T, 29), h), Check::Ok);
  EXPECT_EQ(h.tuner, unsigned{RTLSDR_TUNER_R820T});
  EXPECT_EQ(h.gainCount, 29u);
  EXPECT_EQ(parse(header("HTTP", 5, 29), h), Check::NotRtlTcp);
  EXPECT_EQ(parse(header("RTL1", 5, 29), h), Check::NotRtlTcp);
  EXPECT_EQ(parse(header("RTL0", 7, 29), h), Check::UnknownTuner);
  EXPECT_EQ(parse(header("RTL0", 0xffffffff, 29), h), Check::UnknownTuner);
  EXPECT_EQ(parse(header("RTL0", 5, 0xffffffff), h), Check::TooManyGains);
  EXPECT_EQ(h.tuner, unsigned{RTLSDR_TUNER_R820T});  // a refused header changes nothing
}

// Nothing the stick would refuse is sent: the server would keep the stream
// at the previous frequency or rate without a word.
TEST(RtlTcpTuners, OnlyWhatTheStickTakesIsSent) {
  EXPECT_TRUE(wg::RtlTcpTunes(RTLSDR_TUNER_R820T, 0, 24000000));
  EXPECT_TRUE(wg::RtlTcpTunes(RTLSDR_TUNER_R820T, 0, 1766000000));
  EXPECT_FALSE(wg::RtlTcpTunes(RTLSDR_TUNER_R820T, 0, 23999999));
  EXPECT_FALSE(wg::RtlTcpTunes(RTLSDR_TUNER_R820T, 0, 1766000001));
  EXPECT_TRUE(wg::RtlTcpTunes(RTLSDR_TUNER_R820T, 2, 7100000));  // HF through direct sampling
  EXPECT_FALSE(wg::RtlTcpTunes(RTLSDR_TUNER_R820T, 1, 100000000));
  EXPECT_TRUE(wg::RtlTcpTunes(RTLSDR_TUNER_E4000, 0, 2000000000));
  EXPECT_FALSE(wg::RtlTcpTunes(RTLSDR_TUNER_FC2580, 0, 400000000));

  for (uint32_t r : {225001u, 300000u, 900001u, 3200000u}) EXPECT_TRUE(wg::RtlTcpRateAccepted(r)) << r;
  for (uint32_t r : {0u, 225000u, 300001u, 900000u, 3200001u}) EXPECT_FALSE(wg::RtlTcpRateAccepted(r)) << r;
}

// Times on the stream's clock, from its start.
wg::RtlTcpTime At(double seconds) {
  return wg::RtlTcpTime{} + std::chrono::duration_cast<wg::RtlTcpTime::duration>(std::chrono::duration<double>(seconds));
}

TEST(RtlTcpStreamClock, FollowsTheStickAndCoversWhatTheServerHoldsBack) {
  constexpr double kRate = 6.4e6;  // bytes a second at 3.2 MS/s
  constexpr double kBuffer = wg::RtlTcpStreamClock::kServerBuffer;
  wg::RtlTcpStreamClock clock;
  clock.Start(At(0), kRate);
  // Whole buffers, each arriving a little after it was full; one late.
  for (int i = 1; i <= 6; ++i) clock.Arrived(At(i * kBuffer / kRate + (i == 4 ? 0.02 : 0.0002)), uint64_t(i * kBuffer));
  // Half a buffer after the sixth: half of the seventh is made, not more.
  const double t = 6.5 * kBuffer / kRate;
  EXPECT_NEAR(double(clock.MadeBy(At(t))), 6.5 * kBuffer, 0.01 * kBuffer);
  // The server holds the next buffers back: the estimate goes on with time.
  EXPECT_NEAR(double(clock.MadeBy(At(t + 0.1))), 6.5 * kBuffer + 0.1 * kRate, 0.01 * kBuffer);

  // Samples dropped on the way (the stream arrives a whole 50 ms behind from
  // then on) are forgotten within a few buffers, not held against it.
  for (int i = 7; i <= 12; ++i) clock.Arrived(At(i * kBuffer / kRate + 0.05), uint64_t(i * kBuffer));
  const double later = 12.2 * kBuffer / kRate + 0.05;
  EXPECT_NEAR(double(clock.MadeBy(At(later))), 12.2 * kBuffer, 0.01 * kBuffer);

  // A slower rate from now on: what was made stands, the rest grows slower.
  clock.SetRate(At(later), kRate / 4);
  EXPECT_NEAR(double(clock.MadeBy(At(later + 0.1))), 12.2 * kBuffer + 0.1 * kRate / 4, 0.01 * kBuffer);
}

TEST(RtlTcpStreamClock, RetuneRuleKeepsPastEverythingUnderWayAndOnAPair) {
  // Past what arrived or was made, whichever is further, and past what the
  // stick makes over the round trip and the server's carrying out.
  const uint64_t fromArrived = wg::RtlTcpStream::StartAfter(1000001, 500000, 6.4e6, 0us);
  const uint64_t fromMade = wg::RtlTcpStream::StartAfter(500000, 1000001, 6.4e6, 0us);
  EXPECT_EQ(fromArrived, fromMade);
  EXPECT_GT(fromArrived, 1000001u);
  EXPECT_EQ(fromArrived % 2, 0u);
  const uint64_t farAway = wg::RtlTcpStream::StartAfter(1000000, 0, 6.4e6, 20000us);
  EXPECT_GE(farAway - fromArrived, uint64_t(0.02 * 6.4e6) - 2);

  // A read takes the last bytes of the server buffer it would end in.
  EXPECT_EQ(wg::RtlTcpStream::LatestStart(1000, 24576), 262144u - 24576);
  EXPECT_EQ(wg::RtlTcpStream::LatestStart(262144 - 24576, 24576), 262144u - 24576);
  EXPECT_EQ(wg::RtlTcpStream::LatestStart(250000, 24576), 524288u - 24576);
  EXPECT_EQ(wg::RtlTcpStream::LatestStart(1000, 24577) % 2, 0u);
  EXPECT_GE(wg::RtlTcpStream::LatestStart(1000, 24577), 1000u);
}

}  // namespace
