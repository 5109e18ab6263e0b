#include "Cipher.h"

#include "Console.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>

namespace fixlink {

namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// ECB treats each block alone, so one update over all blocks equals
// ciphering block by block.
bool ecbInPlace(const std::uint8_t* key, std::uint8_t* data, int length, bool encrypt)
{
    if (length == 0)
        return true;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), data, &written, data, length) != 1)
        return false;
    int tail = 0;
    return EVP_CipherFinal_ex(ctx.get(), data + written, &tail) == 1 && written + tail == length;
}

} // namespace

bool aesBlock(const std::uint8_t* key, const std::uint8_t* in, std::uint8_t* out, bool encrypt)
{
    std::uint8_t block[kCipherBlock];
    std::memcpy(block, in, sizeof block);
    if (!ecbInPlace(key, block, kCipherBlock, encrypt))
        return false;
    std::memcpy(out, block, sizeof block);
    return true;
}

int padToBlock(std::uint8_t* data, int n, int limit)
{
    if (n < 0)
        return -1;
    const int rest = n % kCipherBlock;
    if (rest == 0 && n > 0)
        return n;
    const int padded = n + (kCipherBlock - rest);
    if (padded > limit) {
        console("buffer to do %d-padding is too small; [%d/%d]\n", kCipherBlock, padded, limit);
        return -1;
    }
    std::memset(data + n, 0, static_cast<std::size_t>(padded - n));
    return padded;
}

int aesEcb(std::uint8_t* data, int length, int limit, const std::uint8_t* key, int mode)
{
    const bool encrypt = mode == kCipherEncrypt;
    if (!data || length < 0 || length > limit) {
        console(encrypt ? "[AES_ENCRYPT]" : "[AES_DECRYPT]");
        console(
            "[err], params illegal! (data=%p ; inlen=%d ; buflen=%d)\n", static_cast<const void*>(data), length, limit);
        return -1;
    }
    if (encrypt) {
        const int padded = padToBlock(data, length, limit);
        if (padded < 0 || !ecbInPlace(key, data, padded, true))
            return -1;
        return padded;
    }
    if (length % kCipherBlock != 0) {
        console("decrypt buf not times of [%d] , in[%d]\n", kCipherBlock, length);
        return -1;
    }
    return ecbInPlace(key, data, length, false) ? length : -1;
}

void md5(const std::uint8_t* data, std::size_t length, std::uint8_t* digest)
{
    static const std::uint8_t empty = 0;
    unsigned int size = 0;
    EVP_Digest(data ? data : &empty, length, digest, &size, EVP_md5(), nullptr);
}

} // namespace fixlink
