#pragma once

// A piece of the package asked of a server by a range request, and the one
// rule its answer must pass to be taken: exactly that range of a package of
// the size expected, that is a Content-Range naming the same first and last
// byte and the same total, and a body of every byte of it and none more.
// Anything else (a server without ranges, another range, a body cut off or
// running on) is a reason, for the caller to download the whole package
// instead.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace delta {

struct AskedRange {
    std::uint64_t first = 0;
    std::uint64_t length = 0;
    std::uint64_t total = 0; // the package's size
};

// Why the range cannot be asked: it is empty or does not lie in the package.
std::optional<std::string> rangeOutsidePackage(const AskedRange& range);

// The request's header line, "Range: bytes=FIRST-LAST" and CR LF, of a range
// that lies in the package.
std::string rangeHeaderLine(const AskedRange& range);

// Why an answer whose Content-Range and Content-Length headers read
// contentRange and contentLength (empty when it has none) is not an answer
// to range. A server or cache without ranges answers with the whole package,
// and is said to.
std::optional<std::string> contentRangeRefusal(const AskedRange& range,
                                               std::string_view contentRange,
                                               std::string_view contentLength);

// Why a body of which received bytes have arrived is not range's: more than
// its length, or, once the body has ended, fewer.
std::optional<std::string> bodyRefusal(const AskedRange& range, std::uint64_t received, bool ended);

} // namespace delta
