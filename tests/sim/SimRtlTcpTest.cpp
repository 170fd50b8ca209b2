// Debian's rtl_tcp serving the simulated stick on 127.0.0.1, driven by a
// small client of the test's own: the header, every command rtl_tcp forwards
// (each seen acting on the stream, since the protocol sends no answers), and
// how many bytes still come from before a retune.
#include "tests/sim/SimTestUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <numeric>
#include <thread>

extern char** environ;

namespace {

using simtest::AmplitudeOf;
using simtest::Db;
using simtest::ToneAmplitude;

constexpr uint32_t kCentre = 146000000;
constexpr double kOffset = 400300;  // of the carrier at 146.4003 MHz
constexpr size_t kLook = 65536;     // bytes a level is taken over

enum Command : uint8_t {
  kFrequency = 0x01,
  kSampleRate = 0x02,
  kGainMode = 0x03,
  kGain = 0x04,
  kFreqCorrection = 0x05,
  kAgc = 0x08,
  kDirectSampling = 0x09,
  kOffsetTuning = 0x0a,
  kGainByIndex = 0x0d,
  kBiasTee = 0x0e,
};

class RtlTcp : public ::testing::Test {
 protected:
  void TearDown() override {
    if (fd_ >= 0) ::close(fd_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (::waitpid(pid_, &status, WNOHANG) == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
      }
    }
    if (!scene_.empty()) std::remove(scene_.c_str());
  }

  // Starts rtl_tcp on the simulator with the scene and RTLSDR_SIM_* settings
  // given, tuned to kCentre at 3.2 MS/s, connects and reads the header.
  void Start(const std::string& scene, std::vector<std::string> sim) {
    scene_ = "/tmp/wg-sim-tcp-scene-" + std::to_string(::getpid());
    std::ofstream(scene_) << scene;
    const int port = FreePort();
    ASSERT_GT(port, 0);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "RTLSDR_SIM_", 11) != 0 && std::strncmp(*e, "LD_LIBRARY_PATH=", 16) != 0)
        env.push_back(*e);
    env.push_back("LD_LIBRARY_PATH=" WG_SIM_DIR);
    env.push_back("RTLSDR_SIM_SCENE=" + scene_);
    for (std::string& s : sim) env.push_back("RTLSDR_SIM_" + s);
    const std::vector<std::string> args = {WG_RTL_TCP, "-a", "127.0.0.1", "-p", std::to_string(port),
                                           "-f", std::to_string(kCentre), "-s", "3200000"};
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    ASSERT_EQ(::posix_spawn(&pid_, WG_RTL_TCP, &quiet, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&quiet);

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) break;
      ::close(fd_);
      fd_ = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(fd_, 0) << "rtl_tcp does not listen";
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    header = Take(12);
  }

  static int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      port = ntohs(addr.sin_port);
    ::close(s);
    return port;
  }

  void Send(Command c, uint32_t param) {
    uint8_t m[5] = {c, static_cast<uint8_t>(param >> 24), static_cast<uint8_t>(param >> 16),
                    static_cast<uint8_t>(param >> 8), static_cast<uint8_t>(param)};
    ASSERT_EQ(::send(fd_, m, sizeof m, MSG_NOSIGNAL), 5);
  }

  std::vector<uint8_t> Take(size_t n) {
    std::vector<uint8_t> b(n);
    for (size_t got = 0; got < n;) {
      const ssize_t r = ::recv(fd_, b.data() + got, n - got, 0);
      if (r <= 0) {
        ADD_FAILURE() << "the stream stopped after " << got << " of " << n << " bytes";
        b.resize(got);
        return b;
      }
      got += static_cast<size_t>(r);
    }
    return b;
  }

  // Bytes that came before the first window of `window` bytes where `shows`
  // holds; -1 when none within `limit` bytes.
  long BytesUntil(const std::function<bool(const std::vector<uint8_t>&)>& shows, size_t window,
                  size_t limit) {
    for (size_t before = 0; before < limit; before += window) {
      const std::vector<uint8_t> b = Take(window);
      if (b.size() < window) return -1;
      if (shows(b)) return static_cast<long>(before);
    }
    return -1;
  }

  // Whether a carrier at `offset` comes to `levelDb` (within `tolDb`) in the
  // next 8 MB of the stream, at sample rate `rate`.
  bool Shows(double offset, double levelDb, double tolDb = 1, double rate = 3200000) {
    return BytesUntil(
               [&](const std::vector<uint8_t>& b) {
                 const double a = ToneAmplitude(b, 0, b.size(), offset, rate);
                 return std::abs(Db(a / AmplitudeOf(levelDb))) < tolDb;
               },
               kLook, 8u << 20) >= 0;
  }

  std::vector<uint8_t> header;

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string scene_;
};

