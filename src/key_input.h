// Reading a key: one line of standard input, asked for without echo on the terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Reads one line from standard input without its line end. On the controlling terminal it asks
// with readpassphrase(3), which hides what is typed, puts the terminal back however the run ends
// or stops (SIGKILL aside), and asks again after a stop; a line the terminal may have cut is
// refused. Any other input is read a byte at a time, not a byte past the line, so that the next
// reader of a pipe finds the next line. At most kMaxKeyLength + 1 bytes are kept, and the "\r" of
// a CRLF ending, so that a longer key is refused, not cut. Returns nothing after writing the error
// line: a terminal other than the controlling one, a failed read, a line cut.
std::optional<std::string> readKeyLine();

// Reads standard input to its end for importcodes, and hands each line that is not blank (spaces
// and tabs only) to `take` with its number, from 1, without its line end or a "\r" before that.
// Returns false after writing the error line: a terminal, where the secrets would show; a failed
// read; a line longer than kMaxKeyLength; or `take`'s, which returns false after writing its own.
bool readKeyLines(const std::function<bool(const std::string&, std::uint32_t)>& take);
