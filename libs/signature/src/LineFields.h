#pragma once

// What the two signed lines (a package's comment, the version answer's
// release line) share in how they are written and read.

#include "signature/SignatureLine.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace signature {

// The value of the field "name=" at the start of rest, up to the next blank
// (or the end); rest then goes on after that blank. Nothing when rest does
// not go on with that field or its value is empty.
std::optional<std::string_view> takeField(std::string_view& rest, std::string_view name);

// The signed fields of a line, each "NAME=VALUE" and a blank after it: a
// name of lower-case letters, digits and "-", a value of at least one byte
// and no blank or control byte, each name at most once and none of the
// names that end the line. take is given each field and refuses it by
// giving false with the reason in why; seen gets every name. False with the
// reason in why.
using TakeField =
    std::function<bool(std::string_view name, std::string_view value, std::string& why)>;
bool readFields(std::string_view fields, std::initializer_list<std::string_view> endingNames,
                const TakeField& take, std::set<std::string, std::less<>>& seen, std::string& why);

// A decimal number of digits alone.
std::optional<std::uint64_t> numberOf(std::string_view text);

// Text quoted for a reason in the log: its start, control bytes shown as "?".
std::string quoted(std::string_view text);

// A digest in lower-case hex, and back (exactly 128 such digits).
std::string hexOf(const ArchiveDigest& digest);
std::optional<ArchiveDigest> digestFromHex(std::string_view text);

} // namespace signature
