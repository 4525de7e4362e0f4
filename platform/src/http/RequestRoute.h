#pragma once

#include "http/TransferWatch.h"
#include "platform/Error.h"
#include "platform/http/NetworkAccess.h"

#include <curl/curl.h>

#include <string>

typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace platform::curl {

// The way one request takes to its server: the proxy it goes through, the
// certificate authorities it trusts, the redirects it follows; and, when it
// fails, why, in the words of NetworkReasons.h. It must outlive the transfer.
class RequestRoute {
public:
    RequestRoute(const NetworkAccess& access, std::string url);
    RequestRoute(const RequestRoute&) = delete;
    RequestRoute& operator=(const RequestRoute&) = delete;

    // Sets the proxy (or none), the authorities, redirects (at most 10, and
    // from a secure address only to secure ones) and the plain HTTP(S)
    // protocols on easy.
    void apply(CURL* easy);

    // Whether the proxy answered the request itself by asking for
    // credentials: its answer is no answer of the server's.
    bool refusedByProxy(CURL* easy) const;

    // The failure of a transfer that ended with code (CURLE_OK when the
    // proxy refused it): the watch's when the watch stopped it.
    Error failure(CURL* easy, CURLcode code, const char* errorBuffer, const TransferWatch& watch,
                  const std::string& source) const;

private:
    static CURLcode prepareSecureConnection(CURL* easy, void* context, void* self);
    static int certificateChecked(int passed, X509_STORE_CTX* store);

    const NetworkAccess& m_access;
    std::string m_url;
    ProxyRoute m_proxy;
    // What the check of the server's certificate chain found.
    std::string m_untrustedIssuer;
    bool m_certificateInvalid = false;
};

} // namespace platform::curl
