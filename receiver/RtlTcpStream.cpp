#include "receiver/RtlTcpStream.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <linux/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <system_error>

namespace wg {
namespace {

using Clock = std::chrono::steady_clock;

// What the stick makes between a command's arrival and its samples being of
// the new frequency: the server's command thread waking and the library's
// calls to the stick (see StartAfter for the measurements), then the
// tuner's settling, which rtl_power waits out after each retune. Together
// no longer than lets a written step at 3.2 MS/s end in the server buffer
// under way when it was tuned.
constexpr std::chrono::microseconds kCarryOut{10000};
constexpr std::chrono::microseconds kTunerSettles{5000};

// A command that cannot be handed to the network in this time means the
// server has stopped reading them.
constexpr std::chrono::milliseconds kSendWait{200};

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

struct Address {
  sockaddr_storage storage{};
  socklen_t length = 0;
  int family = 0;
};

std::vector<Address> Collect(addrinfo* list) {
  std::vector<Address> out;
  for (addrinfo* a = list; a && out.size() < 16; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Address x;
    std::memcpy(&x.storage, a->ai_addr, a->ai_addrlen);
    x.length = a->ai_addrlen;
    x.family = a->ai_family;
    out.push_back(x);
  }
  return out;
}

// A name lookup run on a thread of its own: the name service may take longer
// than the receiver's watchdog allows, and is then left to finish alone.
struct Lookup {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::vector<Address> found;
};

bool Resolve(const RtlTcpAddress& address, Clock::time_point deadline, std::vector<Address>& out) {
  const std::string port = std::to_string(address.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int numeric = ::getaddrinfo(address.host.c_str(), port.c_str(), &hints, &list);
  if (numeric == 0) {
    out = Collect(list);
    ::freeaddrinfo(list);
    return !out.empty();
  }
  if (numeric != EAI_NONAME) return false;
  auto job = std::make_shared<Lookup>();
  try {
    std::thread([job, host = address.host, port] {
      addrinfo h{};
      h.ai_family = AF_UNSPEC;
      h.ai_socktype = SOCK_STREAM;
      h.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
      addrinfo* res = nullptr;
      std::vector<Address> found;
      if (::getaddrinfo(host.c_str(), port.c_str(), &h, &res) == 0) {
        found = Collect(res);
        ::freeaddrinfo(res);
      }
      std::lock_guard lk(job->m);
      job->found = std::move(found);
      job->done = true;
      job->cv.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock lk(job->m);
  if (!job->cv.wait_until(lk, deadline, [&] { return job->done; })) return false;
  out = std::move(job->found);
  return !out.empty();
}

// A connected socket, or -1 (with `refused` set when something answered no).
int ConnectOne(const Address& a, Clock::time_point deadline, bool& refused) {
  const int fd = ::socket(a.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int error = 0;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.storage), a.length) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int ready;
      do ready = ::poll(&p, 1, MillisLeft(deadline));
      while (ready < 0 && errno == EINTR);
      socklen_t len = sizeof error;
      error = ready <= 0 ? ETIMEDOUT : 0;
      if (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    }
  }
  if (error != 0) {
    refused = refused || error == ECONNREFUSED;
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Commands are five bytes each and must not wait for company.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

bool ReadFully(int fd, uint8_t* buf, size_t length, Clock::time_point deadline) {
  size_t got = 0;
  while (got < length) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, MillisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd, buf + got, length - got, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// --- RtlTcpStreamClock ------------------------------------------------------

void RtlTcpStreamClock::Start(RtlTcpTime t, double bytesPerSecond) {
  origin_ = t;
  rate_ = bytesPerSecond;
  marks_.assign(1, Mark{t, 0});
}

RtlTcpTime RtlTcpStreamClock::Horizon(RtlTcpTime now) const {
  const double window = rate_ > 0 ? kWindowBuffers * kServerBuffer / rate_ : 1.0;
  return now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(window));
}

void RtlTcpStreamClock::Arrived(RtlTcpTime t, uint64_t total) {
  const Mark m{t, static_cast<double>(total)};
  while (!marks_.empty() && Intercept(marks_.back()) <= Intercept(m)) marks_.pop_back();
  marks_.push_back(m);
  const RtlTcpTime horizon = Horizon(t);
  while (marks_.size() > 1 && marks_.front().t < horizon) marks_.pop_front();
}

void RtlTcpStreamClock::SetRate(RtlTcpTime t, double bytesPerSecond) {
  // What was made at the old rate stands; from here on the new one counts.
  const double made = static_cast<double>(MadeBy(t));
  rate_ = bytesPerSecond;
  marks_.assign(1, Mark{t, made});
}

uint64_t RtlTcpStreamClock::MadeBy(RtlTcpTime t) const {
  if (marks_.empty()) return 0;
  const RtlTcpTime horizon = Horizon(t);
  auto best = marks_.begin();
  while (std::next(best) != marks_.end() && best->t < horizon) ++best;
  const double made = best->made + std::max(0.0, Seconds(t) - Seconds(best->t)) * rate_;
  return static_cast<uint64_t>(std::ceil(made));
}

// --- RtlTcpStream -------------------------------------------------------------

RtlTcpStream::RtlTcpStream(int fd) : fd_(fd) {}

std::unique_ptr<RtlTcpStream> RtlTcpStream::Connect(const RtlTcpAddress& address, std::chrono::milliseconds within,
                                                    double bytesPerSecond, RtlTcpHeader& header, Failure& failure) {
  const auto deadline = Clock::now() + within;
  std::vector<Address> addresses;
  if (!Resolve(address, deadline, addresses)) {
    failure = Failure::Unresolved;
    return nullptr;
  }
  int fd = -1;
  bool refused = false;
  for (const Address& a : addresses) {
    if (Clock::now() >= deadline) break;
    if ((fd = ConnectOne(a, deadline, refused)) >= 0) break;
  }
  if (fd < 0) {
    failure = refused ? Failure::Refused : Failure::Unreachable;
    return nullptr;
  }
  uint8_t bytes[RtlTcpHeader::kSize];
  if (!ReadFully(fd, bytes, sizeof bytes, deadline)) {
    ::close(fd);
    failure = Failure::NoHeader;
    return nullptr;
  }
  if (RtlTcpHeader::Parse(bytes, header) != RtlTcpHeader::Check::Ok) {
    ::close(fd);
    failure = Failure::NotRtlTcp;
    return nullptr;
  }
  std::unique_ptr<RtlTcpStream> stream(new RtlTcpStream(fd));
  const auto now = Clock::now();
  // The server starts the stick once it has sent the header.
  stream->clock_.Start(now, bytesPerSecond);
  stream->lastArrival_ = now;
  try {
    stream->reader_ = std::thread([s = stream.get()] { s->Drain(); });
  } catch (const std::system_error&) {
    failure = Failure::Unreachable;
    return nullptr;
  }
  failure = Failure::None;
  return stream;
}

RtlTcpStream::~RtlTcpStream() {
  ::shutdown(fd_, SHUT_RDWR);
  if (reader_.joinable()) reader_.join();
  ::close(fd_);
}

void RtlTcpStream::Drain() {
  std::vector<uint8_t> chunk(65536);
  for (;;) {
    const ssize_t n = ::recv(fd_, chunk.data(), chunk.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    const RtlTcpTime now = Clock::now();
    std::lock_guard lk(m_);
    if (n <= 0) {
      lost_ = true;
      cv_.notify_all();
      return;
    }
    const uint64_t begin = received_, end = begin + static_cast<uint64_t>(n);
    received_ = end;
    lastArrival_ = now;
    clock_.Arrived(now, end);
    if (keeping_ && end > keepFrom_) {
      const uint64_t from = std::max(keepFrom_, begin);
      const size_t take = std::min<size_t>(end - from, kKeepLimit - kept_.size());
      const uint8_t* p = chunk.data() + (from - begin);
      kept_.insert(kept_.end(), p, p + take);
    }
    cv_.notify_all();
  }
}

void RtlTcpStream::MarkLost() {
  {
    std::lock_guard lk(m_);
    lost_ = true;
    cv_.notify_all();
  }
  ::shutdown(fd_, SHUT_RDWR);
}

bool RtlTcpStream::Send(RtlTcpCommand id, uint32_t param) {
  uint8_t bytes[kRtlTcpCommandSize];
  EncodeRtlTcpCommand(id, param, bytes);
  const auto deadline = Clock::now() + kSendWait;
  size_t sent = 0;
  while (sent < sizeof bytes) {
    const ssize_t n = ::send(fd_, bytes + sent, sizeof bytes - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, MillisLeft(deadline)) > 0 || errno == EINTR) continue;
    }
    MarkLost();
    return false;
  }
  return !Lost();
}

void RtlTcpStream::SetRate(double bytesPerSecond) {
  std::lock_guard lk(m_);
  clock_.SetRate(Clock::now(), bytesPerSecond);
}

std::chrono::microseconds RtlTcpStream::RoundTrip() const {
  tcp_info info{};
  socklen_t len = sizeof info;
  if (::getsockopt(fd_, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return std::chrono::microseconds{0};
  // The shortest round trip seen: the way there and back itself. The smoothed
  // one holds the server's wait until its next buffer, on which it sends the
  // acknowledgement of a command.
  return std::chrono::microseconds{int64_t{info.tcpi_min_rtt}};
}

// The retune rule. Samples keep flowing while a command travels: the server
// queues whole buffers of 256 KiB, the stick fills the one under way, and
// nothing in the stream marks where the new tuning begins. So the bytes kept
// begin past everything that had arrived (or sat in the socket) when the
// command went, past everything the stick may have made by then by the
// stream's clock (the buffer under way and any the server held back), and
// past what it makes while the command travels and is carried out and the
// tuner settles: the shortest round trip, kCarryOut and kTunerSettles. A
// read then takes the last bytes of the server buffer it ends in
// (LatestStart), which arrive no later; the settle bytes at its head are the
// stick's own, as on this computer.
//
// Measured against Debian's rtl_tcp serving the simulator (paced, 5 ms tuning
// delay) on this project's two-core machine, a command sent as soon as a
// step's bytes were in, 1,000 retunes at each rate. Bytes of the old tuning
// beyond max(arrived, made) and the settle bytes, at load average 10-13:
//   3.2 and 2.4 MS/s: none; 2.048 MS/s: 0.6 ms; 1.8 MS/s: 2.1 ms; 1.024: none.
// With two compilers running beside (load 14-16) the server's command thread
// wakes late: 12 ms at the 99th percentile, 30 ms at worst (3.2 MS/s). Beyond
// the arrived bytes alone, without the clock: 80 KiB quiet, 300 KiB loaded.
// 15 ms alone let one step in 1,000 through under load; with the latest
// start a fast step at 3.2 MS/s begins some 36 ms after the command, a
// written one 20 ms, and no step of 1,000 showed the old tuning.
uint64_t RtlTcpStream::StartAfter(uint64_t arrived, uint64_t made, double bytesPerSecond,
                                  std::chrono::microseconds roundTrip) {
  const double travel = std::chrono::duration<double>(roundTrip + kCarryOut + kTunerSettles).count() * bytesPerSecond;
  const uint64_t at = std::max(arrived, made) + static_cast<uint64_t>(std::ceil(travel));
  return (at + 1) & ~uint64_t{1};  // an I/Q pair begins on an even byte
}

void RtlTcpStream::Restart() {
  const std::chrono::microseconds roundTrip = RoundTrip();
  // Bytes still in the socket arrived before now, whatever the thread has
  // taken of them since.
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) != 0 || waiting < 0) waiting = 0;
  std::lock_guard lk(m_);
  const auto now = Clock::now();
  keepFrom_ = StartAfter(received_ + static_cast<uint64_t>(waiting), clock_.MadeBy(now), clock_.Rate(), roundTrip);
  keeping_ = true;
  kept_.clear();
}

uint64_t RtlTcpStream::LatestStart(uint64_t from, size_t length) {
  const uint64_t buffer = static_cast<uint64_t>(RtlTcpStreamClock::kServerBuffer);
  const uint64_t arrivesWith = (from + length + buffer - 1) / buffer * buffer;
  return std::max(from, (arrivesWith - length) & ~uint64_t{1});
}

RtlTcpStream::ReadEnd RtlTcpStream::Read(uint8_t* buf, size_t length, size_t& count, std::chrono::milliseconds stall) {
  count = 0;
  if (length > kKeepLimit - static_cast<size_t>(RtlTcpStreamClock::kServerBuffer)) return ReadEnd::TooLong;
  std::unique_lock lk(m_);
  size_t skip = 0;
  if (!keeping_) {
    keepFrom_ = (received_ + 1) & ~uint64_t{1};
    keeping_ = true;
    kept_.clear();
  } else {
    skip = static_cast<size_t>(LatestStart(keepFrom_, length) - keepFrom_);
  }
  ReadEnd end = ReadEnd::Done;
  for (;;) {
    if (kept_.size() >= skip + length) break;
    if (lost_) {
      end = ReadEnd::Lost;
      break;
    }
    const RtlTcpTime due = lastArrival_ + stall;
    if (Clock::now() >= due) {
      end = ReadEnd::Stalled;
      break;
    }
    cv_.wait_until(lk, due);
  }
  if (kept_.size() > skip) {
    count = std::min(length, kept_.size() - skip);
    std::copy_n(kept_.begin() + static_cast<ptrdiff_t>(skip), count, buf);
  }
  keeping_ = false;
  kept_.clear();
  lk.unlock();
  // A server that stopped sending is given up: the next open connects anew.
  if (end == ReadEnd::Stalled) MarkLost();
  return end;
}

bool RtlTcpStream::Lost() const {
  std::lock_guard lk(m_);
  return lost_;
}

uint64_t RtlTcpStream::Received() const {
  std::lock_guard lk(m_);
  return received_;
}

}  // namespace wg
