#pragma once

#include "platform/http/HttpRequest.h"
#include "platform/http/NetworkAccess.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The HTTP request object over libcurl. The network's way (proxy, extra
// certificate authorities) is the NetworkAccess's; redirects are followed
// (at most 10, never from https to http), a connection has 60 s to open and
// a response may be silent for 30 s after its last byte ("the server sent
// nothing for 30 s"). Only the headers the caller sets are sent. The body
// is kept up to a cap and the rest ignored. A failed request raises
// platform::Error as NetworkReasons.h tells it (a kind of NetworkFailure.h,
// or objectDefinedBase + the transfer library's result code); a proxy's
// demand for credentials is a failure, not an answer. Misuse (send before
// Open, a header that would break the request) raises error 5.
class CurlHttpRequest : public HttpRequest {
public:
    static constexpr std::size_t responseCap = 64 * 1024;
    static constexpr std::chrono::milliseconds defaultSilenceLimit = std::chrono::seconds(30);

    // deadline: the whole request's time from its start; zero for none.
    explicit CurlHttpRequest(std::chrono::milliseconds silenceLimit = defaultSilenceLimit,
                             std::chrono::milliseconds deadline = {},
                             std::shared_ptr<const NetworkAccess> network = nullptr);
    ~CurlHttpRequest() override;
    CurlHttpRequest(const CurlHttpRequest&) = delete;
    CurlHttpRequest& operator=(const CurlHttpRequest&) = delete;

    void Open(const std::string& method, const std::string& url, bool async) override;
    void setRequestHeader(const std::string& name, const std::string& value) override;
    void send(const std::string& body = {}) override;
    std::string responseText() const override;
    std::string redirectedTo() const override { return m_redirectedTo; }

private:
    static std::size_t receive(char* data, std::size_t size, std::size_t count, void* self);

    std::chrono::milliseconds m_silenceLimit;
    std::chrono::milliseconds m_deadline;
    std::shared_ptr<const NetworkAccess> m_network;
    std::string m_method;
    std::string m_url;
    std::vector<std::pair<std::string, std::string>> m_headers;
    std::string m_response;
    std::string m_redirectedTo;
    bool m_opened = false;
};

} // namespace platform
