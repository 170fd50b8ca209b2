// A scripted stand-in for the receiver library's entry points: Install()
// points the api_rtl_sdr variables at it. It records the calls, fills each
// block so that its spectrum tells which sweep it belongs to, and injects
// faults on request. Thread-safe: the sweep worker calls it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace fake {

enum class Fault { None, Short, Error, Unplug, Hang, Throw, ThrowAlways };

struct Device {
  std::string name, manufact, product, serial;
};

struct Script {
  std::vector<Device> devices{{"Generic RTL2832U OEM", "Realtek", "RTL2838UHIDIR", "00000001"}};
  int openResult = 0;  // else: the one handle, refused (-6) while it is open
  int tunerType = 5;          // R820T
  uint32_t rateReadBack = 0;  // 0: read back what was set
  int gainsResult = -2;       // -2: the gain table's size
  int gainResult = 0;         // of rtlsdr_set_tuner_gain
  std::vector<int> gains{0,   9,   14,  27,  37,  77,  87,  125, 144, 157, 166, 197, 207, 229, 254,
                         280, 297, 328, 338, 364, 372, 386, 402, 421, 434, 439, 445, 480, 496};
  // The read with this 1-based number fails as `fault` says (Throw: the
  // centre setting with that number throws instead; ThrowAlways: every one).
  Fault fault = Fault::None;
  int faultAtRead = 0;
  int pauseAtRead = 0;  // this read waits until Release() (0: none)
  // Centres the tuner locks to; outside, set_center_freq returns -1.
  uint32_t tuneMin = 0, tuneMax = UINT32_MAX;
};

// Resets the script and the records and installs the fake entry points.
void Install();
void Uninstall();  // nulls every entry point
Script& script();
void* Handle();

std::vector<std::string> Calls();  // "center 139600000", "rate 3200000", "reset", "read 131072", ...
std::vector<uint32_t> Centres();   // every set_center_freq value, in order
int Reads();
int MaxConcurrentCalls();  // callers inside the sweep's entry points at once; 1 unless workers meet

// The byte every read of sweep s fills its block with (a sweep starts the
// first time and whenever the centre moves down). Bytes above the mid-scale
// only: a level tells only how far its byte lies from it.
inline uint8_t FillByteOfSweep(int sweep) { return static_cast<uint8_t>(128 + sweep % 128); }
// The latest sweep begun so far that fills its blocks with b: a fast worker
// runs through the 128 bytes within one test.
int SweepOfFillByte(uint8_t b);

bool WaitPaused(std::chrono::milliseconds timeout);  // until the paused read is entered
void Release();                                      // lets a paused or hung read return
bool WaitReads(int n, std::chrono::milliseconds timeout);

}  // namespace fake
