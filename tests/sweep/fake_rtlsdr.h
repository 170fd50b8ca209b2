// A scripted stand-in for the receiver library's entry points: Install()
// points the api_rtl_sdr variables at it. It records the calls the engine
// makes, fills each block so that its spectrum tells which sweep it belongs
// to, and injects faults on request. Thread-safe: the sweep worker calls it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace fake {

enum class Fault { None, Short, Error, Unplug, Hang, Throw };

struct Device {
  std::string name, manufact, product, serial;
};

struct Script {
  std::vector<Device> devices{{"Generic RTL2832U OEM", "Realtek", "RTL2838UHIDIR", "00000001"}};
  int openResult = 0;
  bool openLeavesNull = false;
  int tunerType = 5;              // R820T
  uint32_t rateReadBack = 0;      // 0: read back what was set
  int gainsResult = -2;           // -2: the gain table's size
  std::vector<int> gains{0,   9,   14,  27,  37,  77,  87,  125, 144, 157, 166, 197, 207, 229, 254,
                         280, 297, 328, 338, 364, 372, 386, 402, 421, 434, 439, 445, 480, 496};
  // The read with this 1-based number fails as `fault` says (Throw: the
  // centre setting of that step throws instead).
  Fault fault = Fault::None;
  int faultAtRead = 0;
  // The read with this number waits until Release() (0: none).
  int pauseAtRead = 0;
};

// Resets the script and the records, and installs the fake entry points
// (every one of the 34 the engine could bind gets a function or stays null).
void Install();
// Null every entry point again.
void Uninstall();
Script& script();

// Records.
std::vector<std::string> Calls();         // "center 139600000", "rate 3200000", "reset", "read 131072", ...
std::vector<uint32_t> Centres();          // every set_center_freq value, in order
int Reads();
int MaxConcurrentReads();                 // never above 1 if no two workers meet
void ClearRecords();

// The byte every read of sweep s fills its block with (s counts from 0: a
// sweep starts whenever the centre moves down or the first time).
uint8_t FillByteOfSweep(int sweep);
int SweepOfFillByte(uint8_t b);

// Waits until the paused read has been entered; false on timeout.
bool WaitPaused(std::chrono::milliseconds timeout);
// Lets a paused (or hung) read return.
void Release();
// Waits until at least n reads have completed; false on timeout.
bool WaitReads(int n, std::chrono::milliseconds timeout);

// The handle the fake hands out.
void* Handle();

}  // namespace fake
