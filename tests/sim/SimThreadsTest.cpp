// The viewer reads on a worker thread while its window thread asks the stick
// for its settings; tools cancel or close asynchronous readings from other
// threads. Run under ThreadSanitizer as well.
#include "tests/common/RunQueueWait.h"
#include "tests/sim/SimTestUtil.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using simtest::SimTest;

TEST_F(SimTest, ReadsAndSettingsOnTwoThreads) {
  rtlsdr_dev_t* d = OpenTuned(146000000);
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::thread worker([&] {
    std::vector<uint8_t> buf(16384);
    for (int i = 0; i < 60; ++i) {
      int n = 0;
      failures += rtlsdr_set_center_freq(d, 139600000 + 3200000 * (i % 5)) != 0;
      failures += rtlsdr_reset_buffer(d) != 0;
      failures += rtlsdr_read_sync(d, buf.data(), 16384, &n) != 0 || n != 16384;
    }
    done = true;
  });
  for (int rounds = 0; !done || rounds < 100; ++rounds) {
    EXPECT_EQ(rtlsdr_get_sample_rate(d), 3200000u);
    const uint32_t f = rtlsdr_get_center_freq(d);
    EXPECT_TRUE(f == 146000000 || (f >= 139600000 && f <= 152400000)) << f;
    EXPECT_EQ(rtlsdr_set_tuner_gain(d, 100 + rounds % 300), 0);
    rtlsdr_set_freq_correction(d, rounds % 7);
  }
  worker.join();
  EXPECT_EQ(failures.load(), 0);
}

// Cancel, then close: each ends a paced reading on another thread, close
// before it returns.
TEST_F(SimTest, CancelOrCloseFromAnotherThread) {
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  for (bool close : {false, true}) {
    rtlsdr_dev_t* d = OpenTuned(146000000);
    std::atomic<int> calls{0}, result{99};
    std::thread reader([&] {
      result = rtlsdr_read_async(
          d, [](unsigned char*, uint32_t, void* ctx) { ++*static_cast<std::atomic<int>*>(ctx); }, &calls, 3,
          16384);
    });
    while (calls.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    int afterClose = -1;
    if (close) {
      Close(d);
      afterClose = calls.load();
    } else {
      EXPECT_EQ(rtlsdr_cancel_async(d), 0);
    }
    reader.join();
    EXPECT_EQ(result.load(), 0);
    if (close) EXPECT_EQ(calls.load(), afterClose);
    else {
      EXPECT_EQ(rtlsdr_cancel_async(d), -2);
      Close(d);
    }
  }
}

TEST_F(SimTest, OpenAndCloseOnManyThreads) {
  ::setenv("RTLSDR_SIM_DEVICES", "4", 1);
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (uint32_t t = 0; t < 4; ++t)
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 20; ++i) {
        rtlsdr_dev_t* d = nullptr;
        uint8_t buf[4096];
        int n = 0;
        if (rtlsdr_open(&d, t) != 0) {
          ++failures;
          continue;
        }
        failures += rtlsdr_read_sync(d, buf, sizeof buf, &n) != 0;
        failures += rtlsdr_close(d) != 0;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// Each stick keeps its own sample clock: two read side by side, at different
// rates, each take their own stick's time, not the two together. Time spent
// waiting for a CPU is left out, and the bound is far from the sum.
TEST_F(SimTest, SticksReadSideBySideKeepTheirOwnPace) {
  ::setenv("RTLSDR_SIM_PACE", "1", 1);
  ::setenv("RTLSDR_SIM_TUNE_US", "0", 1);
  ::setenv("RTLSDR_SIM_DEVICES", "2", 1);
  const uint32_t rates[2] = {3200000, 1024000};
  rtlsdr_dev_t* d[2];
  for (uint32_t i = 0; i < 2; ++i) {
    d[i] = Open(i);
    ASSERT_EQ(rtlsdr_set_sample_rate(d[i], rates[i]), 0);
    ASSERT_EQ(rtlsdr_set_center_freq(d[i], 146000000), 0);
  }
  // A quarter of a second of samples on each stick, in reads of 16384 bytes.
  std::chrono::nanoseconds held[2]{}, took[2]{};
  std::vector<std::thread> readers;
  for (uint32_t i = 0; i < 2; ++i)
    readers.emplace_back([&, i] {
      const int reads = static_cast<int>(rates[i] / 32768);
      std::vector<uint8_t> buf(16384);
      const auto t0 = std::chrono::steady_clock::now();
      held[i] = wgtest::HeldFor([&] {
        for (int r = 0; r < reads; ++r) {
          int n = 0;
          rtlsdr_read_sync(d[i], buf.data(), 16384, &n);
        }
      });
      took[i] = std::chrono::steady_clock::now() - t0;
    });
  for (std::thread& t : readers) t.join();
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_GT(took[i], std::chrono::milliseconds(230)) << i;
    EXPECT_LT(held[i], std::chrono::milliseconds(400)) << i;
  }
}

}  // namespace
