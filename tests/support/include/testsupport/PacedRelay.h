#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A relay on 127.0.0.1 (or ::1) and a free port that forwards every
// connection to a server on the same address and targetPort and back, as a link between the updater
// and a web server or cache would. What it carries from the server may be held to a rate, which a
// test can change between runs, so that a download can be cut off part way the same way whatever
// serves it. Each request's Host line names the server, so that the server answers as if asked
// directly.
class PacedRelay {
public:
    // How much the client's socket may hold that the client has not read.
    // With the smallest, the bytes counted are bytes the client took, not
    // bytes queued towards a client that was killed.
    enum class ClientBuffer { system, smallest };
    // What the relay makes of the bytes: HTTP, whose heads it reads, keeps
    // and names the server in; or anything (TLS, a proxy's tunnel), passed
    // on untouched and only counted.
    enum class Framing { http, raw };
    // The loopback address it listens on and reaches the server on.
    enum class Loopback { ipv4, ipv6 };

    // bytesPerSecond 0: as fast as both sides go.
    explicit PacedRelay(int targetPort, std::uint64_t bytesPerSecond = 0,
                        ClientBuffer clientBuffer = ClientBuffer::system,
                        Framing framing = Framing::http, Loopback loopback = Loopback::ipv4);
    ~PacedRelay();
    PacedRelay(const PacedRelay&) = delete;
    PacedRelay& operator=(const PacedRelay&) = delete;

    int port() const { return m_port; }
    // "127.0.0.1:port" or "[::1]:port", as the program's host settings take it.
    std::string host() const;
    void setRate(std::uint64_t bytesPerSecond) { m_rate = bytesPerSecond; }
    // The relay a cache behind this one fetches from its origin through:
    // each exchange then notes what the origin had sent when its request went
    // on and when its answer's body began, so that a test sees how much of
    // the origin's answer a cache waited for before the first byte.
    void watchOrigin(const PacedRelay& origin) { m_origin = &origin; }

    // One connection: what the client asked (its request heads, as the
    // server got them), the head of the server's answer, and the bytes
    // carried from the server to the client, head included. Raw, only the
    // bytes are known.
    struct Exchange {
        std::string request;
        std::string answer;
        std::uint64_t fromServer = 0;
        // With a watched origin: its bytes delivered when the request was
        // forwarded and when the answer's body began (none without a body).
        std::uint64_t originAtRequest = 0;
        std::optional<std::uint64_t> originAtBody;
    };
    // Every connection so far, in the order they were accepted.
    std::vector<Exchange> exchanges() const;
    // The bytes carried from the server, all connections together.
    std::uint64_t delivered() const;

private:
    struct Link;

    void run();
    void accept();
    // Moves what each side has ready; false once the link is done with.
    bool pass(Link& link, short clientEvents, short serverEvents);
    void fromClient(Link& link);
    void fromServer(Link& link);
    void toClient(Link& link);
    // How many bytes the rate allows now.
    std::uint64_t allowance();
    // What the watched origin has sent so far; 0 without one.
    std::uint64_t originDelivered() const;

    int m_targetPort;
    ClientBuffer m_clientBuffer;
    Framing m_framing;
    Loopback m_loopback;
    std::atomic<std::uint64_t> m_rate;
    std::atomic<const PacedRelay*> m_origin{nullptr};
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::vector<Link> m_links;
    mutable std::mutex m_mutex;
    std::vector<Exchange> m_exchanges;
    double m_tokens = 0;
    std::int64_t m_lastRefill = 0;
    std::thread m_thread;
};

} // namespace testsupport
