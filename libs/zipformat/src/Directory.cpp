#include "zipformat/Directory.h"

#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

namespace zipformat {

DirectoryLocation locationInEndRecord(const unsigned char* record) {
    return {read16(&record[endEntryCountAt]), read32(&record[endDirectorySizeAt]),
            read32(&record[endDirectoryOffsetAt])};
}

std::optional<std::uint64_t> zip64EndRecordOffset(const unsigned char* locator) {
    if (read32(locator) != zip64EndLocatorSignature) {
        return std::nullopt;
    }
    return read64(&locator[8]);
}

std::optional<DirectoryLocation> locationInZip64EndRecord(const unsigned char* record) {
    if (read32(record) != zip64EndRecordSignature) {
        return std::nullopt;
    }
    return DirectoryLocation{read64(&record[32]), read64(&record[40]), read64(&record[48])};
}

void applyZip64Field(std::span<const unsigned char> data, Zip64Values& values) {
    std::size_t field = 0;
    for (std::uint64_t* value : {&values.size, &values.compressedSize, &values.localHeaderOffset}) {
        if (*value == inZip64Field && field + 8 <= data.size()) {
            *value = read64(&data[field]);
            field += 8;
        }
    }
}

} // namespace zipformat
