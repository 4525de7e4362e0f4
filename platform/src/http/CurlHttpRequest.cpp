#include "platform/http/CurlHttpRequest.h"

#include "http/CurlSupport.h"
#include "http/RequestRoute.h"
#include "platform/Error.h"

#include <algorithm>

namespace platform {

namespace {

const std::string sendSource = "HttpRequest::send";

} // namespace

CurlHttpRequest::CurlHttpRequest(std::chrono::milliseconds silenceLimit,
                                 std::chrono::milliseconds deadline,
                                 std::shared_ptr<const NetworkAccess> network)
    : m_silenceLimit(silenceLimit), m_deadline(deadline),
      m_network(network ? std::move(network) : std::make_shared<const NetworkAccess>()) {}

CurlHttpRequest::~CurlHttpRequest() = default;

void CurlHttpRequest::Open(const std::string& method, const std::string& url, bool async) {
    if (async) {
        raiseError(ErrorNumber::invalidCall, "HttpRequest::Open",
                   "asynchronous requests are not supported");
    }
    if (method.empty() || url.empty()) {
        raiseError(ErrorNumber::invalidCall, "HttpRequest::Open",
                   "method and address are required");
    }
    m_method = method;
    m_url = url;
    m_headers.clear();
    m_response.clear();
    m_opened = true;
}

void CurlHttpRequest::setRequestHeader(const std::string& name, const std::string& value) {
    if (!m_opened) {
        raiseError(ErrorNumber::invalidCall, "HttpRequest::setRequestHeader",
                   "the request is not open");
    }
    m_headers.emplace_back(name, value);
}

std::size_t CurlHttpRequest::receive(char* data, std::size_t size, std::size_t count, void* self) {
    std::string& response = static_cast<CurlHttpRequest*>(self)->m_response;
    const std::size_t length = size * count;
    const std::size_t room = responseCap - response.size();
    response.append(data, std::min(length, room));
    // Returning less than offered stops the transfer once the cap is full;
    // send() tells that stop apart from a failure.
    return length <= room ? length : 0;
}

void CurlHttpRequest::send(const std::string& body) {
    if (!m_opened) {
        raiseError(ErrorNumber::invalidCall, sendSource, "send called before Open");
    }
    m_response.clear();
    m_redirectedTo.clear();
    curl::Easy easy = curl::makeEasy(sendSource);
    char errorBuffer[CURL_ERROR_SIZE];
    curl::TransferWatch silence(m_silenceLimit, m_deadline);
    curl::applyTransferOptions(easy.get(), errorBuffer, silence);
    curl::RequestRoute route(*m_network, m_url);
    route.apply(easy.get());
    const curl::HeaderList headers = curl::makeHeaderList(m_headers, sendSource);

    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &CurlHttpRequest::receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    if (m_method == "HEAD") {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (m_method == "GET" && body.empty()) {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, m_method.c_str());
        if (!body.empty()) {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(handle, CURLOPT_COPYPOSTFIELDS, body.c_str());
        }
    }

    const CURLcode result = curl::perform(handle);
    const bool capReached = result == CURLE_WRITE_ERROR && m_response.size() == responseCap;
    if ((result != CURLE_OK && !capReached) || route.refusedByProxy(handle)) {
        m_response.clear();
        throw route.failure(handle, result, errorBuffer, silence, sendSource);
    }
    long redirects = 0;
    const char* last = nullptr;
    curl_easy_getinfo(handle, CURLINFO_REDIRECT_COUNT, &redirects);
    curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &last);
    if (redirects > 0 && last != nullptr) {
        m_redirectedTo = last;
    }
}

std::string CurlHttpRequest::responseText() const {
    return m_response;
}

} // namespace platform
