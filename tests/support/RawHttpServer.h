#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// How a raw server answers every connection: these bytes exactly, then an
// orderly close, or a reset when reset is set.
struct RawReply {
    std::string bytes;
    bool reset = false;
};

// A TCP server on 127.0.0.1 and a free port for answers no regular server
// would give: a body cut short, a connection reset mid-body, framing that
// contradicts its headers. It records each request head as it arrived.
class RawHttpServer {
public:
    explicit RawHttpServer(RawReply reply);
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return m_port; }
    std::string host() const;
    // Each request's bytes up to and including the blank line after its
    // headers.
    std::vector<std::string> requests() const;

private:
    void serve();
    void answer(int connection);

    RawReply m_reply;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
};

// An HTTP/1.1 200 answer with the given extra header lines (each ending in
// CR LF) and body, exactly as written.
std::string rawResponse(const std::string& headerLines, const std::string& body);

// The body in chunked transfer coding, in pieces of at most pieceSize.
std::string chunked(const std::string& body, std::size_t pieceSize);

} // namespace testsupport
