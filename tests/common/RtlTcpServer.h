// Debian's rtl_tcp serving the simulated stick on 127.0.0.1, started,
// paused and killed by a test, on a port that was free; and a small server
// of the tests' own that misbehaves as told.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace wgtest {

// A port nothing listens on now: the kernel's pick for a socket bound to 0.
inline uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

// Whether something listens on 127.0.0.1:port, from the kernel's table:
// knocking would take the server's only client place.
inline bool Listening(uint16_t port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  char want[32];
  std::snprintf(want, sizeof want, "0100007F:%04X", port);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    if (local == want && state == "0A") return true;
  }
  return false;
}

class RtlTcpServer {
 public:
  // `program` is rtl_tcp, `simDir` holds the simulator's librtlsdr.so.0;
  // `env` adds RTLSDR_SIM_*.
  RtlTcpServer(std::string program, std::string simDir, std::map<std::string, std::string> env)
      : program_(std::move(program)), simDir_(std::move(simDir)), env_(std::move(env)) {}
  ~RtlTcpServer() { Kill(); }

  // Starts rtl_tcp on `port` (a free one when 0) and waits until it listens.
  bool Start(uint16_t port = 0) {
    Kill();
    port_ = port ? port : FreePort();
    std::vector<std::string> env = {"LD_LIBRARY_PATH=" + simDir_, "PATH=/usr/bin:/bin"};
    for (const auto& [k, v] : env_) env.push_back(k + "=" + v);
    const std::string portText = std::to_string(port_);
    // Nothing is allocated between fork and exec: other threads may hold the heap's lock.
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      // A test killed on its time limit leaves no server behind.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execle(program_.c_str(), "rtl_tcp", "-a", "127.0.0.1", "-p", portText.c_str(), static_cast<char*>(nullptr),
               envp.data());
      ::_exit(127);
    }
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
      if (Listening(port_)) return true;
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  // rtl_tcp finishes its client before a polite signal: it is killed.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Sends the server a signal: SIGSTOP and SIGCONT pause it, SIGTERM has it
  // finish its client and end.
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // Waits at most `within` for the server to end by itself; true then.
  bool WaitEnded(std::chrono::milliseconds within) {
    const auto until = std::chrono::steady_clock::now() + within;
    while (pid_ > 0 && std::chrono::steady_clock::now() < until) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
      else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pid_ <= 0;
  }
  uint16_t Port() const { return port_; }
  // The longest any of the server's threads has waited for a CPU so far
  // (nanoseconds, per thread id): a server held off the CPU carries out a
  // command late, which no client can see in the stream.
  std::map<int, int64_t> RunQueueWaits() const {
    std::map<int, int64_t> waits;
    if (pid_ <= 0) return waits;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", ec)) {
      std::ifstream in(task.path() / "schedstat");
      int64_t onCpu = 0, waiting = 0;
      if (in >> onCpu >> waiting) waits[std::stoi(task.path().filename().string())] = waiting;
    }
    return waits;
  }

 private:
  std::string program_, simDir_;
  std::map<std::string, std::string> env_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// Listens on 127.0.0.1 and treats each client as told: sends `greeting`,
// then `streamBytes` bytes of samples, then closes or falls silent. What
// the clients send is kept.
class FakeServer {
 public:
  using Clock = std::chrono::steady_clock;
  const std::vector<uint8_t> greeting;
  const size_t streamBytes;
  const bool closeAfter;

  FakeServer(std::vector<uint8_t> greet, size_t bytes, bool close)
      : greeting(std::move(greet)), streamBytes(bytes), closeAfter(close) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listen_, 4);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeServer() {
    quit_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listen_);
  }
  static std::vector<uint8_t> Header(const char magic[4], uint32_t tuner, uint32_t gains) {
    std::vector<uint8_t> h(magic, magic + 4);
    for (uint32_t v : {tuner, gains})
      for (int s = 24; s >= 0; s -= 8) h.push_back(static_cast<uint8_t>(v >> s));
    return h;
  }
  uint16_t Port() const { return port_; }
  std::vector<uint8_t> Received() {
    std::lock_guard lk(m_);
    return received_;
  }
  std::vector<Clock::time_point> Accepted() {
    std::lock_guard lk(m_);
    return accepted_;
  }
  bool WaitReceived(size_t bytes, std::chrono::milliseconds within) {
    std::unique_lock lk(m_);
    return cv_.wait_for(lk, within, [&] { return received_.size() >= bytes; });
  }

 private:
  void Serve() {
    while (!quit_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      {
        std::lock_guard lk(m_);
        accepted_.push_back(Clock::now());
      }
      std::vector<uint8_t> out = greeting;
      out.resize(out.size() + streamBytes, 127);
      for (size_t sent = 0; sent < out.size();) {
        const ssize_t n = ::send(c, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      // Takes what the client sends until it leaves, or until told to go.
      const auto until = Clock::now() + (closeAfter ? std::chrono::milliseconds(300) : std::chrono::milliseconds(60000));
      while (!quit_ && Clock::now() < until) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 20) <= 0) continue;
        uint8_t buf[256];
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        std::lock_guard lk(m_);
        received_.insert(received_.end(), buf, buf + n);
        cv_.notify_all();
      }
      ::close(c);
    }
  }

  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> quit_{false};
  std::thread thread_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<uint8_t> received_;
  std::vector<Clock::time_point> accepted_;
};

}  // namespace wgtest
