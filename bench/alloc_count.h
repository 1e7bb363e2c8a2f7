#pragma once

#include <cstdint>

namespace bench {

// Heap allocations (malloc, calloc, realloc, and so every operator new) made
// so far on the calling thread.
uint64_t Allocations();

}  // namespace bench
