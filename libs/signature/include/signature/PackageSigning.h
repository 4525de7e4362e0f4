#pragma once

#include "signature/SignatureLine.h"

#include <memory>
#include <string>
#include <string_view>

struct evp_pkey_st;

namespace signature {

// The publisher's Ed25519 private key, as openssl genpkey -algorithm ed25519
// writes it (PEM, not encrypted).
class SigningKey {
public:
    // Throws SignatureError when the file cannot be read or holds another
    // kind of key.
    static SigningKey fromFile(const std::string& path);

    const PublicKey& publicKey() const { return m_publicKey; }
    SignatureBytes sign(std::string_view message) const;

private:
    SigningKey(std::shared_ptr<evp_pkey_st> key, const PublicKey& publicKey)
        : m_key(std::move(key)), m_publicKey(publicKey) {}

    std::shared_ptr<evp_pkey_st> m_key;
    PublicKey m_publicKey;
};

// Signs the zip archive at archivePath for version (three numbers) by
// writing the signature line into its comment, which must be empty, and
// flushes it to the disk. Throws SignatureError.
void signPackage(const std::string& archivePath, const SigningKey& key, const std::string& version);

} // namespace signature
