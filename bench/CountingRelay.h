#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// A relay on 127.0.0.1 between the updater and a server: it passes every
// connection's bytes both ways and counts the bytes it delivered to the
// client, which takes them only as fast as it reads (the relay's own send
// buffer towards the client is kept small). What a killed client loses is
// then what reached it and was not kept, not what the server queued in its
// socket and never sent: the bytes that would have crossed a network.
class CountingRelay {
public:
    explicit CountingRelay(std::string upstreamHost);
    ~CountingRelay();
    CountingRelay(const CountingRelay&) = delete;
    CountingRelay& operator=(const CountingRelay&) = delete;

    // "127.0.0.1:port", as the program's host settings take it.
    std::string host() const;
    // Bytes delivered to clients so far, all connections together.
    std::uint64_t delivered() const { return m_delivered; }

private:
    void serve();
    void relay(int client);

    int m_listener = -1;
    int m_port = 0;
    int m_upstreamPort = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_delivered{0};
    std::thread m_thread;
    std::vector<std::thread> m_connections;
};

} // namespace bench
