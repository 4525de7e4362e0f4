#include "LineFields.h"

#include "text/Hex.h"

#include <algorithm>
#include <charconv>

namespace signature {

namespace {

// Quoted from a line that cannot be read, at most.
constexpr std::size_t quotedLength = 60;

bool isFieldName(std::string_view name) {
    return !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") ==
                                std::string_view::npos;
}

bool isFieldValue(std::string_view value) {
    return !value.empty() && std::none_of(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
    });
}

} // namespace

bool readFields(std::string_view fields, std::initializer_list<std::string_view> endingNames,
                const TakeField& take, std::set<std::string, std::less<>>& seen, std::string& why) {
    for (std::size_t at = 0; at < fields.size();) {
        const std::size_t blank = fields.find(' ', at);
        const std::string_view field = fields.substr(at, blank - at);
        at = blank == std::string_view::npos ? fields.size() : blank + 1;
        const std::size_t equals = field.find('=');
        const std::string_view name = field.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? "" : field.substr(equals + 1);
        if (!isFieldName(name) || !isFieldValue(value)) {
            why = "it holds a field that is not NAME=VALUE: " + quoted(field);
            return false;
        }
        if (!seen.emplace(name).second ||
            std::find(endingNames.begin(), endingNames.end(), name) != endingNames.end()) {
            why = "it names the field " + std::string(name) + " twice";
            return false;
        }
        if (!take(name, value, why)) {
            return false;
        }
    }
    return true;
}

std::optional<std::uint64_t> numberOf(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.starts_with('+')) {
        return std::nullopt;
    }
    return value;
}

std::string quoted(std::string_view text) {
    std::string shown(text.substr(0, quotedLength));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return "\"" + shown + (text.size() > quotedLength ? "...\"" : "\"");
}

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
