// One connection to an rtl_tcp server: connected within a time limit, its
// header read, commands sent, and its sample stream drained by a thread of
// the connection's own from the first byte to the last, so that nothing
// queues up at the server while the receiver is between steps.
//
// The server answers no command and marks nothing in the stream; where the
// samples of a new tuning begin is inferred from the stream's own clock (see
// RtlTcpStreamClock and RtlTcpStream::Restart).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "receiver/RtlTcpProtocol.h"

namespace wg {

using RtlTcpTime = std::chrono::steady_clock::time_point;

// How many bytes the stick behind the server may have made by a given time,
// judged from when bytes arrived. The stick makes them at a steady rate and
// the server passes each buffer on once it is full, so every arrival says
// "at least this many had been made then"; extrapolated at the rate, the
// arrival that came soonest after its buffer filled tells best where the
// stick is now. Arrivals older than a few buffers are forgotten, so that
// samples the stick or the server dropped do not count against it forever;
// with no arrival at all (a server that holds its buffers back) the estimate
// keeps growing with time.
class RtlTcpStreamClock {
 public:
  // The server fills and passes on buffers of this size.
  static constexpr double kServerBuffer = 262144;
  // Arrivals within this many buffer times are heeded.
  static constexpr double kWindowBuffers = 3;

  // Nothing was made before `t`; until told, the stick runs at `bytesPerSecond`.
  void Start(RtlTcpTime t, double bytesPerSecond);
  // `total` bytes had arrived by `t`.
  void Arrived(RtlTcpTime t, uint64_t total);
  // From `t` on the stick makes `bytesPerSecond`.
  void SetRate(RtlTcpTime t, double bytesPerSecond);
  double Rate() const { return rate_; }
  // The bytes made by `t` (not before the last call to Arrived or SetRate).
  uint64_t MadeBy(RtlTcpTime t) const;

 private:
  struct Mark {
    RtlTcpTime t;
    double made;  // bytes made by t, at least
  };
  double Seconds(RtlTcpTime t) const { return std::chrono::duration<double>(t - origin_).count(); }
  double Intercept(const Mark& m) const { return m.made - Seconds(m.t) * rate_; }
  RtlTcpTime Horizon(RtlTcpTime now) const;

  RtlTcpTime origin_{};
  double rate_ = 0;
  // Newest last, each extrapolating below the one before it, so that the
  // first one not yet forgotten is the best.
  std::deque<Mark> marks_;
};

class RtlTcpStream {
 public:
  // Results of Connect; the device maps them to its own codes.
  enum class Failure { None, Unresolved, Refused, Unreachable, NoHeader, NotRtlTcp };
  enum class ReadEnd { Done, Lost, Stalled, TooLong };

  // At most this much is kept for a read; no step reads more.
  static constexpr size_t kKeepLimit = size_t{1} << 20;

  // Connects to `address` and reads the header, all within `within`; nullptr
  // with the reason when it does not succeed. The stick is taken to make
  // `bytesPerSecond` until SetRate says otherwise.
  static std::unique_ptr<RtlTcpStream> Connect(const RtlTcpAddress& address, std::chrono::milliseconds within,
                                               double bytesPerSecond, RtlTcpHeader& header, Failure& failure);
  ~RtlTcpStream();  // ends the connection and waits for its thread
  RtlTcpStream(const RtlTcpStream&) = delete;
  RtlTcpStream& operator=(const RtlTcpStream&) = delete;

  // False when the connection is gone (it is then marked lost).
  bool Send(RtlTcpCommand id, uint32_t param);
  // The stick makes `bytesPerSecond` from now on (just after its command).
  void SetRate(double bytesPerSecond);
  // Keeps the bytes from where nothing could still have been under way when
  // this is called on, for the next Read, and drops the rest.
  void Restart();
  // Waits for `length` bytes, until the connection is lost or nothing has
  // arrived for `stall`; `count` gets what was copied to `buf`. After a
  // Restart they are the latest that arrive together with the first ones the
  // Restart allows (see LatestStart); without one, those arriving from now.
  ReadEnd Read(uint8_t* buf, size_t length, size_t& count, std::chrono::milliseconds stall);
  bool Lost() const;
  uint64_t Received() const;  // stream bytes after the header

  // The position Restart keeps from, for a command sent at `now`: past every
  // byte that had arrived or may have been made by then, and past what the
  // stick makes while the command travels and is carried out.
  static uint64_t StartAfter(uint64_t arrived, uint64_t made, double bytesPerSecond,
                             std::chrono::microseconds roundTrip);
  // Where a read of `length` bytes allowed to start at `from` starts: the
  // server sends whole buffers, so the bytes up to the end of the buffer in
  // which the read would end arrive at the same moment, and the read takes
  // the last of them, as far from the command as costs no time.
  static uint64_t LatestStart(uint64_t from, size_t length);

 private:
  explicit RtlTcpStream(int fd);
  void Drain();
  void MarkLost();
  std::chrono::microseconds RoundTrip() const;

  const int fd_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  RtlTcpStreamClock clock_;  // under m_
  uint64_t received_ = 0;    // under m_
  RtlTcpTime lastArrival_;   // under m_
  bool lost_ = false;        // under m_
  bool keeping_ = false;     // under m_: bytes from keepFrom_ go to kept_
  uint64_t keepFrom_ = 0;
  std::vector<uint8_t> kept_;
  std::thread reader_;
};

}  // namespace wg
