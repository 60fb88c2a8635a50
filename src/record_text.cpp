#include "record_text.h"

#include <cstddef>
#include <cstdio>

namespace {

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

}  // namespace

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
