#pragma once

#include <httplib.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// What a loopback server saw of one request.
struct ReceivedRequest {
    std::string method;
    std::string path;
    httplib::Headers headers;
    std::string body;
};

// An HTTP server on 127.0.0.1 and a free port, serving from its own thread
// until it goes away. Handlers are registered on server() before start().
class LoopbackServer {
public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& server() { return m_server; }
    void start();
    void stop();

    int port() const { return m_port; }
    // "127.0.0.1:port", as the program's host settings take it.
    std::string host() const;
    std::vector<ReceivedRequest> requests() const;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<ReceivedRequest> m_requests;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int refusedPort();

} // namespace testsupport
