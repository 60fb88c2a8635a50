#include "otp.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <iostream>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace {

constexpr char kBase32Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

// The value of a base32 character, or -1 for a byte that carries none.
constexpr int base32ValueOf(unsigned int c) {
  if (c >= 'A' && c <= 'Z') return static_cast<int>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<int>(c - 'a');
  if (c >= '2' && c <= '7') return static_cast<int>(c - '2' + 26);
  return -1;
}

// The same for every byte, looked up: a key is decoded for each row that lscodes lists, and a load
// is cheaper there than three range tests.
constexpr std::array<signed char, 256> base32Values() {
  std::array<signed char, 256> values{};
  for (unsigned int c = 0; c <= 0xFF; ++c) values[c] = static_cast<signed char>(base32ValueOf(c));
  return values;
}
constexpr std::array<signed char, 256> kBase32Values = base32Values();

int base32Value(unsigned char c) { return kBase32Values[c]; }

void reportCryptoError() {
  const unsigned long error = ERR_get_error();
  char text[256] = "HMAC-SHA1 gave no digest";
  if (error != 0) ERR_error_string_n(error, text, sizeof text);
  std::cerr << "Error computing code: " << text << std::endl;
}

}  // namespace

void base32Decode(std::string_view base32, std::string& bytes) {
  // Sized exactly before the first byte is decoded: no copy of the key is left behind in memory
  // that a growing string moved away from.
  const auto characters =
      static_cast<std::size_t>(std::count_if(base32.begin(), base32.end(), [](char c) {
        return base32Value(static_cast<unsigned char>(c)) >= 0;
      }));
  // The last key is wiped first, whether its room is given back or kept: a shorter key written
  // over it would leave its tail past the new size, where no wipe of the new key reaches.
  wipe(bytes);
  bytes.assign(characters * 5 / 8, '\0');
  char* out = bytes.data();
  // The low `pendingBits` bits are decoded but not yet emitted; the bits above them were emitted
  // already, and the cast to char leaves them out.
  unsigned int pending = 0;
  int pendingBits = 0;
  for (const char c : base32) {
    const int value = base32Value(static_cast<unsigned char>(c));
    if (value < 0) continue;
    pending = (pending << 5) | static_cast<unsigned int>(value);
    pendingBits += 5;
    if (pendingBits >= 8) {
      pendingBits -= 8;
      *out++ = static_cast<char>(pending >> pendingBits);
    }
  }
}

std::string base32Decode(std::string_view base32) {
  std::string bytes;
  base32Decode(base32, bytes);
  return bytes;
}

std::string base32Encode(const std::string& bytes) {
  std::string base32;
  // Room made once, as in base32Decode: the text is the key.
  base32.reserve((bytes.size() * 8 + 4) / 5);
  unsigned int pending = 0;  // its low `pendingBits` bits are read but not yet written
  int pendingBits = 0;
  for (const char byte : bytes) {
    pending = (pending << 8) | static_cast<unsigned char>(byte);
    for (pendingBits += 8; pendingBits >= 5;) {
      pendingBits -= 5;
      base32.push_back(kBase32Alphabet[(pending >> pendingBits) & 0x1FU]);
    }
  }
  // Zero bits fill the last character.
  if (pendingBits > 0) base32.push_back(kBase32Alphabet[(pending << (5 - pendingBits)) & 0x1FU]);
  return base32;
}

void wipe(std::string& secret) {
  OPENSSL_cleanse(secret.data(), secret.size());
  secret.clear();
}

std::string base32KeyProblem(const std::string& base32) {
  if (base32.size() > kMaxKeyLength) {
    return "too long: more than " + std::to_string(kMaxKeyLength) + " bytes";
  }
  std::size_t characters = 0;
  for (std::size_t i = 0; i < base32.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(base32[i]);
    if (base32Value(c) >= 0) {
      ++characters;
    } else if (c != ' ' && c != '-' && c != '=') {
      // A byte that does not print is shown by its value.
      char shown[16];
      (void)std::snprintf(shown, sizeof shown, std::isgraph(c) != 0 ? "'%c'" : "byte 0x%02X", c);
      return std::string(shown) + " at position " + std::to_string(i + 1) + " is not in A-Z or 2-7";
    }
  }
  if (characters < 2) return "too short: one byte takes 2 base32 characters";
  return "";
}

std::optional<std::string> generateOTP(const std::string& secret, std::uint64_t timeStep,
                                       std::uint32_t codeDigits, std::int64_t currentTime) {
  std::uint64_t timeStamp = static_cast<std::uint64_t>(currentTime) / timeStep;
  unsigned char data[8];
  for (int i = 7; i >= 0; --i) {
    data[i] = static_cast<unsigned char>(timeStamp & 0xFF);
    timeStamp >>= 8;
  }

  unsigned char hmac[EVP_MAX_MD_SIZE];
  unsigned int hmacLength = 0;
  // The program reads no configuration file, so libcrypto must not load one on first use; where
  // libcrypto cannot start at all, HMAC fails.
  (void)OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  // A secret is at most 5/8 of a text that SQLite keeps below 2^31 bytes, so its size fits an int.
  if (HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()), data, sizeof data, hmac,
           &hmacLength) == nullptr ||
      hmacLength < 20) {
    reportCryptoError();
    return std::nullopt;
  }

  const unsigned int offset = hmac[hmacLength - 1] & 0x0FU;
  const std::uint32_t binary = (static_cast<std::uint32_t>(hmac[offset] & 0x7FU) << 24) |
                               (static_cast<std::uint32_t>(hmac[offset + 1]) << 16) |
                               (static_cast<std::uint32_t>(hmac[offset + 2]) << 8) |
                               static_cast<std::uint32_t>(hmac[offset + 3]);
  // The code is `binary` modulo 10^codeDigits, zero-padded: its last `codeDigits` decimal digits.
  std::string code(codeDigits, '0');
  std::uint32_t value = binary;
  for (std::size_t i = code.size(); i > 0; value /= 10) {
    code[--i] = static_cast<char>('0' + value % 10);
  }
  return code;
}

std::optional<std::string> generateOTP(const std::string& secret, std::uint64_t timeStep,
                                       std::uint32_t codeDigits) {
  return generateOTP(secret, timeStep, codeDigits, static_cast<std::int64_t>(std::time(nullptr)));
}

std::optional<bool> verifyOTP(const std::string& secret, const std::string& otp,
                              std::uint64_t timeStep, std::uint32_t codeDigits,
                              std::int64_t currentTime) {
  const std::optional<std::string> generatedOTP =
      generateOTP(secret, timeStep, codeDigits, currentTime);
  if (!generatedOTP) return std::nullopt;
  // Constant time once the lengths agree, so that timing tells nothing of the right digits.
  return otp.size() == generatedOTP->size() &&
         CRYPTO_memcmp(otp.data(), generatedOTP->data(), otp.size()) == 0;
}

std::optional<bool> verifyOTP(const std::string& secret, const std::string& otp,
                              std::uint64_t timeStep, std::uint32_t codeDigits) {
  return verifyOTP(secret, otp, timeStep, codeDigits,
                   static_cast<std::int64_t>(std::time(nullptr)));
}
