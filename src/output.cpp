#include "output.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <unistd.h>

bool writeOutput(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(STDOUT_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      const int error = errno;  // before the writes of the error line, which may change it
      std::cerr << "Error writing output: " << std::strerror(error) << std::endl;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}
