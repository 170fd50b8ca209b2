// A remote receiver against a small server of the tests' own that misbehaves
// on purpose: nothing listening, something that is not rtl_tcp, a server that
// says nothing, one that stops sending, one that closes after its header; and
// the bytes of the commands the client sends.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <rtl-sdr.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "receiver/Receiver.h"
#include "receiver/RtlTcpDevice.h"
#include "tests/common/RtlTcpServer.h"
#include "tests/common/RunQueueWait.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using wgtest::FakeServer;

wg::RtlTcpAddress Where(const FakeServer& s) { return {"127.0.0.1", s.Port()}; }

const std::vector<uint8_t> kR820tHeader = FakeServer::Header("RTL0", RTLSDR_TUNER_R820T, 29);

TEST(RtlTcpFaults, OpeningTellsNothingListeningFromNotAServer) {
  // A port nothing listens on any more.
  uint16_t free;
  {
    FakeServer gone({}, 0, true);
    free = gone.Port();
  }
  wg::RtlTcpDevice nobody({"127.0.0.1", free});
  EXPECT_EQ(nobody.Open(), wg::kRtlTcpRefused);

  struct Case {
    std::vector<uint8_t> greeting;
    int result;
  };
  const std::string http = "HTTP/1.0 400 Bad Request\r\n\r\n";
  const Case cases[] = {
      {{http.begin(), http.end()}, wg::kRtlTcpNotRtlTcp},
      {FakeServer::Header("RTL0", 99, 29), wg::kRtlTcpNotRtlTcp},
      {FakeServer::Header("RTL0", RTLSDR_TUNER_R820T, 1u << 30), wg::kRtlTcpNotRtlTcp},
      {{'R', 'T', 'L'}, wg::kRtlTcpNoHeader},  // closes mid-header
      {{}, wg::kRtlTcpNoHeader},               // says nothing: not one, or busy with another client
  };
  for (const Case& c : cases) {
    FakeServer s(c.greeting, 0, !c.greeting.empty());
    wg::RtlTcpDevice dev(Where(s));
    int result = 0;
    // Within the receiver's watchdog, whatever the server does.
    EXPECT_LT(wgtest::HeldFor([&] { result = dev.Open(); }), wg::Receiver::kHangTime);
    EXPECT_EQ(result, c.result) << c.greeting.size();
    EXPECT_FALSE(dev.Listed());
  }
}

TEST(RtlTcpFaults, CommandsGoOutAsTheServerReadsThemAndOnlyWhatAStickTakes) {
  FakeServer s(kR820tHeader, 0, false);
  wg::RtlTcpDevice dev(Where(s));
  ASSERT_EQ(dev.Open(), 0);
  EXPECT_EQ(dev.TunerType(), unsigned{RTLSDR_TUNER_R820T});
  std::vector<int> gains;
  EXPECT_EQ(dev.TunerGains(gains), 29);
  EXPECT_EQ(dev.Serial(), "rtl_tcp=127.0.0.1:" + std::to_string(s.Port()));

  EXPECT_EQ(dev.SetSampleRate(2400000), 0);
  EXPECT_EQ(dev.SetSampleRate(2400000), 0);  // in force already: not sent again
  EXPECT_EQ(dev.SetSampleRate(500000), wg::kRtlTcpRefusedValue);
  EXPECT_EQ(dev.SampleRate(), 2400000u);
  EXPECT_EQ(dev.SetCentre(10000000), wg::kRtlTcpRefusedValue);  // below the R820T
  EXPECT_EQ(dev.SetCentre(100000000), 0);
  EXPECT_EQ(dev.SetGainMode(1), 0);
  EXPECT_EQ(dev.SetGain(-10), 0);
  EXPECT_EQ(dev.SetFreqCorrection(-5), 0);
  EXPECT_EQ(dev.FreqCorrection(), -5);
  EXPECT_EQ(dev.SetAgc(true), 0);
  EXPECT_EQ(dev.SetDirectSampling(2), 0);
  EXPECT_EQ(dev.SetCentre(7100000), 0);  // HF, with direct sampling
  EXPECT_EQ(dev.SetOffsetTuning(true), 0);
  EXPECT_EQ(dev.SetGainByIndex(3), 0);
  EXPECT_EQ(dev.SetGainByIndex(29), wg::kRtlTcpRefusedValue);
  EXPECT_EQ(dev.SetBiasTee(true), 0);
  const std::vector<uint8_t> want = {
      0x02, 0x00, 0x24, 0x9f, 0x00,  // 2,400,000
      0x01, 0x05, 0xf5, 0xe1, 0x00,  // 100 MHz
      0x03, 0x00, 0x00, 0x00, 0x01, 0x04, 0xff, 0xff, 0xff, 0xf6, 0x05, 0xff, 0xff, 0xff, 0xfb,
      0x08, 0x00, 0x00, 0x00, 0x01, 0x09, 0x00, 0x00, 0x00, 0x02,
      0x01, 0x00, 0x6c, 0x56, 0x60,  // 7.1 MHz
      0x0a, 0x00, 0x00, 0x00, 0x01, 0x0d, 0x00, 0x00, 0x00, 0x03, 0x0e, 0x00, 0x00, 0x00, 0x01};
  ASSERT_TRUE(s.WaitReceived(want.size(), 5s));
  EXPECT_EQ(s.Received(), want);
}

