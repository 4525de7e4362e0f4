#pragma once

#include "platform/Error.h"

#include <string>

namespace platform {

// What is known of a request that failed, to tell the user why and what to
// change. Credentials never appear in it: the proxy is shown as host:port.
struct TransferFacts {
    // The transfer library's result (a CURLcode); 0 when the transfer ended
    // but its answer was a proxy's refusal.
    int code = 0;
    std::string url;
    // Where redirects led, and how many there were.
    std::string lastUrl;
    long redirects = 0;
    // The proxy as host:port, and what named it; empty: none.
    std::string proxy;
    std::string proxyNamedBy;
    // The proxy's own answer: to a tunnel's CONNECT, or 407 to a request
    // it was asked to pass on; 0 for none.
    long proxyAnswer = 0;
    // The system's errno of a connection that could not be made.
    int systemError = 0;
    // The issuer of a server certificate no trusted authority signed; and
    // whether a certificate failed the check for another reason.
    std::string untrustedIssuer;
    bool certificateInvalid = false;
    // Why extra certificate authorities could not be used, when they could not.
    std::string authoritiesFault;
    // The library's own words.
    std::string detail;
};

// The failure the facts come to: a kind of NetworkFailure.h with its own
// number where one applies, otherwise the library's number; described as
// what happened, what to change and the library's words.
Error networkFailure(const TransferFacts& facts, const std::string& source);

} // namespace platform
