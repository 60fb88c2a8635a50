// Site and account as text for one line of lscodes: their control characters found and shown.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

// The first control character in `text`, by value and byte position; empty when there is none.
std::string controlProblem(const std::string& text);

// Writes `text` as lscodes shows it: each control character escaped ("\x1b", "\u009b", "\u202e"),
// so that no stored field can act on the terminal or pass for a separator. Other text, a backslash
// included, is written as it is, each run of it in one write.
void writeEscaped(std::ostream& out, std::string_view text);
