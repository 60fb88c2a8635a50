#include "main.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>

#include <sys/select.h>
#include <termios.h>
#include <unistd.h>
#if __has_include(<sys/prctl.h>)
#include <sys/prctl.h>
#endif

#include <sqlite3.h>

#include "otp.h"
#include "store.h"

namespace {

constexpr std::uint64_t kTimeStep = 30;
constexpr std::uint32_t kCodeDigits = 6;

using StorePtr = std::unique_ptr<sqlite3, decltype(&closeStore)>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

// An option is written "--<name>=<value>" and sets one field of the invocation.
struct Option {
  const char* name;
  std::string Invocation::*field;
};
constexpr Option kAccount{"account", &Invocation::account};
constexpr Option kCode{"code", &Invocation::code};
constexpr Option kKey{"key", &Invocation::key};
constexpr Option kSite{"site", &Invocation::site};
constexpr Option kId{"id", &Invocation::id};
constexpr const Option* kOptions[] = {&kAccount, &kCode, &kKey, &kSite, &kId};

void showUsage(const std::string& appname) {
  std::cerr << "Usage: " << appname << "\n"
            << "\taddcode --key=<secret key> --site=<site name> --account=<account name>\n"
            << "\tdelcode --id=<id>\n"
            << "\tlscodes\n"
            << "\tvercode --code=<code> --key=<secret key>" << std::endl;
}

// argv[1] is the command word; it is scanned as a possible option like every later argument.
Invocation scanArguments(int argc, const char* const argv[]) {
  Invocation invocation;
  invocation.mode = argv[1];
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.compare(0, 2, "--") != 0) continue;
    const std::string::size_type equalsPos = argument.find('=');
    const std::string var =
        argument.substr(2, equalsPos == std::string::npos ? equalsPos : equalsPos - 2);
    // Without "=" an option has no value: in "--key SECRET" the secret is a word of its own, and
    // taking "--key" itself for the secret would store a wrong one.
    const std::string val = equalsPos == std::string::npos ? "" : argument.substr(equalsPos + 1);
    for (const Option* option : kOptions) {
      if (var == option->name) invocation.*option->field = val;
    }
  }
  return invocation;
}

// Reads a record id: optional leading white space, an optional sign, then decimal digits and
// nothing else, within the range of SQLite's 64-bit integer. A typo must never select another
// record.
std::optional<std::int64_t> parseId(const std::string& text) {
  std::string::size_type start = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
  // from_chars reads a minus sign but not a plus sign; "+-3" stays refused.
  if (text.compare(start, 1, "+") == 0 && text.compare(start + 1, 1, "-") != 0) ++start;
  std::int64_t id = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + start, end, id);
  if (error != std::errc() || stop != end) return std::nullopt;
  return id;
}

// Column text of the current row; a NULL reads as empty text.
const char* columnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// The length of the control character that starts at text[i]: 1 for a C0 control (tab
// included) or DEL, 2 for a C1 control (U+0080 to U+009F, C2 80 to C2 9F in UTF-8), else 0.
// Terminals act on these instead of showing them (to some, U+009B is what ESC [ is). A lone
// byte 0x80 to 0x9F is no character in UTF-8 and passes: only a terminal that is not in UTF-8 mode
// acts on it, and such a terminal does so on bytes within valid UTF-8 as well (U+00DB is C3 9B):
// to escape lone bytes would not protect it, and the stores of UTF-8 terminals need no escape.
std::size_t controlLength(const std::string& text, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x20 || c == 0x7F) return 1;
  // text[i + 1] is the terminating NUL at the end of the text.
  return c == 0xC2 && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80 ? 2 : 0;
}

// The value of the control character of `length` bytes at text[i], in `format`.
std::string controlShown(const std::string& text, std::size_t i, std::size_t length,
                         const char* format) {
  char shown[16];
  (void)std::snprintf(shown, sizeof shown, format,
                      static_cast<unsigned char>(text[i + length - 1]));
  return shown;
}

// The first control character in `text`, by value and byte position; empty when there is none.
std::string controlProblem(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t length = controlLength(text, i);
    if (length > 0) {
      return controlShown(text, i, length, length == 1 ? "byte 0x%02X" : "U+%04X") +
             " at position " + std::to_string(i + 1) + " is a control character";
    }
  }
  return "";
}

