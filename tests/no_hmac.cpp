// Preloaded into kavro in place of libcrypto's HMAC, it fails as a broken libcrypto would.
extern "C" unsigned char* HMAC() { return nullptr; }
