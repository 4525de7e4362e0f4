#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace testsupport {

// One accepted connection of a ScriptedHttpServer, for a script to answer
// as it pleases: bytes, pauses, an orderly close or a reset.
class ServerConnection {
public:
    ServerConnection(int fd, int wake) : m_fd(fd), m_wake(wake) {}

    // Sends the bytes; false once the client has gone.
    bool send(const std::string& bytes);
    // Waits, cut short when the server stops; false then.
    bool pause(std::chrono::milliseconds length);
    // Holds the connection open without a byte until the client goes or the
    // server stops.
    void stall();
    // Ends the connection with a reset instead of an orderly close.
    void reset();
    bool wasReset() const { return m_reset; }

private:
    int m_fd;
    int m_wake;
    bool m_reset = false;
};

// A loopback HTTP server (127.0.0.1, or ::1 when asked) that reads each
// request head and hands the connection to a script, one connection at a
// time. For servers that misbehave in ways no regular server would.
class ScriptedHttpServer {
public:
    // The script gets the request's bytes up to and including the blank
    // line after its headers.
    using Script = std::function<void(const std::string& head, ServerConnection& connection)>;

    explicit ScriptedHttpServer(Script script, bool ipv6 = false);
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    // "127.0.0.1:port" or "[::1]:port", as the program's host settings take it.
    std::string host() const;
    int port() const { return m_port; }

private:
    void serve();
    void answer(int connection);

    Script m_script;
    bool m_ipv6;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
};

// The path of a request head ("/clientfiles/..." of "GET /clientfiles/... HTTP/1.1").
std::string requestPath(const std::string& head);

} // namespace testsupport
