// Reading a key: one line of standard input, asked for without echo on the terminal.
#pragma once

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
