// Site and account as text for one line of lscodes: their control characters found and shown.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

// The first control character in `text`, by value and byte position; empty when there is none.
std::string controlProblem(const std::string& text);

// Appends `text` as lscodes shows it: each control character escaped ("\x1b", "\u009b",
// "\u202e"), so that no stored field can act on the terminal or pass for a separator. Other text,
// a backslash included, is appended as it is.
void appendEscaped(std::string& line, std::string_view text);

// Whether `text` holds `part`, ASCII letters compared in either case and other bytes exactly.
bool holdsIgnoringCase(std::string_view text, std::string_view part);

// Appends one record's line as lscodes shows it, its site and account escaped, newline included.
void appendRecordLine(std::string& line, std::int64_t id, std::string_view site,
                      std::string_view account, const std::string& code);