// The server keeps the connection but sends nothing more: the read gives the
// connection up, late enough for the receiver's watchdog to have spoken.
TEST(RtlTcpFaults, AReadFromAServerThatStopsSendingGivesTheConnectionUp) {
  FakeServer s(kR820tHeader, 4096, false);
  wg::RtlTcpDevice dev(Where(s));
  ASSERT_EQ(dev.Open(), 0);
  ASSERT_EQ(dev.SetCentre(100000000), 0);
  ASSERT_EQ(dev.ResetBuffer(), 0);
  std::vector<uint8_t> buf(131072);
  int count = -1;
  EXPECT_EQ(dev.Read(buf.data(), 131072, &count), wg::kRtlTcpStalled);
  EXPECT_TRUE(dev.MeansGone(wg::kRtlTcpStalled));
  EXPECT_FALSE(dev.Listed());
  // Tuning on a connection given up is left for the read to report, at once,
  // so that the receiver looks for the server instead of skipping the step.
  EXPECT_EQ(dev.SetCentre(100000000), 0);
  EXPECT_EQ(dev.ResetBuffer(), 0);
  EXPECT_EQ(dev.Read(buf.data(), 131072, &count), wg::kRtlTcpLost);
}

// A receiver of the served stick, taking one step after another once open,
// and what it said.
struct Sweeping {
  std::mutex m;
  std::condition_variable cv;
  std::vector<wg::ReceiverEvent::Kind> kinds;
  wg::ReceiverListener Listener() {
    return [this](const wg::ReceiverEvent& e) {
      std::lock_guard lk(m);
      kinds.push_back(e.kind);
      cv.notify_all();
    };
  }
  bool Wait(wg::ReceiverEvent::Kind k, std::chrono::seconds within) {
    std::unique_lock lk(m);
    return cv.wait_for(lk, within, [&] { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); });
  }
  wg::Receiver r;
  explicit Sweeping(const FakeServer& s) : r(std::make_unique<wg::RtlTcpDevice>(Where(s)), {}, Listener()) {}
  bool Opened();
};

// Hands out one step after another, forever.
struct EndlessSteps : wg::StepSource {
  std::atomic<int> done{0};
  bool NextStep(wg::ReceiverId, wg::StepTask& task, wg::SteadyTime&) override {
    task.centre = 100000000;
    task.rate = 3200000;
    return true;
  }
  void StepDone(wg::ReceiverId, const wg::StepTask&, const wg::StepResult&) override { ++done; }
};

bool Sweeping::Opened() {
  if (!r.Start() || !r.WaitOpened(5s) || r.State() != wg::ReceiverState::Open) return false;
  r.SetSource(std::make_shared<EndlessSteps>());
  return true;
}

// The same under a receiver: a server that pauses, after some stream or right
// after its header, is a connection lost and made again, never a receiver
// hung for good; and closing the receiver meanwhile holds nobody.
TEST(RtlTcpFaults, AServerThatFallsSilentIsConnectedAgainNotGivenUp) {
  EXPECT_GT(wg::RtlTcpDevice::kHangTime, wg::RtlTcpDevice::kStallTime + wg::RtlTcpDevice::kConnectTime);
  EXPECT_EQ(wg::RtlTcpDevice({"127.0.0.1", 1}).HangTime(), wg::RtlTcpDevice::kHangTime);
  for (const size_t streamBytes : {size_t{4096}, size_t{0}}) {
    FakeServer s(kR820tHeader, streamBytes, false);
    Sweeping sweeping(s);
    ASSERT_TRUE(sweeping.Opened()) << streamBytes;
    EXPECT_TRUE(sweeping.Wait(wg::ReceiverEvent::Kind::Gone, 15s)) << streamBytes;
    EXPECT_TRUE(sweeping.Wait(wg::ReceiverEvent::Kind::Back, 15s)) << streamBytes;
    const auto held = wgtest::HeldFor([&] { sweeping.r.Close(wg::Receiver::kCloseWait); });
    EXPECT_LT(held, wg::RtlTcpDevice::kHangTime) << streamBytes;
    std::lock_guard lk(sweeping.m);
    EXPECT_EQ(std::count(sweeping.kinds.begin(), sweeping.kinds.end(), wg::ReceiverEvent::Kind::Hung), 0)
        << streamBytes;
    EXPECT_NE(sweeping.r.State(), wg::ReceiverState::Hung) << streamBytes;
  }
}

// The server closes each connection after its header and a little stream:
// the receiver hears it is gone and connects again, a second after the loss
// and, while no step gets through, after longer and longer waits.
TEST(RtlTcpFaults, ALostConnectionIsOpenedAgainAfterGrowingWaits) {
  FakeServer s(kR820tHeader, 1024, true);
  Sweeping sweeping(s);
  ASSERT_TRUE(sweeping.Opened());
  ASSERT_TRUE(sweeping.Wait(wg::ReceiverEvent::Kind::Gone, 10s));
  ASSERT_TRUE(sweeping.Wait(wg::ReceiverEvent::Kind::Back, 10s));
  // Back, and gone again at its first step; the next waits are longer.
  const auto deadline = Clock::now() + 15s;
  while (s.Accepted().size() < 4 && Clock::now() < deadline) std::this_thread::sleep_for(50ms);
  const auto at = s.Accepted();
  ASSERT_GE(at.size(), 4u);
  EXPECT_GE(at[1] - at[0], wg::RtlTcpDevice::kFirstRetry);
  EXPECT_GT(at[3] - at[2], at[2] - at[1]);
}

}  // namespace
