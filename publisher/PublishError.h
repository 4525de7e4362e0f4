#pragma once

#include <stdexcept>
#include <string>

// Why a release cannot be published, in words for the publisher.
class PublishError : public std::runtime_error {
public:
    explicit PublishError(const std::string& what) : std::runtime_error(what) {}
};
