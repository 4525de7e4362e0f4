#include "zipformat/RecordWriting.h"

#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

namespace zipformat {

namespace {

// The fixed part of a record, its fields written at their offsets.
class FixedPart {
public:
    explicit FixedPart(std::size_t size, std::uint32_t signature) : m_bytes(size, '\0') {
        put(0, signature, 4);
    }
    void put(std::size_t at, std::uint64_t value, std::size_t width) {
        writeLittleEndian(reinterpret_cast<unsigned char*>(m_bytes.data()) + at, value, width);
    }
    const std::string& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

} // namespace

void appendCentralRecord(std::string& out, const CentralRecord& record) {
    FixedPart part(centralHeaderSize, centralHeaderSignature);
    part.put(centralVersionMadeByAt, record.versionMadeBy, 2);
    part.put(centralVersionNeededAt, record.versionNeeded, 2);
    part.put(centralFlagsAt, record.flags, 2);
    part.put(centralMethodAt, record.method, 2);
    part.put(centralTimeAt, record.modifiedTime, 2);
    part.put(centralDateAt, record.modifiedDate, 2);
    part.put(centralCrcAt, record.crc32, 4);
    part.put(centralCompressedSizeAt, record.compressedSize, 4);
    part.put(centralSizeAt, record.size, 4);
    part.put(centralNameLengthAt, record.name.size(), 2);
    part.put(centralInternalAttributesAt, record.internalAttributes, 2);
    part.put(centralExternalAttributesAt, record.externalAttributes, 4);
    part.put(centralLocalOffsetAt, record.localHeaderOffset, 4);
    out += part.bytes();
    out += record.name;
}

void appendEndRecord(std::string& out, std::uint16_t entryCount, std::uint32_t directorySize,
                     std::uint32_t directoryOffset) {
    FixedPart part(endRecordSize, endRecordSignature);
    part.put(endEntriesOnDiskAt, entryCount, 2);
    part.put(endEntryCountAt, entryCount, 2);
    part.put(endDirectorySizeAt, directorySize, 4);
    part.put(endDirectoryOffsetAt, directoryOffset, 4);
    out += part.bytes();
}

} // namespace zipformat
