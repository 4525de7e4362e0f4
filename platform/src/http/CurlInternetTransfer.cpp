#include "platform/http/CurlInternetTransfer.h"

#include "http/CurlSupport.h"
#include "http/RequestRoute.h"
#include "platform/http/BodyBuffer.h"
#include "text/Pieces.h"

#include <algorithm>
#include <optional>

namespace platform {

static_assert(InternetTransfer::incompleteBody ==
              ErrorNumber::objectDefinedBase + static_cast<int32_t>(CURLE_PARTIAL_FILE));

namespace {

const std::string transferSource = "Inet1";
const std::string executeSource = "InternetTransfer::Execute";
constexpr long receiveBufferSize = 128 * 1024;
// The most of the body held in memory; the network waits when it is full.
constexpr std::size_t bodyBufferSize = 1024 * 1024;
constexpr int pollMilliseconds = 10;
// Bytes handed out between two drives of a transfer that is keeping up.
constexpr std::size_t driveEvery = 64 * 1024;

// Blanks around a header's name and value are not part of them.
std::string trimmed(std::string_view text) {
    return std::string(text::trimmed(text, " \t"));
}

// "Name: value" lines, each ended by CR LF (a bare LF is taken too).
std::vector<curl::Header> parseHeaderLines(const std::string& lines) {
    std::vector<curl::Header> headers;
    std::size_t start = 0;
    while (start < lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos) {
            end = lines.size();
        }
        std::string line = lines.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            raiseError(ErrorNumber::invalidCall, executeSource,
                       "invalid request header line \"" + line + "\"");
        }
        headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    }
    return headers;
}

} // namespace

// One request: its handles, the part of the body not yet handed out, and
// whether the network side is paused because that part is full.
class CurlInternetTransfer::Session {
public:
    // operation is "GET" or "HEAD".
    Session(const NetworkAccess& network, const std::string& url, const std::string& operation,
            const std::vector<curl::Header>& headers, std::chrono::milliseconds silenceLimit,
            std::uint64_t slowestRate, std::chrono::milliseconds slowWindow)
        : m_easy(curl::makeEasy(executeSource)),
          m_silence(silenceLimit, {}, slowestRate, slowWindow), m_route(network, url) {
        CURL* easy = m_easy.get();
        curl::applyTransferOptions(easy, m_errorBuffer, m_silence);
        m_route.apply(easy);
        m_headers = curl::makeHeaderList(headers, executeSource);
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headers.get());
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, receiveBufferSize);
        // One request per session: no idle connection is left to the server.
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Session::keepBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_NOBODY, operation == "HEAD" ? 1L : 0L);
        m_multi.reset(curl_multi_init());
        if (!m_multi || curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK) {
            raiseError(ErrorNumber::invalidCall, executeSource,
                       "the HTTP library cannot start a request");
        }
    }

    ~Session() {
        if (m_running) {
            curl_multi_remove_handle(m_multi.get(), m_easy.get());
        }
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool running() const { return m_running; }
    // The final response's headers are in once its body has begun.
    bool bodyStarted() const { return m_bodyStarted; }
    std::size_t available() const { return m_body.size(); }
    std::size_t takenSinceDrive() const { return m_takenSinceDrive; }
    const std::optional<Error>& failure() const { return m_failure; }

    // Moves the transfer on as far as the network and the room in the
    // buffer allow, without waiting. A transfer paused for want of room
    // goes on once half the buffer is free again: fewer, larger refills.
    void drive() {
        m_takenSinceDrive = 0;
        if (m_paused && m_body.room() >= m_body.capacity() / 2) {
            m_paused = false;
            m_silence.hold(false);
            // May hand over the piece held back at once, through keepBody.
            const CURLcode resumed = curl_easy_pause(m_easy.get(), CURLPAUSE_CONT);
            if (resumed != CURLE_OK) {
                finish(outcome(resumed));
                return;
            }
        }
        int stillRunning = 0;
        const CURLMcode code = curl_multi_perform(m_multi.get(), &stillRunning);
        if (code != CURLM_OK) {
            finish(Error(ErrorNumber::objectDefinedBase + static_cast<int32_t>(CURLE_FAILED_INIT),
                         transferSource, curl_multi_strerror(code)));
            return;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) {
                finish(outcome(message->data.result));
            }
        }
    }

    void waitForActivity() {
        curl_multi_poll(m_multi.get(), nullptr, 0, pollMilliseconds, nullptr);
    }

    std::string header(const std::string& name) {
        curl_header* found = nullptr;
        if (name.empty() || curl_easy_header(m_easy.get(), name.c_str(), 0, CURLH_HEADER, -1,
                                             &found) != CURLHE_OK) {
            return {};
        }
        return found->value;
    }

    // Moves up to size bytes of the body to the end of chunk; the number.
    std::size_t takeInto(std::vector<std::uint8_t>& chunk, std::size_t size) {
        const std::size_t count = std::min(size, m_body.size());
        const std::size_t at = chunk.size();
        chunk.resize(at + count);
        m_takenSinceDrive += count;
        return m_body.take(chunk.data() + at, count);
    }

