#pragma once

// The fixed parts of a zip archive's records: the signature each begins with
// (read as a little-endian number), the size of its part before the fields
// of variable length, and the fields more than one reader looks at.
//
// How this library fails, everywhere: it never raises and does no I/O. What
// it reads from bytes it is given comes back as a value, nothing (or an
// outcome that says why) where the bytes are not what they must be.

#include <cstddef>
#include <cstdint>

namespace zipformat {

inline constexpr std::uint32_t localHeaderSignature = 0x04034b50;
inline constexpr std::uint32_t dataDescriptorSignature = 0x08074b50;
inline constexpr std::uint32_t centralHeaderSignature = 0x02014b50;
inline constexpr std::uint32_t zip64EndRecordSignature = 0x06064b50;
inline constexpr std::uint32_t zip64EndLocatorSignature = 0x07064b50;
inline constexpr std::uint32_t endRecordSignature = 0x06054b50;

inline constexpr std::size_t localHeaderSize = 30;
inline constexpr std::size_t centralHeaderSize = 46;
inline constexpr std::size_t zip64EndRecordSize = 56;
inline constexpr std::size_t zip64EndLocatorSize = 20;
inline constexpr std::size_t endRecordSize = 22;

// A local header's flags and method, and its name length and extra-field
// length, two bytes each; the name and the extra fields follow the header in
// that order.
inline constexpr std::size_t localFlagsAt = 6;
inline constexpr std::size_t localMethodAt = 8;
inline constexpr std::size_t localNameLengthAt = 26;
inline constexpr std::size_t localExtraLengthAt = 28;
// The most bytes of a name, and of the extra fields, a header can carry.
inline constexpr std::size_t longestName = 0xffff;
inline constexpr std::size_t longestExtraField = 0xffff;
// A data descriptor with its signature and 64-bit sizes: the longest one.
inline constexpr std::size_t longestDataDescriptor = 24;

// A central record's fields, as offsets into its fixed part.
inline constexpr std::size_t centralVersionMadeByAt = 4;
inline constexpr std::size_t centralVersionNeededAt = 6;
inline constexpr std::size_t centralFlagsAt = 8;
inline constexpr std::size_t centralMethodAt = 10;
inline constexpr std::size_t centralTimeAt = 12;
inline constexpr std::size_t centralDateAt = 14;
inline constexpr std::size_t centralCrcAt = 16;
inline constexpr std::size_t centralCompressedSizeAt = 20;
inline constexpr std::size_t centralSizeAt = 24;
inline constexpr std::size_t centralNameLengthAt = 28;
inline constexpr std::size_t centralExtraLengthAt = 30;
inline constexpr std::size_t centralCommentLengthAt = 32;
inline constexpr std::size_t centralInternalAttributesAt = 36;
inline constexpr std::size_t centralExternalAttributesAt = 38;
inline constexpr std::size_t centralLocalOffsetAt = 42;

// The end record's fields: the entries on this disk and in all, the
// directory's size and offset, and the comment's length, which the comment
// follows.
inline constexpr std::size_t endEntriesOnDiskAt = 8;
inline constexpr std::size_t endEntryCountAt = 10;
inline constexpr std::size_t endDirectorySizeAt = 12;
inline constexpr std::size_t endDirectoryOffsetAt = 16;
inline constexpr std::size_t endCommentLengthAt = 20;
inline constexpr std::size_t longestComment = 0xffff;

// The extra field that holds the 64-bit sizes and offset of an entry.
inline constexpr std::uint16_t zip64ExtraFieldId = 0x0001;

} // namespace zipformat
