// The gqrx remote against a fake remote control of the test's own: a TCP
// server on a free local port that records the lines it gets and answers as
// it is told.
#include "ui/GqrxRemote.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// Long enough for a loaded machine; the waits end as soon as the answer is in.
constexpr int kPatienceMs = 30000;

class FakeGqrx : public QObject {
 public:
  enum class Mode { Answer, Refuse, Silent, AnswerAndHangUp, Hold, Garbage, Flood };
  Mode mode = Mode::Answer;
  std::vector<QByteArray> lines;
  int connections = 0;
  // Flood: bytes without a line feed, kFloodCap at most, as fast as taken.
  static constexpr qint64 kFloodCap = 64 << 20;
  qint64 flooded = 0;
  bool hungUp = false;

  FakeGqrx() {
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        ++connections;
        last_ = s;
        QObject::connect(s, &QTcpSocket::disconnected, s, [this] { hungUp = true; });
        QObject::connect(s, &QTcpSocket::bytesWritten, s, [this, s](qint64 n) {
          flooded += n;
          Pour(s);
        });
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
          while (s->canReadLine()) {
            lines.push_back(s->readLine().trimmed());
            Pour(s);
            if (mode == Mode::Garbage) s->write("HTTP/1.1 400 Bad Request\r\n");
            if (mode == Mode::Silent || mode == Mode::Hold || mode == Mode::Garbage || mode == Mode::Flood) continue;
            s->write(mode == Mode::Refuse ? "RPRT 1\n" : "RPRT 0\n");
            if (mode == Mode::AnswerAndHangUp) s->disconnectFromHost();
          }
        });
      }
    });
  }
  quint16 Port() const { return server_.serverPort(); }
  // Answers what was held and answers at once from now on.
  void Release() {
    mode = Mode::Answer;
    last_->write("RPRT 0\n");
  }

 private:
  void Pour(QTcpSocket* s) {
    while (mode == Mode::Flood && s->state() == QAbstractSocket::ConnectedState && s->bytesToWrite() < (1 << 20) &&
           flooded + s->bytesToWrite() < kFloodCap)
      s->write(QByteArray(64 << 10, 'x'));
  }
  QTcpServer server_;
  QTcpSocket* last_ = nullptr;
};

struct Outcome {
  qint64 hz;
  QString mode;
  bool ok;
  QString detail;
};

class GqrxRemoteTest : public ::testing::Test {
 protected:
  GqrxRemoteTest() {
    remote.SetAddress("127.0.0.1", gqrx.Port());
    QObject::connect(&remote, &wg::TGqrxRemote::Done, &remote, [this](qint64 hz, const QString& mode, bool ok,
                                                                        const QString& d) {
      done.push_back({hz, mode, ok, d});
    });
  }
  bool WaitFor(size_t n) {
    return QTest::qWaitFor([&] { return done.size() >= n; }, kPatienceMs);
  }
  FakeGqrx gqrx;
  wg::TGqrxRemote remote;
  std::vector<Outcome> done;
};

TEST_F(GqrxRemoteTest, TunesOverOneConnection) {
  remote.Tune(145500000);
  // The call only starts the work: nothing can have reached gqrx yet.
  EXPECT_TRUE(gqrx.lines.empty());
  ASSERT_TRUE(WaitFor(1));
  remote.Tune(1766000000);
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(gqrx.lines, (std::vector<QByteArray>{"F 145500000", "F 1766000000"}));
  EXPECT_EQ(gqrx.connections, 1);
  EXPECT_EQ(done[0].hz, 145500000);
  EXPECT_TRUE(done[0].ok);
  EXPECT_EQ(done[1].hz, 1766000000);
  EXPECT_TRUE(done[1].ok);
}

// Clicks faster than gqrx answers: the newest frequency is the one that goes
// out after the answer; the ones in between are never sent.
TEST_F(GqrxRemoteTest, OnlyTheNewestWaits) {
  gqrx.mode = FakeGqrx::Mode::Hold;
  remote.Tune(100000000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return gqrx.lines.size() == 1; }, kPatienceMs));
  remote.Tune(101000000);
  remote.Tune(102000000);
  QTest::qWait(20);
  EXPECT_EQ(gqrx.lines.size(), 1u);  // still waiting for the first answer
  gqrx.Release();
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(gqrx.lines, (std::vector<QByteArray>{"F 100000000", "F 102000000"}));
  EXPECT_EQ(done[0].hz, 100000000);
  EXPECT_EQ(done[1].hz, 102000000);
  EXPECT_TRUE(done[1].ok);
}

TEST_F(GqrxRemoteTest, RefusalsSilenceAndHangUps) {
  gqrx.mode = FakeGqrx::Mode::Refuse;
  remote.Tune(88000000);
  ASSERT_TRUE(WaitFor(1));
  EXPECT_FALSE(done[0].ok);
  EXPECT_EQ(done[0].detail, "RPRT 1");

  gqrx.mode = FakeGqrx::Mode::Silent;
  remote.SetTimeout(200);
  remote.Tune(89000000);
  ASSERT_TRUE(WaitFor(2));
  EXPECT_FALSE(done[1].ok);
  EXPECT_EQ(done[1].hz, 89000000);
  EXPECT_TRUE(done[1].detail.contains("200 ms")) << done[1].detail.toStdString();

  // A remote that hangs up after answering is called again for the next tune.
  gqrx.mode = FakeGqrx::Mode::AnswerAndHangUp;
  remote.SetTimeout(kPatienceMs);
  remote.Tune(90000000);
  ASSERT_TRUE(WaitFor(3));
  EXPECT_TRUE(done[2].ok);
  remote.Tune(91000000);  // before or after the hang-up has arrived
  ASSERT_TRUE(WaitFor(4));
  EXPECT_TRUE(done[3].ok) << done[3].detail.toStdString();
  EXPECT_EQ(gqrx.lines.back(), "F 91000000");
}

