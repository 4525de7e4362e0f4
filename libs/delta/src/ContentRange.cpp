#include "delta/ContentRange.h"

#include <charconv>

namespace delta {

namespace {

// Digits up to stop (or the end when stop is 0); text then goes on after it.
std::optional<std::uint64_t> takeNumber(std::string_view& text, char stop) {
    const std::size_t end = stop == 0 ? text.size() : text.find(stop);
    if (end == std::string_view::npos || end == 0) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [at, error] = std::from_chars(text.data(), text.data() + end, value);
    if (error != std::errc() || at != text.data() + end) {
        return std::nullopt;
    }
    text.remove_prefix(stop == 0 ? end : end + 1);
    return value;
}

} // namespace

std::optional<ContentRange> parseContentRange(std::string_view text) {
    constexpr std::string_view unit = "bytes ";
    if (!text.starts_with(unit)) {
        return std::nullopt;
    }
    text.remove_prefix(unit.size());
    const auto first = takeNumber(text, '-');
    const auto last = first ? takeNumber(text, '/') : std::nullopt;
    const auto total = last ? takeNumber(text, 0) : std::nullopt;
    if (!total || *first > *last || *last >= *total) {
        return std::nullopt;
    }
    return ContentRange{*first, *last, *total};
}

} // namespace delta
