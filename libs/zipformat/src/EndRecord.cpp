#include "zipformat/EndRecord.h"

#include "zipformat/LittleEndian.h"

namespace zipformat {

EndRecordPlace findEndRecord(std::span<const unsigned char> tail) {
    EndRecordPlace found;
    for (const std::size_t at : endRecordCandidates(tail)) {
        const std::size_t commentLength = read16(&tail[at + endCommentLengthAt]);
        const std::size_t commentEnd = at + endRecordSize + commentLength;
        if (commentEnd == tail.size()) {
            return {EndRecordPlace::Fit::exact, at, commentLength, 0};
        }
        if (found.fit == EndRecordPlace::Fit::none) {
            found = {EndRecordPlace::Fit::trailing, at, commentLength, tail.size() - commentEnd};
        }
    }
    return found;
}

std::vector<std::size_t> endRecordCandidates(std::span<const unsigned char> tail) {
    std::vector<std::size_t> candidates;
    if (tail.size() < endRecordSize) {
        return candidates;
    }
    for (std::size_t at = tail.size() - endRecordSize + 1; at-- > 0;) {
        if (read32(&tail[at]) == endRecordSignature &&
            at + endRecordSize + read16(&tail[at + endCommentLengthAt]) <= tail.size()) {
            candidates.push_back(at);
        }
    }
    return candidates;
}

} // namespace zipformat
