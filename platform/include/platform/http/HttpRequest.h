#pragma once

#include "platform/Error.h"

#include <cstdint>
#include <string>

namespace platform {

// The synchronous HTTP request object of the version check. Failures raise
// platform::Error.
class HttpRequest {
public:
    // The number of a request given up because its server fell silent, sent
    // too slowly or did not finish in time (the description says which).
    static constexpr int32_t givenUp = ErrorNumber::objectDefinedBase + 28;

    virtual ~HttpRequest() = default;

    // Only synchronous requests are offered; async = true raises error 5.
    virtual void Open(const std::string& method, const std::string& url, bool async) = 0;
    virtual void setRequestHeader(const std::string& name, const std::string& value) = 0;
    // Blocks until the answer has arrived or the request has failed.
    virtual void send(const std::string& body = {}) = 0;
    // The answer's body, whatever the HTTP status; empty before send.
    virtual std::string responseText() const = 0;
    // The address the answer came from after redirects; empty when it is
    // the one opened, or not known.
    virtual std::string redirectedTo() const { return {}; }
};

} // namespace platform