TEST(GqrxDemodulator, FollowsTheWidthAndTheBand) {
  const struct {
    double hz, bandwidth;
    const char* mode;
  } cases[] = {{95000000, 150000, "WFM"}, {144800000, 10800, "FM"},  {125000000, 8000, "AM"}, {136990000, NAN, "AM"},
               {137000000, 1800, ""},     {146520000, NAN, ""},      {99700000, NAN, "WFM"}, {87400000, NAN, ""}};
  for (const auto& c : cases)
    EXPECT_EQ(wg::TGqrxRemote::DemodulatorFor(c.hz, c.bandwidth), c.mode) << c.hz << " " << c.bandwidth;
}

// The demodulator goes first, each command once its predecessor is answered;
// one refused ends the tune there, and a hang-up after it sends it no more.
TEST_F(GqrxRemoteTest, TheDemodulatorThenTheFrequency) {
  remote.Tune(147950000, "WFM");
  ASSERT_TRUE(WaitFor(1));
  remote.Tune(146520000);
  ASSERT_TRUE(WaitFor(2));
  EXPECT_EQ(gqrx.lines, (std::vector<QByteArray>{"M WFM", "F 147950000", "F 146520000"}));
  EXPECT_TRUE(done[0].ok && done[1].ok);
  EXPECT_EQ(done[0].mode, "WFM");
  gqrx.mode = FakeGqrx::Mode::Refuse;
  remote.Tune(125000000, "AM");
  ASSERT_TRUE(WaitFor(3));
  EXPECT_EQ(done[2].detail, "M AM: RPRT 1");
  EXPECT_EQ(gqrx.lines.back(), "M AM");
  gqrx.mode = FakeGqrx::Mode::AnswerAndHangUp;
  gqrx.lines.clear();
  remote.Tune(144800000, "FM");
  ASSERT_TRUE(WaitFor(4));
  EXPECT_TRUE(done[3].ok) << done[3].detail.toStdString();
  EXPECT_EQ(std::count(gqrx.lines.begin(), gqrx.lines.end(), "M FM"), 1);
  EXPECT_EQ(gqrx.lines.back(), "F 144800000");
}

// Whatever answers on the port, the outcome is one line: a flood without a
// line feed is hung up on after an answer's worth of bytes, and what is not
// gqrx's answer is said to be so, not shown.
TEST_F(GqrxRemoteTest, OnlyAShortRprtLineIsAnAnswer) {
  const QString notGqrx = QString::fromUtf8("не ответ удалённого управления gqrx");
  const struct {
    FakeGqrx::Mode mode;
    int timeoutMs;
    QString detail;
  } rows[] = {{FakeGqrx::Mode::Flood, kPatienceMs, notGqrx},
              {FakeGqrx::Mode::Garbage, kPatienceMs, notGqrx},
              {FakeGqrx::Mode::Answer, kPatienceMs, "RPRT 0"},
              {FakeGqrx::Mode::Silent, 300, "no answer within 300 ms"}};
  for (const auto& r : rows) {
    gqrx.mode = r.mode;
    remote.SetTimeout(r.timeoutMs);
    remote.Tune(145500000, "FM");
    ASSERT_TRUE(WaitFor(done.size() + 1));
    EXPECT_EQ(done.back().ok, r.mode == FakeGqrx::Mode::Answer);
    EXPECT_EQ(done.back().detail.toStdString(), r.detail.toStdString());
    if (r.mode == FakeGqrx::Mode::Flood) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return gqrx.hungUp; }, kPatienceMs));
    }
  }
  EXPECT_LT(gqrx.flooded, FakeGqrx::kFloodCap / 2) << "no more than the system's buffers took";
}

TEST_F(GqrxRemoteTest, NobodyListening) {
  QTcpServer closed;
  closed.listen(QHostAddress::LocalHost);
  const quint16 port = closed.serverPort();
  closed.close();
  remote.SetAddress("127.0.0.1", port);
  remote.Tune(433920000);
  ASSERT_TRUE(WaitFor(1));
  EXPECT_EQ(done[0].hz, 433920000);
  EXPECT_FALSE(done[0].ok);
  EXPECT_FALSE(done[0].detail.isEmpty());
}

// The window's thread busy (no event of it handled) while a peer pours
// bytes: the remote still reads an answer's worth and hangs up, on its own.
TEST_F(GqrxRemoteTest, APeerThatPoursIsHungUpOnWhileTheCallerIsBusy) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::atomic<bool> hungUp{false};
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  std::thread pour([&] {
    const int s = ::accept(listener, nullptr, nullptr);
    const timeval wait{0, 100000};
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    const std::string chunk(64 << 10, 'x');
    while (std::chrono::steady_clock::now() < until) {
      if (::send(s, chunk.data(), chunk.size(), MSG_NOSIGNAL) >= 0 || errno == EAGAIN || errno == EINTR) continue;
      hungUp = errno == EPIPE || errno == ECONNRESET;
      break;
    }
    ::close(s);
  });
  remote.SetAddress("127.0.0.1", ntohs(a.sin_port));
  remote.Tune(145500000);
  pour.join();  // this thread handles no event meanwhile
  EXPECT_TRUE(hungUp);
  ::close(listener);
  ASSERT_TRUE(WaitFor(1));
  EXPECT_FALSE(done[0].ok);
}

}  // namespace
