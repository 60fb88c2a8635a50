#include "record_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace {

// The byte at text[i] as a number, 0 past the end.
unsigned int byteAt(std::string_view text, std::size_t i) {
  return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

// The length of the control character that starts at text[i]: 1 for a C0 control (tab
// included) or DEL, 2 for a C1 control (U+0080 to U+009F, C2 80 to C2 9F in UTF-8), 3 for a
// bidirectional control (U+202A to U+202E, U+2066 to U+2069: E2 80 AA to AE, E2 81 A6 to A9),
// else 0. Terminals act on the first two instead of showing them (to some, U+009B is what ESC [
// is); the bidirectional ones reorder what follows on the line, so that a field could show
// another site or account than it holds, or take the look of the fields after it. A lone byte
// 0x80 to 0x9F is no character in UTF-8 and passes: only a terminal that is not in UTF-8 mode
// acts on it, and such a terminal does so on bytes within valid UTF-8 as well (U+00DB is C3 9B):
// to escape lone bytes would not protect it, and the stores of UTF-8 terminals need no escape.
std::size_t controlLength(std::string_view text, std::size_t i) {
  const unsigned int c = byteAt(text, i);
  if (c < 0x20 || c == 0x7F) return 1;
  if (c != 0xC2 && c != 0xE2) return 0;
  const unsigned int second = byteAt(text, i + 1);
  if (c == 0xC2) return second >= 0x80 && second <= 0x9F ? 2 : 0;
  const unsigned int third = byteAt(text, i + 2);
  if (second == 0x80) return third >= 0xAA && third <= 0xAE ? 3 : 0;
  return second == 0x81 && third >= 0xA6 && third <= 0xA9 ? 3 : 0;
}

// The value of the control character of `length` bytes at text[i], in `format`: the byte itself
// for a C0 control or DEL, else the code point of its UTF-8 bytes, whose first byte of n keeps
// 7 - n bits of it and each further byte 6.
std::string controlShown(std::string_view text, std::size_t i, std::size_t length,
                         const char* format) {
  unsigned int value = byteAt(text, i) & (length == 1 ? 0xFFU : 0x7FU >> length);
  for (std::size_t next = i + 1; next < i + length; ++next) {
    value = value << 6 | (byteAt(text, next) & 0x3FU);
  }
  char shown[16];
  (void)std::snprintf(shown, sizeof shown, format, value);
  return shown;
}

}  // namespace

std::string controlProblem(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i] - 0x20) < 0x5F) continue;  // printable ASCII
    const std::size_t length = controlLength(text, i);
    if (length > 0) {
      return controlShown(text, i, length, length == 1 ? "byte 0x%02X" : "U+%04X") +
             " at position " + std::to_string(i + 1) + " is a control character";
    }
  }
  return "";
}

void appendEscaped(std::string& line, std::string_view text) {
  std::size_t plain = 0;  // where the text not yet appended starts
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Printable ASCII, most of any field, in one test.
    if (static_cast<unsigned char>(text[i] - 0x20) < 0x5F) continue;
    const std::size_t length = controlLength(text, i);
    if (length == 0) continue;
    line.append(text, plain, i - plain) +=
        controlShown(text, i, length, length == 1 ? "\\x%02x" : "\\u%04x");
    plain = i + length;
    i = plain - 1;
  }
  line.append(text, plain);
}

void appendRecordLine(std::string& line, std::int64_t id, std::string_view site,
                      std::string_view account, const std::string& code) {
  (line += "ID: ") += std::to_string(id);
  line += "\tSite: ";
  appendEscaped(line, site);
  line += "\tAccount: ";
  appendEscaped(line, account);
  ((line += "\tGenerated code: ") += code) += '\n';
}

bool holdsIgnoringCase(std::string_view text, std::string_view part) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return part.empty() ||
         std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [&](char c, char p) { return lower(c) == lower(p); }) != text.end();
}
