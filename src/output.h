// Result output: what a command writes to standard output.
#pragma once

#include <string_view>

// Writes all of `text` to standard output at once, with no buffer in between, so that a line is
// out before the command's next step. On a failure writes "Error writing output: " and the
// system's reason to standard error, and returns false.
bool writeOutput(std::string_view text);