// Stored text as lscodes shows it: each control character escaped ("\x1b", "\u009b") and each
// backslash doubled, so that no stored field can act on the terminal or pass for a separator, and
// a record is always one line of four tab-separated fields. Other text is shown as it is.
std::string escapeControls(const std::string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t length = controlLength(text, i);
    if (length > 0) {
      shown += controlShown(text, i, length, length == 1 ? "\\x%02x" : "\\u%04x");
      i += length - 1;
    } else {
      if (text[i] == '\\') shown += '\\';
      shown += text[i];
    }
  }
  return shown;
}

int addCode(sqlite3* db, const Invocation& invocation) {
  // The code is computed first, so that a run that cannot compute it stores nothing.
  const std::optional<std::string> code =
      generateOTP(base32Decode(invocation.key), kTimeStep, kCodeDigits);
  if (!code) return 1;

  const StatementPtr stmt(prepareStatement(db, sql_insert), &sqlite3_finalize);
  if (!stmt) return 1;
  sqlite3_bind_text(stmt.get(), 1, invocation.key.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(stmt.get(), 2, invocation.site.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(stmt.get(), 3, invocation.account.c_str(), -1, SQLITE_STATIC);
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
    reportStoreError("Error inserting data", db);
    return 1;
  }
  std::cout << "Generated code: " << *code << std::endl;
  return 0;
}

int deleteCode(sqlite3* db, const Invocation& invocation) {
  const StatementPtr stmt(prepareStatement(db, sql_delete), &sqlite3_finalize);
  if (!stmt) return 1;
  sqlite3_bind_int64(stmt.get(), 1, *parseId(invocation.id));  // checked with the command line
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
    reportStoreError("Error deleting data", db);
    return 1;
  }
  if (sqlite3_changes(db) == 0) {
    std::cerr << "No record with ID " << invocation.id << std::endl;
    return 1;
  }
  std::cout << "ID " << invocation.id << " deleted successfully." << std::endl;
  return 0;
}

int listCodes(sqlite3* db, const Invocation& /*invocation*/) {
  const StatementPtr stmt(prepareStatement(db, sql_select), &sqlite3_finalize);
  if (!stmt) return 1;
  int result = SQLITE_OK;
  while ((result = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const sqlite3_int64 id = sqlite3_column_int64(stmt.get(), 0);
    const std::string key = columnText(stmt.get(), 1);
    const std::optional<std::string> code = generateOTP(base32Decode(key), kTimeStep, kCodeDigits);
    if (!code) return 1;
    std::cout << "ID: " << id << "\tSite: " << escapeControls(columnText(stmt.get(), 2))
              << "\tAccount: " << escapeControls(columnText(stmt.get(), 3))
              << "\tGenerated code: " << *code << std::endl;
  }
  if (result != SQLITE_DONE) {
    reportStoreError("Error retrieving data", db);
    return 1;
  }
  return 0;
}

int verifyCode(sqlite3* /*db*/, const Invocation& invocation) {
  const std::optional<bool> verified =
      verifyOTP(base32Decode(invocation.key), invocation.code, kTimeStep, kCodeDigits);
  if (!verified) return 1;
  std::cout << "Code verified: " << (*verified ? "true" : "false") << std::endl;
  return 0;
}

// A command: its word, the options it needs in the order they are checked (unused places null),
// and what carries it out.
struct Command {
  const char* word;
  const Option* needs[3];
  // cppcheck-suppress unusedStructMember ; runCommand calls it through the table
  int (*carryOut)(sqlite3* db, const Invocation& invocation);
};
constexpr Command kCommands[] = {
    {"addcode", {&kKey, &kSite, &kAccount}, addCode},
    {"delcode", {&kId}, deleteCode},
    {"lscodes", {}, listCodes},
    {"vercode", {&kKey, &kCode}, verifyCode},
};

const Command* findCommand(const std::string& word) {
  const Command* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                        [&word](const Command& c) { return word == c.word; });
  return command != std::end(kCommands) ? command : nullptr;
}

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
  wake.sa_flags = SA_RESTART;
  for (const int number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGCONT}) {
    struct sigaction previous = {};
    if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL) {
      sigaction(number, number == SIGCONT ? &wake : &restore, nullptr);
    }
  }
}

