// Preloaded into kavro in place of libcrypto's HMAC, it fails with a digest shorter than SHA-1's.
#include <cstddef>

extern "C" unsigned char* HMAC(const void* /*md*/, const void* /*key*/, int /*keyLength*/,
                               const unsigned char* /*data*/, std::size_t /*dataLength*/,
                               unsigned char* digest, unsigned int* digestLength) {
  *digestLength = 16;
  return digest;
}
