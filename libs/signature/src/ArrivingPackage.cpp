#include "signature/ArrivingPackage.h"

#include "PackageJudgement.h"
#include "signature/SignatureError.h"

#include "zipformat/EndRecord.h"

#include <openssl/evp.h>

namespace signature {

namespace {

using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Context newDigest() {
    Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha512(), nullptr) != 1) {
        throw SignatureError("cannot compute the digest of the package");
    }
    return context;
}

Context copyOf(const Context& context) {
    Context copy(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), context.get()) != 1) {
        throw SignatureError("cannot compute the digest of the package");
    }
    return copy;
}

void update(const Context& context, const std::uint8_t* data, std::size_t size) {
    if (size != 0 && EVP_DigestUpdate(context.get(), data, size) != 1) {
        throw SignatureError("cannot compute the digest of the package");
    }
}

ArchiveDigest finished(const Context& context) {
    ArchiveDigest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        throw SignatureError("cannot compute the digest of the package");
    }
    return digest;
}

} // namespace

// One digest of everything before m_tail: both digests begin with it, and
// each is finished from a copy of it and the tail, so every byte is hashed
// once.
struct ArrivingPackage::Digests {
    Context start = newDigest();
};

ArrivingPackage::ArrivingPackage() : m_digests(std::make_unique<Digests>()) {}

ArrivingPackage::~ArrivingPackage() = default;

void ArrivingPackage::restart() {
    m_digests = std::make_unique<Digests>();
    m_tail.clear();
    m_size = 0;
}

void ArrivingPackage::add(const std::uint8_t* data, std::size_t size) {
    m_size += size;
    m_tail.insert(m_tail.end(), data, data + size);
    // Keep what the end record could need; hand the rest on in one piece.
    if (m_tail.size() >= 2 * zipformat::endSearchLength) {
        const std::size_t handed = m_tail.size() - zipformat::endSearchLength;
        update(m_digests->start, m_tail.data(), handed);
        m_tail.erase(m_tail.begin(), m_tail.begin() + static_cast<std::ptrdiff_t>(handed));
    }
}

PackageDigest ArrivingPackage::digest() const {
    const Context whole = copyOf(m_digests->start);
    update(whole, m_tail.data(), m_tail.size());
    return finished(whole);
}

PackageCheck ArrivingPackage::check(const PublicKey& key, std::string_view offeredVersion) const {
    const std::uint64_t tailStart = m_size - m_tail.size();
    const std::size_t searched = std::min(m_tail.size(), zipformat::endSearchLength);
    const std::size_t skipped = m_tail.size() - searched;
    const ArchiveEnd end = archiveEndOf(
        std::span<const unsigned char>(m_tail.data() + skipped, searched), tailStart + skipped);
    return judgePackage(end, key, offeredVersion, [&](std::uint64_t signedLength) {
        const Context digest = copyOf(m_digests->start);
        update(digest, m_tail.data(), static_cast<std::size_t>(signedLength - tailStart));
        return finished(digest);
    });
}

} // namespace signature