private:
    // The body as it arrives. When the buffer has no room for a piece the
    // transfer is paused; the library offers the same piece again on resume.
    static std::size_t keepBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto& session = *static_cast<Session*>(self);
        const std::size_t length = size * count;
        // A proxy's page asking for credentials is never taken as the body.
        if (!session.m_bodyStarted && session.m_route.refusedByProxy(session.m_easy.get())) {
            return 0;
        }
        if (!session.m_body.put(data, length)) {
            session.m_paused = true;
            session.m_silence.hold(true);
            return CURL_WRITEFUNC_PAUSE;
        }
        session.m_bodyStarted = session.m_bodyStarted || length > 0;
        return length;
    }

    std::optional<Error> outcome(CURLcode result) const {
        if (result == CURLE_OK && !m_route.refusedByProxy(m_easy.get())) {
            return std::nullopt;
        }
        return m_route.failure(m_easy.get(), result, m_errorBuffer, m_silence, transferSource);
    }

    void finish(std::optional<Error> failure) {
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
        m_running = false;
        m_paused = false;
        m_failure = std::move(failure);
    }

    curl::Easy m_easy;
    curl::TransferWatch m_silence;
    curl::RequestRoute m_route;
    curl::Multi m_multi;
    curl::HeaderList m_headers;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    BodyBuffer m_body{bodyBufferSize};
    std::size_t m_takenSinceDrive = 0;
    bool m_paused = false;
    bool m_running = true;
    bool m_bodyStarted = false;
    std::optional<Error> m_failure;
};

CurlInternetTransfer::CurlInternetTransfer(std::chrono::milliseconds silenceLimit,
                                           std::uint64_t slowestRate,
                                           std::chrono::milliseconds slowWindow,
                                           std::shared_ptr<const NetworkAccess> network)
    : m_silenceLimit(silenceLimit), m_slowestRate(slowestRate), m_slowWindow(slowWindow),
      m_network(network ? std::move(network) : std::make_shared<const NetworkAccess>()) {}

CurlInternetTransfer::~CurlInternetTransfer() = default;

void CurlInternetTransfer::Execute(const std::string& operation,
                                   const std::string& requestHeaders) {
    if (operation != "GET" && operation != "HEAD") {
        raiseError(ErrorNumber::invalidCall, executeSource,
                   "unsupported operation \"" + operation + "\"");
    }
    const std::vector<curl::Header> headers = parseHeaderLines(requestHeaders);
    // A request left unfinished (its caller failed half-way) is abandoned,
    // so that a new attempt can always start.
    m_session.reset();
    m_session = std::make_unique<Session>(*m_network, URL, operation, headers, m_silenceLimit,
                                          m_slowestRate, m_slowWindow);
}

bool CurlInternetTransfer::StillExecuting() {
    if (!m_session || !m_session->running() || m_session->bodyStarted()) {
        return false;
    }
    m_session->drive();
    if (!m_session->running() || m_session->bodyStarted()) {
        return false;
    }
    m_session->waitForActivity();
    m_session->drive();
    return m_session->running() && !m_session->bodyStarted();
}

CurlInternetTransfer::Session* CurlInternetTransfer::answeredSession() {
    while (StillExecuting()) {
    }
    // An answer whose body began keeps its headers and the bytes received
    // after a failure: a download cut off part way loses none of them.
    if (m_session && m_session->failure() &&
        (!m_session->bodyStarted() || m_session->available() == 0)) {
        throw *m_session->failure();
    }
    return m_session.get();
}

std::string CurlInternetTransfer::GetHeader(const std::string& name) {
    Session* session = answeredSession();
    return session != nullptr ? session->header(name) : std::string();
}

std::vector<std::uint8_t> CurlInternetTransfer::GetChunk(std::size_t size) {
    Session* session = answeredSession();
    std::vector<std::uint8_t> chunk;
    if (session == nullptr) {
        return chunk;
    }
    for (;;) {
        // The network is driven when the buffer cannot give what is asked
        // for, and otherwise once every so many bytes while it is less than
        // half full: meanwhile the kernel's buffers take what arrives, and one
        // drive moves all of it.
        const std::size_t wanted = size - chunk.size();
        if (session->running() &&
            (session->available() < wanted || (session->available() < bodyBufferSize / 2 &&
                                               session->takenSinceDrive() >= driveEvery))) {
            session->drive();
        }
        if (session->failure() && session->available() == 0) {
            // What this call has already taken is handed out first.
            if (!chunk.empty()) {
                return chunk;
            }
            throw *session->failure();
        }
        const std::size_t taken = session->takeInto(chunk, wanted);
        if (chunk.size() == size || !session->running()) {
            return chunk;
        }
        // Room was made: the next drive may go on at once.
        if (taken == 0) {
            session->waitForActivity();
            if (m_whileWaiting) {
                m_whileWaiting();
            }
        }
    }
}

} // namespace platform
