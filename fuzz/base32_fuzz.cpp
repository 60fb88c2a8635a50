// Any text decodes without failing: n accepted characters give floor(5n / 8) bytes, and letters
// decode alike in either case.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "otp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string upper = text;
  std::string lower = text;
  std::size_t accepted = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool isUpper = c >= 'A' && c <= 'Z';
    const bool isLower = c >= 'a' && c <= 'z';
    if (isUpper || isLower || (c >= '2' && c <= '7')) ++accepted;
    if (isLower) upper[i] = static_cast<char>(c - 'a' + 'A');
    if (isUpper) lower[i] = static_cast<char>(c - 'A' + 'a');
  }
  const std::string bytes = base32Decode(text);
  if (bytes.size() != accepted * 5 / 8 || base32Decode(upper) != bytes ||
      base32Decode(lower) != bytes) {
    std::abort();
  }
  return 0;
}
