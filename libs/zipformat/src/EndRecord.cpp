#include "zipformat/EndRecord.h"

#include "zipformat/LittleEndian.h"

namespace zipformat {

EndRecordPlace findEndRecord(std::span<const unsigned char> tail) {
    EndRecordPlace found;
    if (tail.size() < endRecordSize) {
        return found;
    }
    for (std::size_t at = tail.size() - endRecordSize + 1; at-- > 0;) {
        if (read32(&tail[at]) != endRecordSignature) {
            continue;
        }
        const std::size_t commentLength = read16(&tail[at + endCommentLengthAt]);
        const std::size_t commentEnd = at + endRecordSize + commentLength;
        if (commentEnd == tail.size()) {
            return {EndRecordPlace::Fit::exact, at, commentLength, 0};
        }
        if (commentEnd < tail.size() && found.fit == EndRecordPlace::Fit::none) {
            found = {EndRecordPlace::Fit::trailing, at, commentLength, tail.size() - commentEnd};
        }
    }
    return found;
}

} // namespace zipformat
