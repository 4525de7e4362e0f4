#pragma once

#include "platform/Error.h"

#include <cstdint>
#include <optional>

namespace platform {

// What stood between the updater and the publisher's server, as a user or
// an administrator would change it. Each kind raised before an answer began
// is its own error number inside one range; a transfer cut off in its body
// and a server given up keep the numbers they always had, and are of the
// kinds connectionLost and timedOut.
enum class NetworkFailureKind : std::int32_t {
    other = 0,
    // The host's name is not known here (no DNS, a mistyped host).
    nameNotFound = 1,
    // No network, or no route to the host.
    noRoute = 2,
    // The host answered but nothing listens on that port.
    refused = 3,
    // The proxy's name is not known, or nothing listens where it is said to.
    proxyUnreachable = 4,
    // The proxy asked for credentials it was not given, or refused them (407).
    proxyCredentials = 5,
    // The proxy refused the request or could not reach the server for it.
    proxyRefused = 6,
    // The server's certificate is not signed by an authority trusted here.
    certificateUntrusted = 7,
    // The certificate is trusted but made for another name, or has expired.
    certificateInvalid = 8,
    // The secure connection could not be agreed on at all.
    secureConnectionFailed = 9,
    // A redirect from a secure address to a plain one, or to another scheme.
    redirectRefused = 10,
    // More redirects than any server needs.
    tooManyRedirects = 11,
    // A network's sign-in page answered instead of the publisher's server.
    signInPage = 12,
    // The server did not answer, or fell silent, in time.
    timedOut = 13,
    // The connection broke while the answer was on its way.
    connectionLost = 14,
};

inline constexpr std::int32_t networkFailed = ErrorNumber::objectDefinedBase + 0x300;
inline constexpr std::int32_t networkFailedEnd = networkFailed + 0x40;

inline constexpr std::int32_t networkFailureNumber(NetworkFailureKind kind) {
    return networkFailed + static_cast<std::int32_t>(kind);
}

// The kind of an error a transfer raised; nothing for an error that is not
// the network's.
std::optional<NetworkFailureKind> networkFailureKind(std::int32_t number);

} // namespace platform
