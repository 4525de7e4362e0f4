#pragma once

#include "Archive.h"
#include "DataSource.h"
#include "EntryInfo.h"

#include <zip.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace unzip32 {

// Reads one entry's data to its very end in pieces, and checks that it
// yields exactly the bytes it declares with the CRC-32 it declares.
class EntryReader {
public:
    // password is null for an entry that is not encrypted. Throws an
    // EntryFault when the entry cannot be opened (wrong password included).
    EntryReader(const Archive& archive, const EntryInfo& entry, const char* password);
    ~EntryReader();
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // The next piece of data, read into room (its start); empty once the
    // entry has been read to its end and found sound. Throws an EntryFault
    // for damaged data.
    std::span<const char> next(std::span<char> room);

private:
    void open(zip_t* archive, zip_flags_t flags, const char* password);
    [[noreturn]] void failData(const std::string& problem) const;

    const EntryInfo& m_entry;
    zip_file_t* m_file = nullptr;
    std::unique_ptr<DataSource> m_source;
    uint64_t m_delivered = 0;
    bool m_checkCrc = false;
    uint32_t m_crc = 0;
};

} // namespace unzip32
