#include "browser/window_libraries.h"

namespace Browser {

// Linked at build time: the loader mapped them before main().
bool LoadWindowLibraries(std::string& error) {
  error.clear();
  return true;
}

}  // namespace Browser
