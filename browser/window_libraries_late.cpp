#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "browser/window_imports.h"
#include "browser/window_libraries.h"

// Where a call into the window's libraries lands before they are loaded: a fault of the
// program, which must not go on with a call it cannot make.
extern "C" void OmkWindowImportUnresolved() {
  std::fputs("omk-setup: the window's libraries were called before they were loaded\n", stderr);
  std::abort();
}

#if defined(__SANITIZE_ADDRESS__)
// The leak checker of the address-sanitizer runtime (GCC 12, glibc 2.36) crashes at exit when
// it scans the thread-local blocks it tracked for libraries loaded after start. Those blocks
// are the libraries' own; without the tracking the rest of the process is still checked.
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }
#endif

namespace Browser {

namespace {

std::string Load() {
  using namespace WindowImports;
  std::vector<void*> handles(kLibraryCount, nullptr);
  for (std::size_t i = 0; i < kLibraryCount; ++i) {
    // Global, as if linked: GTK's and GIO's own modules resolve against them. Never unloaded.
    handles[i] = dlopen(kLibraries[i], RTLD_NOW | RTLD_GLOBAL);
    if (handles[i] == nullptr) {
      const char* message = dlerror();
      return message != nullptr ? message : std::string(kLibraries[i]) + ": cannot be loaded";
    }
  }
  // Every function first, then the slots: a missing one leaves none of them half set.
  std::vector<void*> resolved(kCount, nullptr);
  for (std::size_t i = 0; i < kCount; ++i) {
    resolved[i] = dlsym(handles[kLibraryOf[i]], kNames[i]);
    if (resolved[i] == nullptr) return std::string(kLibraries[kLibraryOf[i]]) + ": no " + kNames[i];
  }
  for (std::size_t i = 0; i < kCount; ++i) omk_window_import_slots[i] = resolved[i];
  return {};
}

}  // namespace

bool LoadWindowLibraries(std::string& error) {
  static std::once_flag once;
  static std::string failure;
  std::call_once(once, [] { failure = Load(); });
  error = failure;
  return failure.empty();
}

}  // namespace Browser
