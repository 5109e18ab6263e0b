#include "Cipher.h"

#include "Console.h"

#if defined(_WIN32)
#include <windows.h>

#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <cstring>
#include <memory>

namespace fixlink {

namespace {

#if defined(_WIN32)

// CNG, the system's own cryptography. Provider handles may be shared by
// threads; keys and hashes are made per call.
bool succeeded(NTSTATUS status)
{
    return status >= 0;
}

BCRYPT_ALG_HANDLE openProvider(LPCWSTR algorithm, bool ecb)
{
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0)))
        return nullptr;
    if (ecb
        && !succeeded(BCryptSetProperty(handle, BCRYPT_CHAINING_MODE,
            reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)), sizeof BCRYPT_CHAIN_MODE_ECB, 0))) {
        BCryptCloseAlgorithmProvider(handle, 0);
        return nullptr;
    }
    return handle;
}

BCRYPT_ALG_HANDLE aesProvider()
{
    static const BCRYPT_ALG_HANDLE handle = openProvider(BCRYPT_AES_ALGORITHM, true);
    return handle;
}

BCRYPT_ALG_HANDLE md5Provider()
{
    static const BCRYPT_ALG_HANDLE handle = openProvider(BCRYPT_MD5_ALGORITHM, false);
    return handle;
}

struct KeyFree {
    void operator()(void* key) const { BCryptDestroyKey(static_cast<BCRYPT_KEY_HANDLE>(key)); }
};

struct HashFree {
    void operator()(void* hash) const { BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(hash)); }
};

bool ecbInPlace(const std::uint8_t* key, std::uint8_t* data, int length, bool encrypt)
{
    if (length == 0)
        return true;
    const BCRYPT_ALG_HANDLE provider = aesProvider();
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    if (!provider
        || !succeeded(
            BCryptGenerateSymmetricKey(provider, &rawKey, nullptr, 0, const_cast<PUCHAR>(key), kCipherBlock, 0)))
        return false;
    const std::unique_ptr<void, KeyFree> owned(rawKey);
    ULONG written = 0;
    const ULONG size = static_cast<ULONG>(length);
    const NTSTATUS status = encrypt ? BCryptEncrypt(rawKey, data, size, nullptr, nullptr, 0, data, size, &written, 0)
                                    : BCryptDecrypt(rawKey, data, size, nullptr, nullptr, 0, data, size, &written, 0);
    return succeeded(status) && written == size;
}

bool digestMd5(const std::uint8_t* data, std::size_t length, std::uint8_t* digest)
{
    const BCRYPT_ALG_HANDLE provider = md5Provider();
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!provider || !succeeded(BCryptCreateHash(provider, &rawHash, nullptr, 0, nullptr, 0, 0)))
        return false;
    const std::unique_ptr<void, HashFree> owned(rawHash);
    // Frames are far below 4 GiB; the loop only keeps the call general.
    while (length > 0) {
        const ULONG piece = length > 0x40000000U ? 0x40000000U : static_cast<ULONG>(length);
        if (!succeeded(BCryptHashData(rawHash, const_cast<PUCHAR>(data), piece, 0)))
            return false;
        data += piece;
        length -= piece;
    }
    return succeeded(BCryptFinishHash(rawHash, digest, 16, 0));
}

#else

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

bool digestMd5(const std::uint8_t* data, std::size_t length, std::uint8_t* digest)
{
    static const std::uint8_t empty = 0;
    unsigned int size = 0;
    return EVP_Digest(data ? data : &empty, length, digest, &size, EVP_md5(), nullptr) == 1;
}

#endif

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
    // A digest that could not be computed is all zeros, never leftovers.
    if (!digestMd5(data, length, digest))
        std::memset(digest, 0, 16);
}

} // namespace fixlink
