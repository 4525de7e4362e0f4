#include "platform/http/NetworkFailure.h"

#include "platform/http/HttpRequest.h"
#include "platform/http/InternetTransfer.h"

#include <curl/curl.h>

namespace platform {

std::optional<NetworkFailureKind> networkFailureKind(std::int32_t number) {
    if (number >= networkFailed && number < networkFailedEnd) {
        return static_cast<NetworkFailureKind>(number - networkFailed);
    }
    // The numbers a transfer cut off or given up has always raised.
    switch (number - ErrorNumber::objectDefinedBase) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return NetworkFailureKind::connectionLost;
    case CURLE_OPERATION_TIMEDOUT:
        return NetworkFailureKind::timedOut;
    default:
        break;
    }
    if (number > ErrorNumber::objectDefinedBase &&
        number < ErrorNumber::objectDefinedBase + CURL_LAST) {
        return NetworkFailureKind::other;
    }
    return std::nullopt;
}

} // namespace platform