// In canonical mode a terminal keeps this much of a line at most and drops the rest unseen: Linux
// 4095 bytes, its 4096-byte line buffer less the line end (its MAX_CANON of 255 says less). A line
// that reaches it may have been cut.
constexpr std::size_t kTerminalLineLimit = 4095;

// Reads one line from standard input without its line end, and not a byte past it, so that the
// next reader of a pipe finds the next line; nothing when a terminal may have cut it. On a
// terminal it prompts on standard error and hides what is typed, and does both again after a stop;
// echo comes back however the run ends or stops.
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

void reportMissing(const std::string& name, const std::string& appname) {
  std::cerr << "Missing " << name << std::endl;
  showUsage(appname);
}

// Writes "Invalid <name>: <problem>" when there is a problem; true when there is none.
bool valid(const std::string& name, const std::string& problem) {
  if (!problem.empty()) std::cerr << "Invalid " << name << ": " << problem << std::endl;
  return problem.empty();
}

// Fills in and checks what the command needs: every option it needs has a value, an id is one,
// and a key, read from standard input when it is "-", is one. Returns false after the message of
// the first problem, followed by the usage text where an option is missing. A site or an account
// is text for one line of lscodes, so a control character in it is refused too.
bool completeOptions(const Command& command, Invocation& invocation, const std::string& appname) {
  bool needsKey = false;
  for (const Option* option : command.needs) {
    if (option == nullptr) break;
    needsKey = needsKey || option == &kKey;
    // The key is read last, so that nobody types a secret for a command that fails anyway.
    if (option == &kKey && invocation.key == "-") continue;
    if ((invocation.*option->field).empty()) {
      reportMissing(option->name, appname);
      return false;
    }
    if (option == &kId && !parseId(invocation.id)) {
      std::cerr << "Invalid id: " << invocation.id << std::endl;
      return false;
    }
    if ((option == &kSite || option == &kAccount) &&
        !valid(option->name, controlProblem(invocation.*option->field))) {
      return false;
    }
  }
  if (!needsKey) return true;
  // A store that is there is checked before anyone types a secret for a run bound to fail; a new
  // one is made only once the run goes ahead.
  if (invocation.key == "-") {
    if (!checkExistingStore()) return false;
    const std::optional<std::string> line = readKeyLine();
    if (!line) {
      return valid(kKey.name, "too long: the terminal cuts a line at " +
                                  std::to_string(kTerminalLineLimit) + " bytes");
    }
    invocation.key = *line;
  }
  if (invocation.key.empty()) {
    reportMissing(kKey.name, appname);
    return false;
  }
  return valid(kKey.name, base32KeyProblem(invocation.key));
}

}  // namespace

int runCommand(const Invocation& invocation) {
  // Every command opens the store, so that even a first vercode leaves a ready file behind.
  const StorePtr db(openStore(), &closeStore);
  if (!db) return 1;
  const int status = findCommand(invocation.mode)->carryOut(db.get(), invocation);
  if (status != 0) return status;
  // Every result line is flushed, so a failed write shows here; a result the user never saw is
  // no success.
  if (!std::cout) {
    std::cerr << "Error writing output: " << std::strerror(errno) << std::endl;
    return 1;
  }
  return 0;
}

int main(int argc, char* argv[]) {
#ifdef PR_SET_DUMPABLE
  // Secrets pass through memory: no core file of a crash, and no other process of the user may
  // read it.
  prctl(PR_SET_DUMPABLE, 0);
#endif
  // argv[0] is a string whenever argc is above 0.
  const std::string appname = argc > 0 ? argv[0] : "kavro";
  const Command* command = argc < 2 ? nullptr : findCommand(argv[1]);
  if (command == nullptr) {
    showUsage(appname);
    return 1;
  }
  Invocation invocation = scanArguments(argc, argv);
  if (!completeOptions(*command, invocation, appname)) return 1;
  return runCommand(invocation);
}
