// Any key bytes at any time give exactly six decimal digits, and the same key then verifies them.
// The input is eight bytes of time, then the key.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "otp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int64_t time = 0;
  if (size < sizeof time) return 0;
  std::memcpy(&time, data, sizeof time);
  const std::string secret(reinterpret_cast<const char*>(data) + sizeof time, size - sizeof time);
  const std::optional<std::string> code = generateOTP(secret, 30, 6, time);
  if (!code || code->size() != 6 || code->find_first_not_of("0123456789") != std::string::npos ||
      verifyOTP(secret, *code, 30, 6, time) != true) {
    std::abort();
  }
  return 0;
}
