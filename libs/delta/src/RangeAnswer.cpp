#include "delta/RangeAnswer.h"

#include "delta/ContentRange.h"

namespace delta {

namespace {

std::string bytesText(const AskedRange& range) {
    return "bytes " + std::to_string(range.first) + "-" +
           std::to_string(range.first + range.length - 1);
}

} // namespace

std::optional<std::string> rangeOutsidePackage(const AskedRange& range) {
    if (range.length == 0 || range.first >= range.total ||
        range.length > range.total - range.first) {
        return "the range asked for lies outside the package";
    }
    return std::nullopt;
}

std::string rangeHeaderLine(const AskedRange& range) {
    return "Range: bytes=" + std::to_string(range.first) + "-" +
           std::to_string(range.first + range.length - 1) + "\r\n";
}

std::optional<std::string> contentRangeRefusal(const AskedRange& range,
                                               std::string_view contentRange,
                                               std::string_view contentLength) {
    if (contentRange.empty() && contentLength == std::to_string(range.total)) {
        return "the server sent the whole package where " + bytesText(range) +
               " were asked: it, or a cache before it, does not serve ranges";
    }
    const std::optional<ContentRange> answered = parseContentRange(contentRange);
    if (!answered || answered->first != range.first ||
        answered->last - answered->first != range.length - 1 || answered->total != range.total) {
        return "the server answered " + bytesText(range) + " with \"" + std::string(contentRange) +
               "\"";
    }
    return std::nullopt;
}

std::optional<std::string> bodyRefusal(const AskedRange& range, std::uint64_t received,
                                       bool ended) {
    if (received > range.length) {
        return "the server sent more than " + bytesText(range);
    }
    if (ended && received < range.length) {
        return bytesText(range) + " ended after " + std::to_string(received);
    }
    return std::nullopt;
}

} // namespace delta
