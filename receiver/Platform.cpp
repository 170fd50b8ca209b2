#include "receiver/Platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wg::platform {

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void* LoadLibraryAt(const std::string& fullPath, std::string* error) {
  // A path without a slash would make dlopen search LD_LIBRARY_PATH and the
  // system's directories; only the named file may ever be taken.
  if (fullPath.empty() || fullPath.front() != '/') {
    if (error) *error = "not an absolute path";
    return nullptr;
  }
  ::dlerror();  // a reason left from an earlier call is not this one's
  void* lib = ::dlopen(fullPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib && error) {
    const char* why = ::dlerror();
    *error = why ? why : "unknown reason";
  }
  return lib;
}

void* LookUp(void* library, const char* name) {
  if (!library) return nullptr;
  return ::dlsym(library, name);
}

void FreeLibrary(void* library) {
  if (library) ::dlclose(library);
}

}  // namespace wg::platform
