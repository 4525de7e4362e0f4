#include "LineFields.h"

#include "text/Hex.h"

namespace signature {

std::optional<std::string_view> takeField(std::string_view& rest, std::string_view name) {
    if (!rest.starts_with(name) || rest.size() == name.size()) {
        return std::nullopt;
    }
    rest.remove_prefix(name.size());
    const std::size_t end = rest.find(' ');
    const std::string_view value = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    return value;
}

std::string hexOf(const ArchiveDigest& digest) {
    return text::lowerHexOf(digest);
}

std::optional<ArchiveDigest> digestFromHex(std::string_view text) {
    return text::bytesFromLowerHex<std::tuple_size_v<ArchiveDigest>>(text);
}

} // namespace signature
