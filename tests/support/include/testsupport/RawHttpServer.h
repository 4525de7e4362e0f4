#pragma once

#include "testsupport/ScriptedHttpServer.h"

#include <mutex>
#include <string>
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

    int port() const { return m_server.port(); }
    std::string host() const { return m_server.host(); }
    // Each request's bytes up to and including the blank line after its
    // headers.
    std::vector<std::string> requests() const;

private:
    void answer(const std::string& head, ServerConnection& connection);

    RawReply m_reply;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    // Last, so that it stops serving before the rest goes.
    ScriptedHttpServer m_server;
};

// An HTTP/1.1 200 answer with the given extra header lines (each ending in
// CR LF) and body, exactly as written.
std::string rawResponse(const std::string& headerLines, const std::string& body);

// The body in chunked transfer coding, in pieces of at most pieceSize.
std::string chunked(const std::string& body, std::size_t pieceSize);

} // namespace testsupport
