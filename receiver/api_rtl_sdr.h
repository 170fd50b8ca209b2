// Binds librtlsdr at run time from plugins/librtlsdr.so beside the
// executable, and holds the variables that describe the attached receivers
// and the open one. Nothing links against the library: every call goes through
// an entry-point variable below, which stays null when the library or the name
// is missing. Callers must check an entry point before calling it.
#pragma once

#include <rtl-sdr.h>

#include <cstdint>
#include <string>

// Entry points in binding order: name and the header's own declaration, so
// the pointer types cannot drift from the library's.
#define WG_RTLSDR_ENTRY_POINTS(X)   \
  X(rtlsdr_get_device_count)        \
  X(rtlsdr_get_device_name)         \
  X(rtlsdr_get_device_usb_strings)  \
  X(rtlsdr_get_index_by_serial)     \
  X(rtlsdr_open)                    \
  X(rtlsdr_close)                   \
  X(rtlsdr_set_xtal_freq)           \
  X(rtlsdr_get_xtal_freq)           \
  X(rtlsdr_get_usb_strings)         \
  X(rtlsdr_write_eeprom)            \
  X(rtlsdr_read_eeprom)             \
  X(rtlsdr_set_center_freq)         \
  X(rtlsdr_get_center_freq)         \
  X(rtlsdr_set_freq_correction)     \
  X(rtlsdr_get_freq_correction)     \
  X(rtlsdr_get_tuner_type)          \
  X(rtlsdr_get_tuner_gains)         \
  X(rtlsdr_set_tuner_gain)          \
  X(rtlsdr_get_tuner_gain)          \
  X(rtlsdr_set_tuner_if_gain)       \
  X(rtlsdr_set_tuner_gain_mode)     \
  X(rtlsdr_set_sample_rate)         \
  X(rtlsdr_get_sample_rate)         \
  X(rtlsdr_set_testmode)            \
  X(rtlsdr_set_agc_mode)            \
  X(rtlsdr_set_direct_sampling)     \
  X(rtlsdr_get_direct_sampling)     \
  X(rtlsdr_set_offset_tuning)       \
  X(rtlsdr_get_offset_tuning)       \
  X(rtlsdr_reset_buffer)            \
  X(rtlsdr_read_sync)               \
  X(rtlsdr_wait_async)              \
  X(rtlsdr_read_async)              \
  X(rtlsdr_cancel_async)

namespace api_rtl_sdr {

// The entry-point variables: api_rtl_sdr::rtlsdr_open and so on.
#define WG_DECLARE_ENTRY(name) \
  using name##_fn = decltype(&::name); \
  extern name##_fn name;
WG_RTLSDR_ENTRY_POINTS(WG_DECLARE_ENTRY)
#undef WG_DECLARE_ENTRY

// Counted from the list itself, so that the tables below are sized by it and
// an entry dropped from the list cannot leave a slot unbound.
#define WG_COUNT_ENTRY(name) +1
constexpr int kEntryPointCount = 0 WG_RTLSDR_ENTRY_POINTS(WG_COUNT_ENTRY);
#undef WG_COUNT_ENTRY
// librtlsdr 0.6 publishes these 34 functions; the loader binds every one.
static_assert(kEntryPointCount == 34, "an entry point is missing from the list");
// Names in binding order.
extern const char* const kEntryPointNames[kEntryPointCount];
// Address of each entry-point variable, in binding order (tests and the
// receiver set-up check them generically).
void** EntryPointSlot(int index);

// The library file, relative to the folder of the executable.
constexpr const char* kPluginsFolder = "plugins";
constexpr const char* kLibraryFile = "librtlsdr.so";

// Binding state.
bool Loaded();
// Full path of the file Load looked for (empty before Load).
const std::string& LibraryPath();

// Why the library is absent after Load: not tried or loaded (None), no file
// at LibraryPath() (Missing), or a file there that the system would not load
// (Unloadable: an empty or foreign file, a library for another architecture).
enum class LoadFailure { None, Missing, Unloadable };
LoadFailure Failure();
// The system's reason for an Unloadable library (dlerror, without the path
// in front); empty otherwise.
const std::string& FailureReason();

// Binds the library from the plugins folder beside the executable, once:
// a second call does nothing. The current directory is left as it was.
void Load();
// Same, but from a given plugins folder (an absolute path). Also once only.
void LoadFrom(const std::string& pluginsFolder);
// Same, but exactly this library file (an absolute path), whatever its name:
// the user's choice of another receiver library, such as the simulator that
// ships with the program. Also once only.
void LoadFile(const std::string& libraryFile);
// Releases the library, once, if it was loaded. Entry points become null and
// Loaded() false; Load may run again afterwards (tests do).
void Unload();

// Tuner names by the library's numbering 0..6.
extern const char* const kTunerNames[7];
// The name of a tuner value, or its number for values above 6.
std::string TunerName(unsigned value);

}  // namespace api_rtl_sdr
