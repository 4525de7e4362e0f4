#include "testsupport/ScriptedWeb.h"

#include "platform/Error.h"
#include "platform/http/NetworkFailure.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>

namespace testsupport {

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::optional<std::uint64_t> numberAt(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// "Range: bytes=A-B" or "bytes=A-" among the request's header lines.
void readRange(const std::string& headers, ScriptedRequest& request) {
    const std::string lower = lowerCase(headers);
    const std::size_t at = lower.find("range: bytes=");
    if (at == std::string::npos) {
        return;
    }
    const std::string_view value =
        std::string_view(headers).substr(at + std::string_view("range: bytes=").size());
    const std::size_t dash = value.find('-');
    request.first = numberAt(value.substr(0, dash));
    if (dash != std::string_view::npos) {
        request.last = numberAt(value.substr(dash + 1));
    }
}

class ScriptedTransfer : public platform::InternetTransfer {
public:
    explicit ScriptedTransfer(ScriptedWeb& web) : m_web(web) {}

    void Execute(const std::string& operation, const std::string& requestHeaders) override {
        ScriptedRequest request{URL, operation, std::nullopt, std::nullopt};
        readRange(requestHeaders, request);
        m_answer = m_web.answer(request);
        m_url = URL;
        m_read = 0;
    }
    bool StillExecuting() override { return false; }
    std::string GetHeader(const std::string& name) override {
        if (m_answer.failsAfter && m_answer.headers.empty()) {
            failed();
        }
        const auto found = m_answer.headers.find(lowerCase(name));
        return found == m_answer.headers.end() ? std::string() : found->second;
    }
    std::vector<std::uint8_t> GetChunk(std::size_t size) override {
        const std::size_t end =
            std::min(m_answer.body.size(), m_answer.failsAfter.value_or(m_answer.body.size()));
        if (m_read == end && m_answer.failsAfter) {
            failed();
        }
        const std::size_t count = std::min(size, end - m_read);
        std::vector<std::uint8_t> piece(m_answer.body.begin() + static_cast<std::ptrdiff_t>(m_read),
                                        m_answer.body.begin() +
                                            static_cast<std::ptrdiff_t>(m_read + count));
        m_read += count;
        m_web.taken(m_url, count);
        return piece;
    }
    void setWaitHandler(std::function<void()>) override {}

private:
    [[noreturn]] static void failed() {
        platform::raiseError(platform::InternetTransfer::incompleteBody, "ScriptedTransfer",
                             "the network failed");
    }

    ScriptedWeb& m_web;
    ScriptedAnswer m_answer;
    std::string m_url;
    std::size_t m_read = 0;
};

class ScriptedHttpRequest : public platform::HttpRequest {
public:
    explicit ScriptedHttpRequest(ScriptedWeb& web) : m_web(web) {}

    void Open(const std::string& method, const std::string& url, bool async) override {
        if (async) {
            platform::raiseError(platform::ErrorNumber::invalidCall, "ScriptedHttpRequest");
        }
        m_request = {url, method, std::nullopt, std::nullopt};
        m_text.clear();
    }
    void setRequestHeader(const std::string&, const std::string&) override {}
    void send(const std::string&) override {
        const ScriptedAnswer answer = m_web.answer(m_request);
        if (answer.failsAfter) {
            // As the real request fails when it cannot connect.
            platform::raiseError(
                platform::networkFailureNumber(platform::NetworkFailureKind::refused),
                "ScriptedHttpRequest", "no server answered");
        }
        m_text = answer.body;
        m_web.taken(m_request.url, m_text.size());
    }
    std::string responseText() const override { return m_text; }

private:
    ScriptedWeb& m_web;
    ScriptedRequest m_request;
    std::string m_text;
};

} // namespace

void ScriptedWeb::serve(const std::string& url, std::string bytes) {
    m_files[url] = std::move(bytes);
}

ScriptedAnswer ScriptedWeb::answer(const ScriptedRequest& request) {
    m_requests.push_back(request);
    ScriptedAnswer answer;
    const auto file = m_files.find(request.url);
    if (file == m_files.end()) {
        answer.status = 404;
        answer.body = "not found";
    } else if (const std::string& bytes = file->second;
               request.first && *request.first < bytes.size()) {
        const std::uint64_t last =
            std::min<std::uint64_t>(request.last.value_or(bytes.size() - 1), bytes.size() - 1);
        answer.status = 206;
        answer.body = bytes.substr(*request.first, last + 1 - *request.first);
        answer.headers["content-range"] = "bytes " + std::to_string(*request.first) + "-" +
                                          std::to_string(last) + "/" + std::to_string(bytes.size());
    } else {
        answer.body = bytes;
    }
    const std::string length = std::to_string(answer.body.size());
    answer.headers["content-length"] = length;
    if (change) {
        change(request, answer);
    }
    if (const auto found = answer.headers.find("content-length");
        found != answer.headers.end() && found->second == length) {
        found->second = std::to_string(answer.body.size());
    }
    return answer;
}

std::uint64_t ScriptedWeb::bytesTaken(const std::string& url) const {
    const auto found = m_taken.find(url);
    return found == m_taken.end() ? 0 : found->second;
}

std::unique_ptr<platform::HttpRequest> ScriptedServices::newHttpRequest() {
    return std::make_unique<ScriptedHttpRequest>(m_web);
}

std::unique_ptr<platform::FileSystem> ScriptedServices::newFileSystem() {
    return m_real.newFileSystem();
}

std::unique_ptr<platform::InternetTransfer> ScriptedServices::newInternetTransfer() {
    return std::make_unique<ScriptedTransfer>(m_web);
}

} // namespace testsupport
