#include "platform/http/ProxyChoice.h"

#include "text/Pieces.h"

#include <curl/curl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cctype>
#include <charconv>
#include <memory>

namespace platform {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using Url = std::unique_ptr<CURLU, UrlDeleter>;

struct TextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

Url parsed(const std::string& text, unsigned int flags) {
    Url url(curl_url());
    if (url && curl_url_set(url.get(), CURLUPART_URL, text.c_str(), flags) != CURLUE_OK) {
        url.reset();
    }
    return url;
}

std::string partOf(CURLU* url, CURLUPart part) {
    char* value = nullptr;
    if (curl_url_get(url, part, &value, 0) != CURLUE_OK || value == nullptr) {
        return {};
    }
    const std::unique_ptr<char, TextDeleter> owned(value);
    return value;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string schemeOf(const std::string& url) {
    const std::size_t end = url.find("://");
    return end == std::string::npos ? std::string("http") : lowered(url.substr(0, end));
}

// The first of the variables that is set and not empty, with its name.
std::optional<ProxyRoute> firstSet(std::initializer_list<const char*> names,
                                   const EnvironmentReader& environment) {
    for (const char* name : names) {
        const char* value = environment(name);
        if (value != nullptr && value[0] != '\0') {
            return ProxyRoute{value, name};
        }
    }
    return std::nullopt;
}

// An entry of no_proxy as a host: no port, no brackets, no leading dot.
std::string entryHost(std::string entry) {
    entry = lowered(std::string(text::trimmed(entry, " \t")));
    if (!entry.empty() && entry.front() == '[') {
        const std::size_t close = entry.find(']');
        return close == std::string::npos ? entry.substr(1) : entry.substr(1, close - 1);
    }
    // A single colon ends a name with a port; more are an IPv6 address.
    if (std::count(entry.begin(), entry.end(), ':') == 1 && entry.find('/') == std::string::npos) {
        entry.erase(entry.find(':'));
    }
    while (!entry.empty() && entry.front() == '.') {
        entry.erase(0, 1);
    }
    return entry;
}

// An address as its bytes (4 or 16 of them); nothing for a name.
std::optional<std::vector<unsigned char>> addressBytes(const std::string& text) {
    std::array<unsigned char, 16> bytes{};
    if (inet_pton(AF_INET, text.c_str(), bytes.data()) == 1) {
        return std::vector<unsigned char>(bytes.begin(), bytes.begin() + 4);
    }
    if (inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1) {
        return std::vector<unsigned char>(bytes.begin(), bytes.end());
    }
    return std::nullopt;
}

// "10.0.0.0/8" or "fd00::/8" covers host, an address of the same family.
bool inNetwork(const std::string& host, const std::string& network) {
    const std::size_t slash = network.find('/');
    const auto address = addressBytes(host);
    const auto first = addressBytes(network.substr(0, slash));
    unsigned int bits = 0;
    const char* end = network.data() + network.size();
    if (!address || !first || address->size() != first->size() ||
        std::from_chars(network.data() + slash + 1, end, bits).ptr != end ||
        bits > 8 * first->size()) {
        return false;
    }
    for (std::size_t i = 0; i < first->size() && bits > 0; ++i) {
        const unsigned int taken = std::min(bits, 8U);
        const auto mask = static_cast<unsigned char>(0xFF00U >> taken);
        if (((*address)[i] & mask) != ((*first)[i] & mask)) {
            return false;
        }
        bits -= taken;
    }
    return true;
}

} // namespace

std::string hostOfUrl(const std::string& url) {
    const Url parts = parsed(url, CURLU_DEFAULT_SCHEME | CURLU_NON_SUPPORT_SCHEME);
    if (!parts) {
        return {};
    }
    std::string host = lowered(partOf(parts.get(), CURLUPART_HOST));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return host;
}

std::string withoutCredentials(const std::string& proxy) {
    const Url parts = parsed(proxy, CURLU_DEFAULT_SCHEME | CURLU_NON_SUPPORT_SCHEME);
    if (!parts) {
        // Not a URL: nothing of it is shown, as it may hold a password.
        return "(an address that cannot be read)";
    }
    std::string shown = partOf(parts.get(), CURLUPART_HOST);
    const std::string port = partOf(parts.get(), CURLUPART_PORT);
    return port.empty() ? shown : shown + ":" + port;
}

bool bypassesProxy(const std::string& host, const std::string& noProxy) {
    const std::string wanted = lowered(host);
    for (std::string entry : text::splitText(noProxy, ',')) {
        for (const std::string& word : text::splitText(entry, ' ')) {
            const std::string name = entryHost(word);
            if (name.empty()) {
                continue;
            }
            if (name == "*" || name == wanted) {
                return true;
            }
            if (name.find('/') != std::string::npos) {
                if (inNetwork(wanted, name)) {
                    return true;
                }
                continue;
            }
            // A name covers the names below it, on a dot.
            if (wanted.size() > name.size() && wanted.ends_with(name) &&
                wanted[wanted.size() - name.size() - 1] == '.') {
                return true;
            }
        }
    }
    return false;
}

std::optional<ProxyRoute> environmentProxy(const std::string& url,
                                           const EnvironmentReader& environment) {
    // Upper-case HTTP_PROXY is left out, as libcurl does: a web server's
    // programs find a request's Proxy header there.
    const auto named = firstSet(
        {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}, environment);
    if (!named) {
        return std::nullopt;
    }
    const std::string scheme = schemeOf(url);
    std::optional<ProxyRoute> route;
    if (scheme == "http") {
        route = firstSet({"http_proxy", "all_proxy", "ALL_PROXY"}, environment);
    } else if (scheme == "https") {
        route = firstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}, environment);
    }
    if (!route) {
        return ProxyRoute{};
    }
    if (const auto noProxy = firstSet({"no_proxy", "NO_PROXY"}, environment);
        noProxy && bypassesProxy(hostOfUrl(url), noProxy->proxy)) {
        return ProxyRoute{{}, noProxy->namedBy};
    }
    return route;
}

} // namespace platform
