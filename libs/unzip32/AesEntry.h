#pragma once

#include "DataSource.h"

#include <array>
#include <cstdint>
#include <memory>

namespace unzip32 {

// Decrypts an AES-encrypted entry (the zip AES format: salt, password check,
// AES in counter mode, HMAC-SHA1 authentication code at the end). libzip is
// not asked to do this because it checks a CRC-32 that entries of the second
// format version leave out, and so refuses them.
class AesDecryptingSource : public DataSource {
public:
    // raw yields the entry's stored bytes, storedSize of them. Throws an
    // EntryFault (UZP_BAD_PASSWORD) when the password check fails.
    AesDecryptingSource(std::unique_ptr<DataSource> raw, uint64_t storedSize,
                        uint16_t encryptionMethod, const char* password);
    ~AesDecryptingSource() override;
    AesDecryptingSource(const AesDecryptingSource&) = delete;
    AesDecryptingSource& operator=(const AesDecryptingSource&) = delete;

    uint64_t read(unsigned char* target, uint64_t capacity) override;

private:
    struct Crypto;

    void readExactly(unsigned char* target, std::size_t length);
    void checkAuthenticationCode();
    void decrypt(unsigned char* data, std::size_t length);

    std::unique_ptr<DataSource> m_raw;
    std::unique_ptr<Crypto> m_crypto;
    uint64_t m_encryptedLeft = 0;
    bool m_checked = false;
};

} // namespace unzip32
