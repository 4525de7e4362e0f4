#pragma once

#include "signature/KeysLine.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace updater {

// What a keyed updater remembers between runs, beside the installation, so
// that neither an older keys line nor a root set it has left behind is
// taken again: one line
//
//   morvane-trust v1 rootset=<n> threshold=<n> roots=<base64>,... serial=<n>
//
// fields NAME=VALUE in any order; a field this reader does not know is read
// past, so that a later updater can add one.
struct TrustRecord {
    signature::RootSet roots;
    // The highest serial of a keys line taken.
    std::uint64_t serial = 0;
};

std::string formatTrustRecord(const TrustRecord& record);
// The record, or nothing when the text is not one.
std::optional<TrustRecord> parseTrustRecord(std::string_view text);

} // namespace updater
