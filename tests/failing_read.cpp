// Preloaded into kavro, it makes standard input fail as a non-blocking pipe with no byte yet does
// on the first read, and as a failing device does once 8 bytes have been read.
#include <cerrno>
#include <cstddef>

#include <dlfcn.h>
#include <unistd.h>

extern "C" ssize_t read(int fd, void* buffer, std::size_t size) {
  static const auto next =
      reinterpret_cast<ssize_t (*)(int, void*, std::size_t)>(dlsym(RTLD_NEXT, "read"));
  static std::size_t calls = 0;
  static std::size_t bytes = 0;
  if (fd != STDIN_FILENO) return next(fd, buffer, size);
  if (calls++ == 0 || bytes >= 8) {
    errno = bytes >= 8 ? EIO : EAGAIN;
    return -1;
  }
  const ssize_t got = next(fd, buffer, size);
  bytes += got > 0 ? static_cast<std::size_t>(got) : 0;
  return got;
}