// An E4000 stick (so that offset tuning is allowed) with an exact crystal (so
// that the correction moves what is received), an amplifier behind the
// bias-T, and the filter on (so that the DC offset shows).
TEST_F(RtlTcp, EveryCommandActsOnTheStream) {
  if (std::string(WG_RTL_TCP).empty()) GTEST_SKIP() << "rtl_tcp (Debian package rtl-sdr) not found";
  Start("146400300 -45\n7100000 -30\n",
        {"PACE=1", "FILTER=1", "TUNER=e4000", "PPM=0", "LNA_DB=10"});
  ASSERT_EQ(header.size(), 12u);
  EXPECT_EQ(std::string(header.begin(), header.begin() + 4), "RTL0");
  EXPECT_EQ(header[7], RTLSDR_TUNER_E4000);
  EXPECT_EQ(header[11], 14);  // gains

  // rtl_tcp starts in automatic gain, which the E4000 holds at 24 dB.
  EXPECT_TRUE(Shows(kOffset, -45 + 24)) << "start";
  Send(kGainMode, 1);  // manual, no gain set: the lowest step at or above 0, 1.5 dB
  EXPECT_TRUE(Shows(kOffset, -45 + 1.5)) << "gain mode";
  Send(kGain, 340);
  EXPECT_TRUE(Shows(kOffset, -45 + 34)) << "gain";
  Send(kGainByIndex, 4);  // 9 dB
  EXPECT_TRUE(Shows(kOffset, -45 + 9)) << "gain by index";
  Send(kBiasTee, 1);
  EXPECT_TRUE(Shows(kOffset, -45 + 9 + 10)) << "bias-T on";
  Send(kBiasTee, 0);
  EXPECT_TRUE(Shows(kOffset, -45 + 9)) << "bias-T off";
  Send(kAgc, 1);
  EXPECT_TRUE(Shows(kOffset, -45 + 9 + 20, 8)) << "AGC";
  Send(kAgc, 0);
  EXPECT_TRUE(Shows(kOffset, -45 + 9)) << "AGC off";
  Send(kFreqCorrection, 100);  // shows the carrier 100 ppm of 146 MHz higher
  EXPECT_TRUE(Shows(kOffset + kCentre * (1 - 1 / 1.0001), -45 + 9)) << "frequency correction";
  Send(kFreqCorrection, 0);
  Send(kFrequency, kCentre + 200000);
  EXPECT_TRUE(Shows(kOffset - 200000, -45 + 9)) << "frequency";
  Send(kSampleRate, 1600000);
  EXPECT_TRUE(Shows(kOffset - 200000, -45 + 9, 1, 1600000)) << "sample rate";
  Send(kSampleRate, 3200000);

  auto dcBelow = [](double most) {
    return [most](const std::vector<uint8_t>& b) { return ToneAmplitude(b, 0, b.size(), 0) < most; };
  };
  auto dcAbove = [](double least) {
    return [least](const std::vector<uint8_t>& b) { return ToneAmplitude(b, 0, b.size(), 0) > least; };
  };
  EXPECT_GE(BytesUntil(dcAbove(0.2), kLook, 8u << 20), 0) << "the centre spike";
  Send(kOffsetTuning, 1);
  EXPECT_GE(BytesUntil(dcBelow(0.05), kLook, 8u << 20), 0) << "offset tuning";
  Send(kOffsetTuning, 0);
  EXPECT_GE(BytesUntil(dcAbove(0.2), kLook, 8u << 20), 0) << "offset tuning off";

  Send(kDirectSampling, 1);
  Send(kFrequency, 7000000);  // no tuner gain in the path
  EXPECT_TRUE(Shows(100000, -30)) << "direct sampling";
}

// rtl_tcp queues whole buffers of the library's (262144 bytes here) and
// nothing in the stream marks where a retune starts. Measured and printed:
// the bytes a client still receives from the old tuning after it sent the
// command, reading at once, and after it left the stream unread for 300 ms.
// How many depends on how far the client lags, so only what holds on any
// machine is checked: the old tuning never returns once the new one shows,
// and what waited unread comes first.
TEST_F(RtlTcp, RetuneShowsAfterWhatWasUnderWay) {
  if (std::string(WG_RTL_TCP).empty()) GTEST_SKIP() << "rtl_tcp (Debian package rtl-sdr) not found";
  Start("146400300 -30\n", {"PACE=1", "FILTER=0"});
  Send(kGainMode, 1);
  // At 146 MHz the carrier is 400.3 kHz up; at 147 MHz 599.7 kHz down.
  constexpr size_t kWindow = 4096;
  auto at = [](double offset) {
    return [offset](const std::vector<uint8_t>& b) {
      return ToneAmplitude(b, 0, b.size(), offset) > AmplitudeOf(-30) * 0.5;
    };
  };
  ASSERT_TRUE(Shows(kOffset, -30));
  uint32_t tuned = kCentre;
  auto retune = [&] {
    tuned = tuned == kCentre ? kCentre + 1000000 : kCentre;
    Send(kFrequency, tuned);
    return BytesUntil(at(146400300.0 - tuned), kWindow, 64u << 20);
  };
  auto summary = [](std::vector<long> v) {
    std::sort(v.begin(), v.end());
    return "min " + std::to_string(v.front()) + ", median " + std::to_string(v[v.size() / 2]) +
           ", max " + std::to_string(v.back()) + " bytes";
  };

  std::vector<long> prompt, late;
  for (int i = 0; i < 20; ++i) {
    Take(100000 + 37000 * static_cast<size_t>(i % 7));  // commands at different points of a buffer
    const long stale = retune();
    ASSERT_GE(stale, 0);
    prompt.push_back(stale);
    // Once the new tuning shows, nothing of the old one comes back.
    const long ghost = BytesUntil(at(146400300.0 - (tuned == kCentre ? kCentre + 1000000 : kCentre)), kWindow,
                                  262144);
    EXPECT_EQ(ghost, -1) << "retune " << i;
  }
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long stale = retune();
    ASSERT_GE(stale, 0);
    late.push_back(stale);
    Take(1 << 20);
  }
  std::cout << "rtl_tcp retune, client reading at once: " << summary(prompt) << "\n"
            << "rtl_tcp retune, stream left unread 300 ms: " << summary(late) << "\n";
  RecordProperty("stale_bytes_prompt", summary(prompt));
  RecordProperty("stale_bytes_after_300ms", summary(late));
  EXPECT_GE(*std::min_element(late.begin(), late.end()), 262144);
}

}  // namespace
