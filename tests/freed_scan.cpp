// Preloaded into kavro, it ends the run where a block given back holds the last 16 of the 20 bytes
// that K decodes to (a shorter key decoded over them leaves those behind); realloc moves every
// block, so that the one it leaves is scanned too.
#include <algorithm>
#include <cstring>

#include <malloc.h>
#include <unistd.h>

extern "C" void* __libc_malloc(size_t size);
extern "C" void __libc_free(void* block);

extern "C" void free(void* block) {
  if (block != nullptr && memmem(block, malloc_usable_size(block), "5678901234567890", 16)) {
    (void)!write(STDERR_FILENO, "secret in freed memory\n", 23);
    _exit(1);
  }
  __libc_free(block);
}

extern "C" void* realloc(void* block, size_t size) {
  void* moved = __libc_malloc(size);
  if (moved != nullptr && block != nullptr) {
    std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
  }
  if (moved != nullptr || size == 0) free(block);
  return moved;
}
