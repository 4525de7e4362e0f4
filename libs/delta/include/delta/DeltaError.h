#pragma once

#include <stdexcept>
#include <string>

namespace delta {

// How this library fails, everywhere: what it judges (a manifest, a chunk
// map, a directory, a range's answer, a plan) comes back as a value, its
// parsers giving nothing with the reason in why and its checks giving the
// reason or nothing, so that the caller takes the whole package instead;
// only a file the system cannot read or write raises DeltaError.
// A file that cannot be read, in words that name it and the system's reason.
class DeltaError : public std::runtime_error {
public:
    explicit DeltaError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace delta
