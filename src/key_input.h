// Reading a key: one line of standard input, asked for without echo on a terminal.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// In canonical mode a terminal keeps this much of a line at most and drops the rest unseen: Linux
// 4095 bytes, its 4096-byte line buffer less the line end (its MAX_CANON of 255 says less). A line
// that reaches it may have been cut.
inline constexpr std::size_t kTerminalLineLimit = 4095;

// Reads one line from standard input without its line end, and not a byte past it, so that the
// next reader of a pipe finds the next line; nothing when a terminal may have cut it. At most
// kMaxKeyLength + 1 bytes are read, so that a longer key is refused, not cut. On a terminal it
// prompts on standard error and hides what is typed, and does both again after a stop; echo comes
// back however the run ends or stops, SIGKILL aside.
std::optional<std::string> readKeyLine();
