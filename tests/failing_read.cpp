// Preloaded into kavro, it fails reads of standard input and of a terminal: the first as a
// non-blocking pipe with no byte yet does, and every one after 8 bytes as a failing device does.
#undef _FORTIFY_SOURCE  // whose inline read would stand in the way of this one
#include <cerrno>

#include <dlfcn.h>
#include <unistd.h>

extern "C" ssize_t read(int fd, void* buf, size_t nbytes) {
  static ssize_t calls = 0;
  if ((fd != STDIN_FILENO && isatty(fd) == 0) || (++calls > 1 && calls < 10)) {
    return reinterpret_cast<decltype(&read)>(dlsym(RTLD_NEXT, "read"))(fd, buf, nbytes);
  }
  errno = calls == 1 ? EAGAIN : EIO;
  return -1;
}
