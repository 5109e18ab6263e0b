#pragma once
// Cipher: the session's AES-128-ECB with zero padding and the MD5 digest,
// on top of libcrypto (on Windows, the system's CNG). Pure functions,
// callable from any thread.

#include <cstddef>
#include <cstdint>

namespace fixlink {

constexpr int kCipherBlock = 16;
constexpr int kCipherEncrypt = 1;

// Encrypts (encrypt = true) or decrypts one 16-byte block. False only when
// the crypto library fails.
bool aesBlock(const std::uint8_t* key, const std::uint8_t* in, std::uint8_t* out, bool encrypt);

// Appends zero bytes up to the next multiple of 16 (an empty input gets a
// whole block). Returns the padded length, or -1 when n is negative or the
// padded data would not fit in `limit` bytes.
int padToBlock(std::uint8_t* data, int n, int limit);

// The session cipher: mode kCipherEncrypt pads and encrypts in place, any
// other mode decrypts in place. Returns the new length, or -1 for missing
// data, a length outside 0..limit, a failed padding or (decrypting) a length
// that is not a multiple of 16.
int aesEcb(std::uint8_t* data, int length, int limit, const std::uint8_t* key, int mode);

void md5(const std::uint8_t* data, std::size_t length, std::uint8_t* digest);

} // namespace fixlink
