// The few operating-system calls the receiver library loader needs: the
// executable's own path, whether a file is there, and run-time library
// loading.
#pragma once

#include <string>

namespace wg::platform {

// Full path of the running executable (from /proc/self/exe); empty on failure.
std::string ExecutablePath();
// Whether something is at `path` (a dangling link counts as nothing).
bool FileExists(const std::string& path);
// Loads the library at exactly this path (never searched for), binding every
// symbol now and keeping them local; nullptr on failure, with the system's
// reason in `error` when given.
void* LoadLibraryAt(const std::string& fullPath, std::string* error = nullptr);
// Looks a name up in a loaded library; nullptr when it is missing.
void* LookUp(void* library, const char* name);
void FreeLibrary(void* library);

}  // namespace wg::platform
