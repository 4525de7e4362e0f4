#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace testsupport {

// What a run in the driven window came to, from the last "outcome:" line
// the window's driver wrote ("outcome: NAME=NUMBER ..."): each field by its
// name. A field this reader does not know is kept, and a reader asks only
// for those it knows, so the line can grow.
struct RunOutcome {
    std::map<std::string, std::int64_t> fields;

    std::optional<std::int64_t> field(const std::string& name) const;
    // The field as an enumeration's value, for comparing with one.
    template <typename Enum> std::optional<Enum> as(const std::string& name) const {
        const auto value = field(name);
        return value ? std::optional<Enum>(static_cast<Enum>(*value)) : std::nullopt;
    }
};

// The last outcome line in what the driver wrote; nothing when there is none
// or it cannot be read (a field without "=" or whose value is not a number).
std::optional<RunOutcome> lastRunOutcome(const std::string& said);

} // namespace testsupport
