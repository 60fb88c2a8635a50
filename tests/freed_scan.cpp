// Preloaded into kavro, it ends the run where a block given back holds the last 16 of the 20 bytes
// that K decodes to (a shorter key decoded over them leaves those behind); realloc moves every
// block, so that the one it leaves is scanned too.
#include <algorithm>
#include <cstring>

#include <malloc.h>
#include <unistd.h>

// glibc's own allocator, under the names it exports for such wrappers.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void* __libc_malloc(size_t size);
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" void __libc_free(void* ptr);

extern "C" void free(void* ptr) {
  if (ptr != nullptr && memmem(ptr, malloc_usable_size(ptr), "5678901234567890", 16)) {
    (void)!write(STDERR_FILENO, "secret in freed memory\n", 23);
    _exit(1);
  }
  __libc_free(ptr);
}

extern "C" void* realloc(void* ptr, size_t size) {
  void* moved = __libc_malloc(size);
  if (moved != nullptr && ptr != nullptr) {
    std::memcpy(moved, ptr, std::min(size, malloc_usable_size(ptr)));
  }
  if (moved != nullptr || size == 0) free(ptr);
  return moved;
}
