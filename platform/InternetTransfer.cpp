#include "platform/InternetTransfer.h"

#include "fileio/Writing.h"
#include "platform/CurlSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace platform {

static_assert(InternetTransfer::incompleteBody ==
              ErrorNumber::objectDefinedBase + static_cast<int32_t>(CURLE_PARTIAL_FILE));

namespace {

const std::string transferSource = "Inet1";
const std::string executeSource = "InternetTransfer::Execute";
constexpr long receiveBufferSize = 128 * 1024;
constexpr std::size_t readBackBlock = 64 * 1024;
constexpr int pollMilliseconds = 10;
constexpr std::uint64_t drivingReserve = 64 * 1024;

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using Multi = std::unique_ptr<CURLM, MultiDeleter>;

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
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

// An unlinked file in the system's temporary folder: it vanishes with its
// descriptor, whatever way the program ends.
fileio::UniqueFd makeSpoolFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                          "/morvane-transfer-XXXXXX";
    fileio::UniqueFd fd(mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd) {
        throw systemError(errno, executeSource, pattern);
    }
    unlink(pattern.c_str());
    return fd;
}

} // namespace

// One request: its handles, its spool file and how far it has been read.
class InternetTransfer::Session {
public:
    // operation is "GET" or "HEAD".
    Session(const std::string& url, const std::string& operation,
            const std::vector<curl::Header>& headers, std::chrono::seconds silenceLimit)
        : m_easy(curl::makeEasy(executeSource)), m_spool(makeSpoolFile()) {
        CURL* easy = m_easy.get();
        curl::applyTransferOptions(easy, m_errorBuffer, silenceLimit);
        m_headers = curl::makeHeaderList(headers, executeSource);
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_headers.get());
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, receiveBufferSize);
        // One request per session: no idle connection is left to the server.
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Session::spoolBody);
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
    std::uint64_t available() const { return m_spooled - m_handedOut; }
    const std::optional<Error>& failure() const { return m_failure; }

    // Moves the transfer on as far as the network allows without waiting.
    void drive() {
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

    std::vector<std::uint8_t> read(std::size_t size) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, m_spooled - m_handedOut));
        std::vector<std::uint8_t> chunk(wanted);
        std::size_t filled = 0;
        while (filled < wanted) {
            if (m_bufferAt == m_bufferEnd) {
                refill();
            }
            const std::size_t take = std::min(wanted - filled, m_bufferEnd - m_bufferAt);
            std::memcpy(chunk.data() + filled, m_buffer.data() + m_bufferAt, take);
            m_bufferAt += take;
            filled += take;
        }
        m_handedOut += wanted;
        if (!m_running && m_handedOut == m_spooled && m_spool) {
            // Everything is handed out: give the disk space back now.
            m_spool.reset();
            m_buffer = {};
        }
        return chunk;
    }

private:
    static std::size_t spoolBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto& session = *static_cast<Session*>(self);
        const std::size_t length = size * count;
        session.m_spoolErrno = fileio::writeAll(session.m_spool.get(), data, length);
        if (session.m_spoolErrno != 0) {
            return 0;
        }
        session.m_spooled += length;
        session.m_bodyStarted = session.m_bodyStarted || length > 0;
        return length;
    }

    std::optional<Error> outcome(CURLcode result) const {
        if (result == CURLE_OK) {
            return std::nullopt;
        }
        if (m_spoolErrno != 0) {
            return systemError(m_spoolErrno, transferSource, "the transfer's temporary file");
        }
        return curl::transferError(result, m_errorBuffer, transferSource);
    }

    void finish(std::optional<Error> failure) {
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
        m_running = false;
        m_failure = std::move(failure);
    }

    void refill() {
        if (m_buffer.empty()) {
            m_buffer.resize(readBackBlock);
        }
        ssize_t n = 0;
        do {
            n = ::pread(m_spool.get(), m_buffer.data(), m_buffer.size(),
                        static_cast<off_t>(m_readAt));
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            throw systemError(n < 0 ? errno : EIO, transferSource, "the transfer's temporary file");
        }
        m_readAt += static_cast<std::uint64_t>(n);
        m_bufferAt = 0;
        m_bufferEnd = static_cast<std::size_t>(n);
    }

    curl::Easy m_easy;
    Multi m_multi;
    curl::HeaderList m_headers;
    char m_errorBuffer[CURL_ERROR_SIZE] = {};
    fileio::UniqueFd m_spool;
    int m_spoolErrno = 0;
    std::uint64_t m_spooled = 0;
    std::uint64_t m_handedOut = 0;
    std::uint64_t m_readAt = 0;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_bufferAt = 0;
    std::size_t m_bufferEnd = 0;
    bool m_running = true;
    bool m_bodyStarted = false;
    std::optional<Error> m_failure;
};

InternetTransfer::InternetTransfer(std::chrono::seconds silenceLimit)
    : m_silenceLimit(silenceLimit) {}

InternetTransfer::~InternetTransfer() = default;

void InternetTransfer::Execute(const std::string& operation, const std::string& requestHeaders) {
    if (operation != "GET" && operation != "HEAD") {
        raiseError(ErrorNumber::invalidCall, executeSource,
                   "unsupported operation \"" + operation + "\"");
    }
    const std::vector<curl::Header> headers = parseHeaderLines(requestHeaders);
    // A request left unfinished (its caller failed half-way) is abandoned,
    // so that a new attempt can always start.
    m_session.reset();
    m_session = std::make_unique<Session>(URL, operation, headers, m_silenceLimit);
}

bool InternetTransfer::StillExecuting() {
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

InternetTransfer::Session* InternetTransfer::answeredSession() {
    while (StillExecuting()) {
    }
    if (m_session && m_session->failure()) {
        throw *m_session->failure();
    }
    return m_session.get();
}

std::string InternetTransfer::GetHeader(const std::string& name) {
    Session* session = answeredSession();
    return session != nullptr ? session->header(name) : std::string();
}

std::vector<std::uint8_t> InternetTransfer::GetChunk(std::size_t size) {
    Session* session = answeredSession();
    if (session == nullptr) {
        return {};
    }
    for (;;) {
        // While plenty of the body is spooled the network is left to the
        // kernel's buffers; it is driven again before the spool runs dry.
        if (session->running() && session->available() < size + drivingReserve) {
            session->drive();
        }
        if (session->failure()) {
            throw *session->failure();
        }
        if (session->available() >= size || !session->running()) {
            return session->read(size);
        }
        session->waitForActivity();
        if (m_whileWaiting) {
            m_whileWaiting();
        }
    }
}

} // namespace platform
