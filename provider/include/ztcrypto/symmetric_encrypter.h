#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ztcrypto/exception.h"
#include "ztcrypto/export.h"

// A keyed block cipher with an initialization vector (the default is AES-256-CBC without
// padding). Every encrypt() and decrypt() call starts from the IV last set; the cipher
// keeps no chaining state between calls.
class ZTCRYPTO_API SymmetricEncrypter {
  public:
    SymmetricEncrypter() = default;
    SymmetricEncrypter(const SymmetricEncrypter&) = delete;
    SymmetricEncrypter& operator=(const SymmetricEncrypter&) = delete;
    virtual ~SymmetricEncrypter();

    // The IV last set (empty before the first set_iv).
    virtual std::vector<std::uint8_t> get_iv() const = 0;
    // Sets the IV; throws InvalidArgumentException ("iv") unless it has iv_size() bytes.
    virtual void set_iv(const std::vector<std::uint8_t>& iv) = 0;
    // The IV length in bytes (16). `mode` is reserved and must be 0.
    virtual std::size_t iv_size(int mode = 0) const = 0;
    // The block length in bytes (16). `mode` is reserved and must be 0.
    virtual std::size_t block_size(int mode = 0) const = 0;
    // Encrypts `n` bytes at `in` into `out`; a last partial block is zero-filled first, so
    // `out` receives n rounded up to a multiple of block_size() bytes and must hold them.
    // Throws when no IV was set or a pointer is null.
    virtual void encrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) = 0;
    // Decrypts `n` bytes at `in` into `out` (n bytes). Throws InvalidArgumentException
    // ("n") unless n is a multiple of block_size(), and when no IV was set.
    virtual void decrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) = 0;

    // Copies `size` bytes at `iv_rawPtr` and sets them as the IV; a null pointer throws
    // InvalidArgumentException naming "iv_rawPtr".
    void set_Iv(const std::uint8_t* iv_rawPtr, std::size_t size) {
        if (iv_rawPtr == nullptr) {
            throw InvalidArgumentException("iv_rawPtr", "SymmetricEncrypter::set_Iv",
                                           "the initialization vector is null");
        }
        set_iv(std::vector<std::uint8_t>(iv_rawPtr, iv_rawPtr + size));
    }
};
