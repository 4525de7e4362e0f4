#pragma once

#include <stdexcept>
#include <string>

namespace delta {

// A file that cannot be read, in words that name it and the system's reason.
class DeltaError : public std::runtime_error {
public:
    explicit DeltaError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace delta
