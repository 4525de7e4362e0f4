#include "http/RequestRoute.h"

#include "http/ExtraAuthorities.h"
#include "platform/http/NetworkReasons.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <array>
#include <cerrno>

namespace platform::curl {

namespace {

constexpr long maxRedirects = 10;

// Where a secure connection's context keeps the route that made it.
int routeIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

std::string nameOf(X509_NAME* name) {
    std::array<char, 512> text{};
    X509_NAME_oneline(name, text.data(), static_cast<int>(text.size()));
    return text.data();
}

bool unknownIssuer(int error) {
    return error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
           error == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT ||
           error == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
           error == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
           error == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE;
}

// The password of a proxy address, so that no text shows it.
std::string passwordOf(const std::string& proxy) {
    const std::size_t scheme = proxy.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = proxy.rfind('@');
    if (at == std::string::npos || at < start) {
        return {};
    }
    const std::size_t colon = proxy.find(':', start);
    return colon < at ? proxy.substr(colon + 1, at - colon - 1) : std::string();
}

std::string infoText(CURL* easy, CURLINFO info) {
    const char* text = nullptr;
    curl_easy_getinfo(easy, info, &text);
    return text != nullptr ? std::string(text) : std::string();
}

long infoNumber(CURL* easy, CURLINFO info) {
    long number = 0;
    curl_easy_getinfo(easy, info, &number);
    return number;
}

} // namespace

RequestRoute::RequestRoute(const NetworkAccess& access, std::string url)
    : m_access(access), m_url(std::move(url)), m_proxy(access.routeFor(m_url)) {}

void RequestRoute::apply(CURL* easy) {
    const bool secure = m_url.rfind("https://", 0) == 0;
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    // Set even when empty: the route decided, and libcurl must not read
    // the environment again behind it.
    curl_easy_setopt(easy, CURLOPT_PROXY, m_proxy.proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &RequestRoute::prepareSecureConnection);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, this);
}

CURLcode RequestRoute::prepareSecureConnection(CURL*, void* context, void* self) {
    auto* route = static_cast<RequestRoute*>(self);
    auto* ssl = static_cast<SSL_CTX*>(context);
    const ExtraAuthorities& authorities = route->m_access.authorities();
    if (!authorities.fault().empty()) {
        return CURLE_SSL_CERTPROBLEM;
    }
    authorities.addTo(ssl);
    SSL_CTX_set_ex_data(ssl, routeIndex(), route);
    SSL_CTX_set_verify(ssl, SSL_CTX_get_verify_mode(ssl), &RequestRoute::certificateChecked);
    return CURLE_OK;
}

int RequestRoute::certificateChecked(int passed, X509_STORE_CTX* store) {
    if (passed != 0) {
        return passed;
    }
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* route =
        ssl == nullptr
            ? nullptr
            : static_cast<RequestRoute*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), routeIndex()));
    if (route != nullptr) {
        const int error = X509_STORE_CTX_get_error(store);
        X509* certificate = X509_STORE_CTX_get_current_cert(store);
        if (unknownIssuer(error) && certificate != nullptr) {
            route->m_untrustedIssuer = nameOf(X509_get_issuer_name(certificate));
        } else {
            route->m_certificateInvalid = true;
        }
    }
    return passed;
}

bool RequestRoute::refusedByProxy(CURL* easy) const {
    return !m_proxy.direct() && infoNumber(easy, CURLINFO_RESPONSE_CODE) == 407;
}

Error RequestRoute::failure(CURL* easy, CURLcode code, const char* errorBuffer,
                            const TransferWatch& watch, const std::string& source) const {
    if (watch.gaveUp()) {
        return watch.failure(code, errorBuffer, source);
    }
    TransferFacts facts;
    facts.code = refusedByProxy(easy) ? CURLE_OK : code;
    facts.url = m_url;
    facts.redirects = infoNumber(easy, CURLINFO_REDIRECT_COUNT);
    facts.lastUrl = facts.redirects > 0 ? infoText(easy, CURLINFO_EFFECTIVE_URL) : std::string();
    if (code == CURLE_UNSUPPORTED_PROTOCOL) {
        // The redirect that was not followed.
        const std::string refused = infoText(easy, CURLINFO_REDIRECT_URL);
        facts.lastUrl = refused.empty() ? infoText(easy, CURLINFO_EFFECTIVE_URL) : refused;
    }
    if (!m_proxy.direct()) {
        facts.proxy = withoutCredentials(m_proxy.proxy);
        facts.proxyNamedBy = m_proxy.namedBy;
        const long tunnel = infoNumber(easy, CURLINFO_HTTP_CONNECTCODE);
        facts.proxyAnswer = refusedByProxy(easy) ? 407 : (tunnel >= 300 ? tunnel : 0);
    }
    facts.systemError = static_cast<int>(infoNumber(easy, CURLINFO_OS_ERRNO));
    facts.untrustedIssuer = m_untrustedIssuer;
    facts.certificateInvalid = m_certificateInvalid;
    facts.authoritiesFault = m_access.authorities().fault();
    facts.detail = errorBuffer != nullptr ? errorBuffer : "";
    Error told = networkFailure(facts, source);
    const std::string password = passwordOf(m_proxy.proxy);
    if (password.empty() || told.description().find(password) == std::string::npos) {
        return told;
    }
    std::string said = told.description();
    for (std::size_t at; (at = said.find(password)) != std::string::npos;) {
        said.replace(at, password.size(), "***");
    }
    return Error(told.number(), told.source(), said);
}

} // namespace platform::curl
