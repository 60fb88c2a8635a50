#include "key_input.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <functional>
#include <iostream>
#include <string_view>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

// In the C library of the BSDs and macOS, in libbsd on Linux.
#if __has_include(<readpassphrase.h>)
#include <readpassphrase.h>
#else
#include <bsd/readpassphrase.h>
#endif

#include <openssl/crypto.h>

#include "otp.h"

namespace {

// In canonical mode a terminal keeps this much of a line at most and drops the rest unseen: Linux
// 4095 bytes, its 4096-byte line buffer less the line end (its MAX_CANON of 255 says less). A line
// that reaches it may have been cut.
constexpr std::size_t kTerminalLineLimit = 4095;

std::nullopt_t readingFailed(const char* reason) {
  std::cerr << "Error reading key: " << reason << std::endl;
  return std::nullopt;
}

// The signals held off while readpassphrase reads. It catches some, to put the terminal back
// before they take effect: those stay free, but for one that the caller ignores, which caught
// would end the read with an error and held off stays ignored (set back to SIG_IGN, it is
// discarded). Any other would end the run with echo off: held off, it takes effect once the
// terminal is back. Faults that the run itself raises stay free.
sigset_t heldOffSignals() {
  sigset_t held;
  sigfillset(&held);
  for (const int number :
       {SIGALRM, SIGHUP, SIGINT, SIGPIPE, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU}) {
    struct sigaction action = {};
    if (sigaction(number, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
      sigdelset(&held, number);
    }
  }
  for (const int fault : {SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP}) {
    sigdelset(&held, fault);
  }
  return held;
}

// Turns echo off again when the run goes on inside readpassphrase's read: a stop that it cannot
// catch, SIGSTOP, lets a shell put back its own mode, echo on, in which the rest of the key would
// show. Inside the read, and only there, readpassphrase's handlers are in place, SIGTSTP's among
// them: after a stop that it caught, it has put ours back, stopped itself and will ask again,
// taking the mode it then finds as the one to put back, which must stay the shell's. Only in the
// foreground, where a change of mode raises no SIGTTOU. Standard input is the controlling terminal
// here. Keeps no state, and errno as it was.
void echoOffOnContinue(int /*signal*/) {
  const int error = errno;
  struct sigaction stop = {};
  termios mode{};
  if (sigaction(SIGTSTP, nullptr, &stop) == 0 && stop.sa_handler != SIG_DFL &&
      stop.sa_handler != SIG_IGN && tcgetpgrp(STDIN_FILENO) == getpgrp() &&
      tcgetattr(STDIN_FILENO, &mode) == 0) {
    mode.c_lflag &= ~tcflag_t{ECHO | ECHONL};
    tcsetattr(STDIN_FILENO, TCSANOW, &mode);
  }
  errno = error;
}

// readpassphrase reads the controlling terminal, /dev/tty, which is the one standard input is. It
// takes the terminal's mode as it finds it, and puts that back: found while the run is in the
// background, that is the mode of the shell's line editor, echo off. So the mode is taken here
// once the run is in the foreground, and put back after a stop from which readpassphrase went on
// in the background.
std::optional<std::string> askTerminal() {
  // A flush from the background stops the run until it is in the foreground, as a read would,
  // and drops what was typed before the prompt, as readpassphrase does.
  termios mode{};
  const bool known = tcflush(STDIN_FILENO, TCIFLUSH) == 0 && tcgetattr(STDIN_FILENO, &mode) == 0;
  char buffer[kMaxKeyLength + 2];  // a byte more than a key may have, and the NUL
  const sigset_t held = heldOffSignals();
  struct sigaction onContinue = {};
  onContinue.sa_handler = echoOffOnContinue;
  onContinue.sa_flags = SA_RESTART;  // the read goes on
  sigemptyset(&onContinue.sa_mask);
  struct sigaction continued = {};
  sigaction(SIGCONT, &onContinue, &continued);
  sigset_t mask;
  sigprocmask(SIG_BLOCK, &held, &mask);
  sigset_t continuing;
  sigemptyset(&continuing);
  sigaddset(&continuing, SIGCONT);
  sigprocmask(SIG_UNBLOCK, &continuing, nullptr);
  const char* line = readpassphrase("Secret key: ", buffer, sizeof buffer, RPP_REQUIRE_TTY);
  const int error = errno;
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  sigaction(SIGCONT, &continued, nullptr);
  if (known) tcsetattr(STDIN_FILENO, TCSANOW, &mode);
  std::optional<std::string> key;
  if (line != nullptr) key = line;
  OPENSSL_cleanse(buffer, sizeof buffer);
  if (!key) return readingFailed(std::strerror(error));
  if (known && (mode.c_lflag & ICANON) != 0 && key->size() >= kTerminalLineLimit) {
    wipe(*key);
    std::cerr << "Invalid key: too long: the terminal cuts a line at " << kTerminalLineLimit
              << " bytes" << std::endl;
    return std::nullopt;
  }
  return key;
}

std::optional<std::string> readStream() {
  std::string line;
  // Measured without a last "\r", which a CRLF ending drops, so that the longest key may end in
  // one. Room for all that is kept, a byte past a key and such a "\r" at most: never moved, so that
  // wipe reaches every byte read.
  line.reserve(kMaxKeyLength + 2);
  bool ended = false;
  while (line.size() - (!line.empty() && line.back() == '\r') <= kMaxKeyLength) {
    char c = '\0';
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got == 1 && c != '\n') {
      line.push_back(c);
    } else if (got >= 0) {
      ended = got == 1;
      break;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd input{STDIN_FILENO, POLLIN, 0};  // a non-blocking input: wait for its next byte
      (void)poll(&input, 1, -1);
    } else if (errno != EINTR) {
      const int error = errno;
      wipe(line);
      return readingFailed(std::strerror(error));
    }
  }
  if (ended && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> readKeyLine() {
  if (!isatty(STDIN_FILENO)) return readStream();
  // Another terminal than the controlling one would be asked in the wrong place, and its input
  // would not be hidden. Only the controlling terminal has a foreground process group for us (and
  // unlike its session, qemu's user emulation asks the kernel for it).
  if (tcgetpgrp(STDIN_FILENO) == -1) {
    return readingFailed("standard input is a terminal other than the controlling one");
  }
  return askTerminal();
}

bool readKeyLines(const std::function<bool(const std::string&, std::uint32_t)>& take) {
  if (isatty(STDIN_FILENO)) {
    readingFailed(
        "standard input is a terminal, where the secrets would show: give a file or a pipe");
    return false;
  }
  char chunk[65536];
  std::string line;
  // Never moved, so that wipe reaches every byte: a key, a "\r" and a byte past them at most.
  line.reserve(kMaxKeyLength + 2);
  std::uint32_t number = 1;
  bool ok = true;
  for (bool more = true; ok && more;) {
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd input{STDIN_FILENO, POLLIN, 0};  // a non-blocking input: wait for its next bytes
      (void)poll(&input, 1, -1);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      readingFailed(std::strerror(errno));
      ok = false;
      break;
    }
    more = got > 0;
    // The end of the input ends its last line, if it has one.
    const std::string_view text = more ? std::string_view(chunk, got) : "\n";
    for (std::size_t start = 0; ok && start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      const std::size_t room = kMaxKeyLength + 2 - line.size();
      line.append(text.substr(start, std::min(end - start, room)));
      start = end + 1;
      if (end == text.size()) break;  // the line goes on in the next chunk
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > kMaxKeyLength) {
        std::cerr << "Invalid key: line " << number << ": too long: more than " << kMaxKeyLength
                  << " bytes" << std::endl;
        ok = false;
      } else if (line.find_first_not_of(" \t") != std::string::npos) {
        ok = take(line, number);
      }
      wipe(line);
      ++number;
    }
  }
  OPENSSL_cleanse(chunk, sizeof chunk);
  wipe(line);
  return ok;
}
