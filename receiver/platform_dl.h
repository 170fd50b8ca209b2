// The few operating-system calls the receiver library loader needs: the
// executable's own path, the current directory, and run-time library loading.
#pragma once

#include <string>

namespace wg::platform {

// Full path of the running executable (from /proc/self/exe); empty on failure.
std::string ExecutablePath();
// Makes `dir` the process's current directory; false on failure.
bool SetCurrentDirectory(const std::string& dir);
// Loads the library at exactly this path (never searched for), binding every
// symbol now and keeping them local; nullptr on failure.
void* LoadLibraryAt(const std::string& fullPath);
// Looks a name up in a loaded library; nullptr when it is missing.
void* LookUp(void* library, const char* name);
void FreeLibrary(void* library);

}  // namespace wg::platform
