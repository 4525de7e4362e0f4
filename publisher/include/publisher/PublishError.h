#pragma once

#include <stdexcept>
#include <string>

namespace publisher {

// Why a release cannot be published, in words for the publisher. Nothing
// served has changed, unless packageServed says the new package is in place
// and only the version text failed.
class PublishError : public std::runtime_error {
public:
    explicit PublishError(const std::string& what, bool packageServed = false)
        : std::runtime_error(what), m_packageServed(packageServed) {}

    bool packageServed() const { return m_packageServed; }

private:
    bool m_packageServed;
};

} // namespace publisher
