// Counts the heap allocations of the benchmark binaries: malloc, calloc and
// realloc are interposed (glibc) and passed on to the C library's own, so
// operator new, the JSON library's string copies and the C library are all
// counted. The count is per thread, so that counting adds no shared cache line
// to devices driven from several threads.

#include "bench/alloc_count.h"

#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
}

namespace {
thread_local uint64_t t_allocations = 0;
}  // namespace

namespace bench {
uint64_t Allocations() { return t_allocations; }
}  // namespace bench

extern "C" {

void* malloc(std::size_t size) {
  ++t_allocations;
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
  ++t_allocations;
  return __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size) {
  ++t_allocations;
  return __libc_realloc(memory, size);
}

}  // extern "C"
