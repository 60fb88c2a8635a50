// Site and account as text for one line of lscodes: their control characters found and shown.
#pragma once

#include <string>

// The first control character in `text`, by value and byte position; empty when there is none.
std::string controlProblem(const std::string& text);

// `text` as lscodes shows it: each control character escaped ("\x1b", "\u009b") and each backslash
// doubled, so that no stored field can act on the terminal or pass for a separator. Other text is
// shown as it is.
std::string escapeControls(const std::string& text);
