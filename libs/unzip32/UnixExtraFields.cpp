#include "UnixExtraFields.h"

#include "zipformat/EntryTime.h"
#include "zipformat/LittleEndian.h"

namespace unzip32 {

namespace {

constexpr zip_uint16_t unixOwnerId = 0x7875;

const unsigned char* extraField(zip_t* archive, uint64_t index, zip_uint16_t id,
                                zip_uint16_t& length) {
    length = 0;
    return zip_file_extra_field_get_by_id(archive, index, id, 0, &length,
                                          ZIP_FL_CENTRAL | ZIP_FL_LOCAL);
}

void readTimestamp(zip_t* archive, uint64_t index, EntryInfo& info) {
    zip_uint16_t length = 0;
    const unsigned char* data = extraField(archive, index, zipformat::extendedTimestampId, length);
    const auto modified =
        data != nullptr ? zipformat::extendedModification(std::span(data, length)) : std::nullopt;
    if (!modified) {
        return;
    }
    info.modified = *modified;
    info.modifiedExactly = true;
}

// Version 1: a size byte and a little-endian number for the owner, then the
// same for the group.
void readOwner(zip_t* archive, uint64_t index, EntryInfo& info) {
    zip_uint16_t length = 0;
    const unsigned char* data = extraField(archive, index, unixOwnerId, length);
    if (data == nullptr || length < 3 || data[0] != 1) {
        return;
    }
    const std::size_t ownerSize = data[1];
    if (ownerSize > 4 || 2 + ownerSize >= length) {
        return;
    }
    const std::size_t groupSize = data[2 + ownerSize];
    if (groupSize > 4 || 3 + ownerSize + groupSize > length) {
        return;
    }
    info.owner = static_cast<uid_t>(zipformat::readLittleEndian(&data[2], ownerSize));
    info.group = static_cast<gid_t>(zipformat::readLittleEndian(&data[3 + ownerSize], groupSize));
}

} // namespace

void readUnixExtraFields(zip_t* archive, uint64_t index, EntryInfo& info) {
    readTimestamp(archive, index, info);
    readOwner(archive, index, info);
}

} // namespace unzip32
