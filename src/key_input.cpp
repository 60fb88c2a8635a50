#include "key_input.h"

#include <cerrno>
#include <csignal>
#include <iostream>

#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include "otp.h"

namespace {

// Puts echo back on the terminal; the signal that called it then ends or stops the run as it
// would have, here and now: SA_RESETHAND has put the default action back, and SA_NODEFER lets it
// in at once, where on return the mask of the interrupted wait would block a stop. After a stop
// the run goes on, perhaps in code about to read errno.
extern "C" void restoreEchoAndRaise(int signal) {
  const int error = errno;
  termios settings{};
  if (tcgetattr(STDIN_FILENO, &settings) == 0) {
    settings.c_lflag |= ECHO;
    tcsetattr(STDIN_FILENO, TCSANOW, &settings);
  }
  (void)raise(signal);
  // cppcheck-suppress unreachableCode ; raise returns when a stop has ended
  errno = error;
}

// Only ends the wait for input, so that readKeyLine hides input again after any stop, SIGSTOP's
// too, which no handler sees.
extern "C" void interruptWait(int /*signal*/) {}

// While input is hidden, the signals that end or stop the run put echo back first, and a continue
// interrupts the wait for input. A signal that was ignored stays ignored. The handlers stay, since
// once echo is back they change nothing; the one for a stop, taken back by SA_RESETHAND, is
// installed again on each call.
void guardEcho() {
  struct sigaction restore = {};
  restore.sa_handler = restoreEchoAndRaise;
  restore.sa_flags = SA_RESETHAND | SA_NODEFER | SA_RESTART;
  sigemptyset(&restore.sa_mask);
  struct sigaction wake = restore;
  wake.sa_handler = interruptWait;
  // Without SA_RESTART: the wait must end, and pselect is not restarted by the kernel, but an
  // emulator such as qemu's would restart it for a handler that asks for it.
  wake.sa_flags = 0;
  for (const int number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGCONT}) {
    struct sigaction previous = {};
    if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL) {
      sigaction(number, number == SIGCONT ? &wake : &restore, nullptr);
    }
  }
}

}  // namespace

std::optional<std::string> readKeyLine() {
  termios saved{};
  const bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
  const bool hide = terminal && (saved.c_lflag & ECHO) != 0;
  // A stop and a continue come in only while kavro waits for input, so that after them it hides
  // input again before it reads another byte.
  sigset_t jobControl;
  sigemptyset(&jobControl);
  sigaddset(&jobControl, SIGTSTP);
  sigaddset(&jobControl, SIGCONT);
  sigset_t waiting;
  if (hide) sigprocmask(SIG_BLOCK, &jobControl, &waiting);
  std::string line;
  bool ask = terminal;
  bool ended = false;
  // One byte more than a key may have, so that a longer one is refused, not cut, and an endless
  // stream is not read to its end. One byte a read, so that none past the line is taken.
  while (line.size() <= kMaxKeyLength) {
    termios mode{};
    // Echo is on at the start, and after a stop when the handler or the shell has put it back.
    if (hide && tcgetattr(STDIN_FILENO, &mode) == 0 && (mode.c_lflag & ECHO) != 0) {
      guardEcho();
      mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode);  // drops what was typed before the prompt
      line.clear();
      ask = true;
    }
    if (ask) std::cerr << "Secret key: " << std::flush;
    ask = false;
    fd_set input;
    FD_ZERO(&input);
    FD_SET(STDIN_FILENO, &input);
    // Only a handler can make it fail here, after a stop or a continue.
    if (hide && pselect(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr, &waiting) < 0)
      continue;
    char c = '\0';
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    ended = c == '\n';  // still NUL when nothing was read
    if (got != 1 || ended) break;
    line.push_back(c);
  }
  if (hide) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cerr << std::endl;                       // the newline typed was not echoed
    sigprocmask(SIG_SETMASK, &waiting, nullptr);  // a stop meanwhile comes now, with echo back
  }
  if (terminal && (saved.c_lflag & ICANON) != 0 && line.size() >= kTerminalLineLimit) return {};
  if (ended && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}
