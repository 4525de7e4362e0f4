#include "AesEntry.h"

#include "JobError.h"
#include "unzip32.h"
#include "zipformat/KeyDerivation.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <zip.h>

namespace unzip32 {

namespace {

constexpr std::size_t blockSize = 16;
constexpr std::size_t verifierSize = 2;
constexpr std::size_t authenticationCodeSize = 10;
constexpr unsigned keyDerivationRounds = 1000;
// Keystream made at a time: no more than the entry has left, so that a small
// entry costs a few blocks, not a buffer's worth.
constexpr std::size_t keystreamBlocks = 1024;

std::size_t keyLengthFor(uint16_t encryptionMethod) {
    switch (encryptionMethod) {
    case ZIP_EM_AES_128:
        return 16;
    case ZIP_EM_AES_192:
        return 24;
    default:
        return 32;
    }
}

const EVP_CIPHER* cipherFor(std::size_t keyLength) {
    switch (keyLength) {
    case 16:
        return EVP_aes_128_ecb();
    case 24:
        return EVP_aes_192_ecb();
    default:
        return EVP_aes_256_ecb();
    }
}

} // namespace

struct AesDecryptingSource::Crypto {
    EVP_CIPHER_CTX* cipher = nullptr;
    EVP_MAC* macAlgorithm = nullptr;
    EVP_MAC_CTX* mac = nullptr;
    // Little-endian block counter of the counter mode, starting at 1.
    std::array<unsigned char, blockSize> counter{};
    std::array<unsigned char, blockSize * keystreamBlocks> counters{};
    std::array<unsigned char, blockSize * keystreamBlocks> keystream{};
    std::size_t keystreamUsed = 0;
    std::size_t keystreamLength = 0;

    ~Crypto() {
        EVP_MAC_CTX_free(mac);
        EVP_MAC_free(macAlgorithm);
        EVP_CIPHER_CTX_free(cipher);
        OPENSSL_cleanse(keystream.data(), keystream.size());
    }

    void refillKeystream(uint64_t bytesLeft) {
        const auto blocks = static_cast<std::size_t>(
            std::min<uint64_t>(keystreamBlocks, (bytesLeft + blockSize - 1) / blockSize));
        for (std::size_t block = 0; block < blocks; ++block) {
            for (unsigned char& byte : counter) {
                if (++byte != 0) {
                    break;
                }
            }
            std::copy(counter.begin(), counter.end(), counters.begin() + block * blockSize);
        }
        int length = 0;
        if (EVP_EncryptUpdate(cipher, keystream.data(), &length, counters.data(),
                              static_cast<int>(blocks * blockSize)) != 1) {
            throw DataError("the entry cannot be decrypted");
        }
        keystreamLength = static_cast<std::size_t>(length);
        keystreamUsed = 0;
    }
};

AesDecryptingSource::AesDecryptingSource(std::unique_ptr<DataSource> raw, uint64_t storedSize,
                                         uint16_t encryptionMethod, const char* password)
    : m_raw(std::move(raw)), m_crypto(std::make_unique<Crypto>()) {
    const std::size_t keyLength = keyLengthFor(encryptionMethod);
    const std::size_t saltLength = keyLength / 2;
    if (storedSize < saltLength + verifierSize + authenticationCodeSize) {
        throw EntryFault(UZP_BAD_ENTRY_DATA, "the encrypted data is too short");
    }
    m_encryptedLeft = storedSize - saltLength - verifierSize - authenticationCodeSize;

    std::array<unsigned char, 16 + verifierSize> header{};
    readExactly(header.data(), saltLength + verifierSize);
    // Encryption key, authentication key, password check.
    std::array<unsigned char, 2 * 32 + verifierSize> keys{};
    const std::size_t keysLength = 2 * keyLength + verifierSize;
    zipformat::pbkdf2HmacSha1(password, {header.data(), saltLength}, keyDerivationRounds,
                              {keys.data(), keysLength});
    const bool matches = std::memcmp(&keys[2 * keyLength], &header[saltLength], verifierSize) == 0;
    Crypto& crypto = *m_crypto;
    crypto.cipher = EVP_CIPHER_CTX_new();
    crypto.macAlgorithm = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    crypto.mac = crypto.macAlgorithm == nullptr ? nullptr : EVP_MAC_CTX_new(crypto.macAlgorithm);
    char digest[] = "SHA1";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_END};
    const bool ready = matches && crypto.cipher != nullptr && crypto.mac != nullptr &&
                       EVP_EncryptInit_ex(crypto.cipher, cipherFor(keyLength), nullptr, keys.data(),
                                          nullptr) == 1 &&
                       EVP_CIPHER_CTX_set_padding(crypto.cipher, 0) == 1 &&
                       EVP_MAC_init(crypto.mac, &keys[keyLength], keyLength, parameters) == 1;
    OPENSSL_cleanse(keys.data(), keys.size());
    if (!matches) {
        throw EntryFault(UZP_BAD_PASSWORD);
    }
    if (!ready) {
        throw EntryFault(UZP_UNSUPPORTED_ENTRY, "skipped: AES decryption is not available");
    }
}

AesDecryptingSource::~AesDecryptingSource() = default;

void AesDecryptingSource::readExactly(unsigned char* target, std::size_t length) {
    while (length > 0) {
        const uint64_t got = m_raw->read(target, length);
        if (got == 0) {
            throw DataError("the encrypted data ends early");
        }
        target += got;
        length -= static_cast<std::size_t>(got);
    }
}

uint64_t AesDecryptingSource::read(unsigned char* target, uint64_t capacity) {
    if (m_encryptedLeft == 0) {
        checkAuthenticationCode();
        return 0;
    }
    const uint64_t got = m_raw->read(target, std::min(capacity, m_encryptedLeft));
    if (got == 0) {
        throw DataError("the encrypted data ends early");
    }
    const auto length = static_cast<std::size_t>(got);
    if (EVP_MAC_update(m_crypto->mac, target, length) != 1) {
        throw DataError("the entry cannot be authenticated");
    }
    decrypt(target, length);
    m_encryptedLeft -= got;
    return got;
}

void AesDecryptingSource::decrypt(unsigned char* data, std::size_t length) {
    Crypto& crypto = *m_crypto;
    for (std::size_t i = 0; i < length; ++i) {
        if (crypto.keystreamUsed == crypto.keystreamLength) {
            // m_encryptedLeft still counts this piece.
            crypto.refillKeystream(m_encryptedLeft - i);
        }
        data[i] ^= crypto.keystream[crypto.keystreamUsed++];
    }
}

void AesDecryptingSource::checkAuthenticationCode() {
    if (m_checked) {
        return;
    }
    std::array<unsigned char, authenticationCodeSize> stored{};
    readExactly(stored.data(), stored.size());
    unsigned char trailing = 0;
    if (m_raw->read(&trailing, 1) != 0) {
        throw DataError("data follows the authentication code");
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> computed{};
    std::size_t computedLength = 0;
    if (EVP_MAC_final(m_crypto->mac, computed.data(), &computedLength, computed.size()) != 1 ||
        computedLength < stored.size() ||
        CRYPTO_memcmp(computed.data(), stored.data(), stored.size()) != 0) {
        throw DataError("the authentication code does not match");
    }
    m_checked = true;
}

} // namespace unzip32
