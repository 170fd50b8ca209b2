// Debian's rtl_tcp serving the simulated stick on 127.0.0.1, started,
// paused and killed by a test, on a port that was free; and a server that
// closes each connection right after its header.
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
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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

// A server on 127.0.0.1 that greets each client with an rtl_tcp header (an
// R820T's) and closes the connection at once, as one whose stick fails to
// start streaming does.
class ClosingServer {
 public:
  ClosingServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listen_, 8);
    thread_ = std::thread([this] {
      const unsigned char header[12] = {'R', 'T', 'L', '0', 0, 0, 0, 5, 0, 0, 0, 29};
      while (!quit_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        (void)!::send(c, header, sizeof header, MSG_NOSIGNAL);
        ::close(c);
        ++accepted_;
      }
    });
  }
  ~ClosingServer() {
    quit_ = true;
    thread_.join();
    ::close(listen_);
  }
  uint16_t Port() const { return port_; }
  int Accepted() const { return accepted_; }

 private:
  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> quit_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

}  // namespace wgtest
