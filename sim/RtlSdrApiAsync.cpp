// Asynchronous reading: buffers handed to the caller's callback at the
// stick's pace until cancelled.
#include "sim/RtlSdrDevice.h"

#include <algorithm>
#include <new>
#include <thread>

using namespace wg::sim;

namespace {

constexpr uint32_t kDefaultBufferCount = 15;
constexpr uint32_t kDefaultBufferLength = 16 * 32 * 512;
// Buffers handed to the callback in turn; more would only cost memory.
constexpr uint32_t kMaxRingBuffers = 4;
// A whole number of the stick's 512-byte USB packets.
constexpr uint32_t kPieceBytes = 16384;

}  // namespace

extern "C" {

int rtlsdr_read_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t cb, void* ctx, uint32_t buf_num,
                      uint32_t buf_len) {
  auto d = Find(dev);
  if (!d) return -1;
  if (!cb) return -1;
  int expected = kAsyncInactive;
  if (!d->asyncStatus.compare_exchange_strong(expected, kAsyncRunning)) return -2;
  {
    std::lock_guard lock(d->settings);
    d->asyncThread = std::this_thread::get_id();
  }
  auto finish = [&d](int r) {
    {
      std::lock_guard lock(d->settings);
      d->asyncThread = std::thread::id();
    }
    d->asyncCancel = false;
    d->asyncStatus = kAsyncInactive;
    return r;
  };

  const uint32_t count = std::min(buf_num ? buf_num : kDefaultBufferCount, kMaxRingBuffers);
  const uint32_t length =
      (buf_len == 0 || buf_len % 512 != 0) ? kDefaultBufferLength : buf_len;
  std::vector<std::vector<uint8_t>> ring;
  try {
    ring.assign(count, std::vector<uint8_t>(length));
  } catch (const std::bad_alloc&) {
    return finish(kUsbErrorNoMem);
  }

  // The buffer fills a piece at a time as the stick makes it, so that a
  // retune from another thread shows within the buffer. A callback that
  // takes its time loses what the stick's pipeline cannot hold meanwhile.
  int result = 0;
  for (uint32_t i = 0; !d->asyncCancel && result == 0; i = (i + 1) % count) {
    for (uint32_t done = 0; done < length && !d->asyncCancel;) {
      if (d->unplugged) {
        result = kUsbErrorNoDevice;
        break;
      }
      const uint32_t n = std::min(kPieceBytes, length - done);
      const Delivery made = Deliver(*d, ring[i].data() + done, n);
      // Short naps, so that a cancel is seen soon.
      if (d->config.paced)
        while (!d->asyncCancel && Clock::now() < made.due)
          std::this_thread::sleep_until(std::min(made.due, Clock::now() + std::chrono::milliseconds(5)));
      done += n;
    }
    if (d->asyncCancel || result != 0) break;
    cb(ring[i].data(), length, ctx);
  }
  return finish(result);
}

int rtlsdr_wait_async(rtlsdr_dev_t* dev, rtlsdr_read_async_cb_t cb, void* ctx) {
  return rtlsdr_read_async(dev, cb, ctx, 0, 0);
}

int rtlsdr_cancel_async(rtlsdr_dev_t* dev) {
  auto d = Find(dev);
  if (!d) return -1;
  int expected = kAsyncRunning;
  if (d->asyncStatus.compare_exchange_strong(expected, kAsyncCanceling)) {
    d->asyncCancel = true;
    return 0;
  }
  return -2;
}

}  // extern "C"
