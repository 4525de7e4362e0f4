#pragma once

// An entry stored without compression, read from the bytes of its span as
// they arrive (its local header first, then its data, then whatever follows
// it in the span): how the manifest is read out of the package, from a file
// or from what a server sends. Nothing is held but the local header; the
// data is handed on piece by piece and checked against the directory's size
// and CRC-32 once the span has ended.

#include "delta/PackageDirectory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace delta {

class StoredEntryReader {
public:
    using Data = std::function<void(std::span<const unsigned char> data)>;

    // An entry of more than mostBytes is refused before anything is read.
    StoredEntryReader(const DirectoryEntry& entry, std::uint64_t mostBytes, Data data);

    // Why the entry cannot be read: at once from its directory entry (it is
    // compressed or encrypted, or larger than mostBytes), and then from its
    // local header (none, one of another name, compressed or encrypted). No
    // more data is handed on once there is one.
    const std::optional<std::string>& problem() const { return m_problem; }

    // The span's next bytes.
    void take(std::span<const unsigned char> bytes);

    // After the span's last byte: the problem, or that the data ran past
    // the span or does not match its CRC-32; nothing when the whole entry
    // was handed on as it is.
    std::optional<std::string> finish();

    // Where the data starts in the span, once the local header has come.
    std::size_t dataOffset() const { return m_dataOffset; }

private:
    // The local header's length as far as its bytes tell it yet.
    std::size_t headerLength() const;
    std::uint16_t field16(std::size_t at) const;
    void takeHeader(std::span<const unsigned char>& bytes);
    void checkHeader();
    void takeData(std::span<const unsigned char>& bytes);

    DirectoryEntry m_entry;
    Data m_data;
    std::optional<std::string> m_problem;
    std::string m_header;
    std::size_t m_dataOffset = 0; // 0 until the header is read
    std::uint64_t m_dataTaken = 0;
    unsigned long m_crc = 0;
};

} // namespace delta
