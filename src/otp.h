// The code engine: base32 secrets to key bytes and back, and time-based one-time codes from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decodes a base32 secret as typed. Letters of either case and the digits 2-7 carry value; every
// other byte is skipped, and a trailing partial byte is dropped. Never fails.
std::string base32Decode(std::string_view base32);
// The same into `bytes`, replacing what it held, which is wiped first: its room is used again, so
// that a listing decodes the key of every row without an allocation.
void base32Decode(std::string_view base32, std::string& bytes);

// The canonical base32 text of key bytes: upper case, without padding; base32Decode gives the bytes
// back.
std::string base32Encode(const std::string& bytes);

// Overwrites the bytes of a secret (a key as typed, or the key bytes decoded from it) and empties
// it, so that once used it lingers nowhere in memory.
void wipe(std::string& secret);

// What keeps `base32` from being a key, without quoting it: more than kMaxKeyLength bytes, a byte
// outside the alphabet (spaces, hyphens and "=" padding aside), or too few characters for one
// byte. Empty when it is a key.
inline constexpr std::size_t kMaxKeyLength = 4096;
std::string base32KeyProblem(const std::string& base32);

// The code of `secret` for the step that holds `currentTime` (seconds since the Unix epoch):
// exactly `codeDigits` decimal digits. `timeStep` must be at least 1 and `codeDigits` 1 to 9.
// When libcrypto cannot compute the HMAC, writes one error line and returns nothing.
std::optional<std::string> generateOTP(const std::string& secret, std::uint64_t timeStep,
                                       std::uint32_t codeDigits, std::int64_t currentTime);
// The same at the present moment, read from the system clock.
std::optional<std::string> generateOTP(const std::string& secret, std::uint64_t timeStep,
                                       std::uint32_t codeDigits);

// Whether `otp` is exactly the code of `secret` for the step that holds `currentTime`; nothing,
// after its error line, when the code cannot be computed.
std::optional<bool> verifyOTP(const std::string& secret, const std::string& otp,
                              std::uint64_t timeStep, std::uint32_t codeDigits,
                              std::int64_t currentTime);
// The same at the present moment, read from the system clock.
std::optional<bool> verifyOTP(const std::string& secret, const std::string& otp,
                              std::uint64_t timeStep, std::uint32_t codeDigits);
