#pragma once

#include "signature/PackageCheck.h"
#include "signature/ReleaseLine.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace signature {

// What the checks of a package need, taken from its bytes as they arrive,
// so that the package is never read again: its size, the SHA-512 of all of
// it (against the version answer's release line) and of all but its end
// (against the signature in its comment). The bytes before the last 64 KiB
// and 22 bytes, where the end record can lie, are hashed once as they come;
// those last ones are kept in memory (at most twice that) and finish both.
class ArrivingPackage {
public:
    ArrivingPackage();
    ~ArrivingPackage();
    ArrivingPackage(const ArrivingPackage&) = delete;
    ArrivingPackage& operator=(const ArrivingPackage&) = delete;

    // Forgets what arrived: a new package begins.
    void restart();
    void add(const std::uint8_t* data, std::size_t size);

    std::uint64_t size() const { return m_size; }
    // The SHA-512 of everything that arrived.
    PackageDigest digest() const;
    // checkPackage on the bytes that arrived.
    PackageCheck check(const PublicKey& key, std::string_view offeredVersion) const;

private:
    struct Digests;
    std::unique_ptr<Digests> m_digests;
    // The last bytes, not yet in the digest of the start.
    std::vector<std::uint8_t> m_tail;
    std::uint64_t m_size = 0;
};

} // namespace signature
