#pragma once

#include <stdexcept>

namespace signature {

// How this library fails, everywhere: what it judges (a release line, a
// signature line, a package's signature) comes back as a value, its
// parsers giving nothing with the reason in why and its checks a result
// that says whether it was accepted and why not; only a file or key the
// system cannot read, write or use raises SignatureError.
// A package or key file that could not be read or written, or a key that is
// not the publisher's kind; what() says which and why.
class SignatureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace signature
