#pragma once

// Where an archive's central directory lies, as its end record (or the
// zip64 end record that one points to) says, and the numbers of a central
// record that its zip64 extra field carries: read the one way by the unzip
// library, from the file, and by the delta download, from a package's tail.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zipformat {

// A 32-bit field of this value says the number is in the zip64 extra field.
inline constexpr std::uint32_t inZip64Field = 0xFFFFFFFFu;

struct DirectoryLocation {
    std::uint64_t entryCount = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;

    bool operator==(const DirectoryLocation&) const = default;
};

// From the endRecordSize bytes of an end record.
DirectoryLocation locationInEndRecord(const unsigned char* record);

// The offset of the zip64 end record, from the zip64EndLocatorSize bytes
// that stand before an end record; nothing when they are no locator.
std::optional<std::uint64_t> zip64EndRecordOffset(const unsigned char* locator);

// From the zip64EndRecordSize bytes of a zip64 end record; nothing when they
// are not one.
std::optional<DirectoryLocation> locationInZip64EndRecord(const unsigned char* record);

// The numbers a central record may leave to its zip64 extra field, as its
// fixed part gives them; applyZip64Field replaces those that stand at
// inZip64Field.
struct Zip64Values {
    std::uint64_t size = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
};

// Calls visit(id, data) for each extra field in extra, in order; stops at a
// field whose data would run past the end.
template <typename Visit> void forEachExtraField(std::span<const unsigned char> extra, Visit visit);

// Takes from the data of a zip64 extra field, in the format's order, each of
// the values that stands at inZip64Field, as far as the data holds them.
void applyZip64Field(std::span<const unsigned char> data, Zip64Values& values);

} // namespace zipformat

#include "zipformat/LittleEndian.h"

template <typename Visit>
void zipformat::forEachExtraField(std::span<const unsigned char> extra, Visit visit) {
    std::size_t position = 0;
    while (position + 4 <= extra.size()) {
        const std::uint16_t id = read16(&extra[position]);
        const std::size_t length = read16(&extra[position + 2]);
        const std::size_t data = position + 4;
        if (length > extra.size() - data) {
            return;
        }
        visit(id, extra.subspan(data, length));
        position = data + length;
    }
}
