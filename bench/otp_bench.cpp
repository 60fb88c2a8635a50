// Microbenchmarks of the code engine: base32 decoding by key length, one code, and the one-shot
// HMAC-SHA1 call alone that a code costs at least.
#include "otp.h"

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace {

const std::string kKey = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";  // 32 characters, 20 key bytes

// A key of `length` characters, every one of them accepted.
std::string keyOfLength(std::int64_t length) {
  std::string key;
  while (static_cast<std::int64_t>(key.size()) < length) key += kKey;
  key.resize(static_cast<std::size_t>(length));
  return key;
}

void BM_base32Decode(benchmark::State& state) {
  const std::string key = keyOfLength(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(base32Decode(key));
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
// From the 32-character key of a typical service to a 4 KiB one; the fit tells whether the time
// grows linearly with the length.
BENCHMARK(BM_base32Decode)->RangeMultiplier(2)->Range(32, 4096)->Complexity(benchmark::oN);

void BM_generateOTP(benchmark::State& state) {
  const std::string secret = base32Decode(kKey);
  for (auto _ : state) benchmark::DoNotOptimize(generateOTP(secret, 30, 6));
}
BENCHMARK(BM_generateOTP);

void BM_HMAC(benchmark::State& state) {
  const std::string secret = base32Decode(kKey);
  const unsigned char data[8] = {0, 0, 0, 0, 0x03, 0x88, 0x94, 0x0e};
  unsigned char hmac[EVP_MAX_MD_SIZE];
  unsigned int hmacLength = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()), data,
                                  sizeof data, hmac, &hmacLength));
  }
}
BENCHMARK(BM_HMAC);

}  // namespace
