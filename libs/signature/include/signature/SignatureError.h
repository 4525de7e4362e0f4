#pragma once

#include <stdexcept>

namespace signature {

// A package or key file that could not be read or written, or a key that is
// not the publisher's kind; what() says which and why.
class SignatureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace signature
