#pragma once
// Hints about how the program uses its memory.
#include <cstddef>

namespace Platform {

// Asks the system to back a large buffer with huge pages, so filling it takes a few hundred
// page faults instead of one per 4 KiB. Only the whole pages inside [data, data + size) are
// concerned. A hint: nothing happens where the system does not offer it.
void AdviseLargeBuffer(void* data, std::size_t size);

}  // namespace Platform
