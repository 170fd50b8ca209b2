#include "receiver/api_rtl_sdr.h"

#include "receiver/Platform.h"

#include <iterator>

namespace api_rtl_sdr {

#define WG_DEFINE_ENTRY(name) name##_fn name = nullptr;
WG_RTLSDR_ENTRY_POINTS(WG_DEFINE_ENTRY)
#undef WG_DEFINE_ENTRY

const char* const kEntryPointNames[] = {
#define WG_ENTRY_NAME(name) #name,
    WG_RTLSDR_ENTRY_POINTS(WG_ENTRY_NAME)
#undef WG_ENTRY_NAME
};

namespace {

void** const kSlots[] = {
#define WG_ENTRY_SLOT(name) reinterpret_cast<void**>(&name),
    WG_RTLSDR_ENTRY_POINTS(WG_ENTRY_SLOT)
#undef WG_ENTRY_SLOT
};

void* g_library = nullptr;
bool g_loaded = false;
bool g_attempted = false;
std::string g_path;
LoadFailure g_failure = LoadFailure::None;
std::string g_reason;

}  // namespace

static_assert(std::size(kSlots) == kEntryPointCount);
static_assert(std::size(kEntryPointNames) == kEntryPointCount);

void** EntryPointSlot(int index) {
  if (index < 0 || index >= kEntryPointCount) return nullptr;
  return kSlots[index];
}

bool Loaded() { return g_loaded; }
const std::string& LibraryPath() { return g_path; }
LoadFailure Failure() { return g_failure; }
const std::string& FailureReason() { return g_reason; }

void LoadFrom(const std::string& pluginsFolder) { LoadFile(pluginsFolder + "/" + kLibraryFile); }

void LoadFile(const std::string& libraryFile) {
  // One attempt per run: a library that failed to load is not tried again.
  if (g_loaded || g_attempted) return;
  g_attempted = true;
  // By its full path, so the current directory plays no part and stays the
  // one the user started in (relative paths given later resolve there).
  g_path = libraryFile;
  std::string reason;
  g_library = wg::platform::LoadLibraryAt(g_path, &reason);
  if (!g_library) {
    g_loaded = false;
    if (wg::platform::FileExists(g_path)) {
      g_failure = LoadFailure::Unloadable;
      // dlerror names the file first; the path is said by the caller.
      const std::string prefix = g_path + ": ";
      if (reason.rfind(prefix, 0) == 0) reason.erase(0, prefix.size());
      g_reason = reason;
    } else {
      g_failure = LoadFailure::Missing;
    }
    return;
  }
  g_loaded = true;
  for (int i = 0; i < kEntryPointCount; ++i)
    *kSlots[i] = wg::platform::LookUp(g_library, kEntryPointNames[i]);
}

void Load() {
  if (g_loaded || g_attempted) return;
  const std::string exe = wg::platform::ExecutablePath();
  const auto slash = exe.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
  LoadFrom(dir + kPluginsFolder);
}

void Unload() {
  if (g_loaded) wg::platform::FreeLibrary(g_library);
  g_library = nullptr;
  g_loaded = false;
  g_attempted = false;
  g_failure = LoadFailure::None;
  g_reason.clear();
  for (int i = 0; i < kEntryPointCount; ++i) *kSlots[i] = nullptr;
}

const char* const kTunerNames[7] = {
    "RTLSDR_TUNER_UNKNOWN", "RTLSDR_TUNER_E4000", "RTLSDR_TUNER_FC0012", "RTLSDR_TUNER_FC0013",
    "RTLSDR_TUNER_FC2580",  "RTLSDR_TUNER_R820T", "RTLSDR_TUNER_R828D"};

std::string TunerName(unsigned value) {
  if (value < 7) return kTunerNames[value];
  return std::to_string(value);
}

}  // namespace api_rtl_sdr
