#include "run/TrustRecord.h"

#include <charconv>
#include <set>

namespace updater {

namespace {

constexpr std::string_view recordStart = "morvane-trust v1 ";

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string formatTrustRecord(const TrustRecord& record) {
    return std::string(recordStart) + "rootset=" + std::to_string(record.roots.number) +
           " threshold=" + std::to_string(record.roots.threshold) +
           " roots=" + signature::formatKeyList(record.roots.keys) +
           " serial=" + std::to_string(record.serial);
}

std::optional<TrustRecord> parseTrustRecord(std::string_view text) {
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    if (!text.starts_with(recordStart)) {
        return std::nullopt;
    }
    text.remove_prefix(recordStart.size());
    TrustRecord record;
    std::set<std::string_view> seen;
    std::optional<std::uint64_t> rootSet, threshold, serial;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t blank = std::min(text.find(' ', at), text.size());
        const std::string_view field = text.substr(at, blank - at);
        at = blank + 1;
        const std::size_t equals = field.find('=');
        const std::string_view name = field.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? "" : field.substr(equals + 1);
        if (equals == std::string_view::npos || !seen.insert(name).second) {
            return std::nullopt;
        }
        if (name == "rootset") {
            rootSet = number(value);
        } else if (name == "threshold") {
            threshold = number(value);
        } else if (name == "serial") {
            serial = number(value);
        } else if (name == "roots") {
            auto keys = signature::parseKeyList(value);
            if (!keys) {
                return std::nullopt;
            }
            record.roots.keys = std::move(*keys);
        }
    }
    if (!rootSet || *rootSet == 0 || !threshold || *threshold == 0 ||
        *threshold > record.roots.keys.size() || !serial) {
        return std::nullopt;
    }
    record.roots.number = *rootSet;
    record.roots.threshold = static_cast<std::uint32_t>(*threshold);
    record.serial = *serial;
    return record;
}

} // namespace updater
