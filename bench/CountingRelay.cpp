#include "CountingRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

constexpr std::size_t piece = 64 * 1024;

int loopbackSocket() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("relay: no socket");
    }
    return fd;
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// One direction of a connection: bytes read from one side, not yet written
// to the other.
struct Leg {
    int from;
    int to;
    std::vector<char> pending;
    bool closed = false;
};

} // namespace

CountingRelay::CountingRelay(std::string upstreamHost)
    : m_upstreamPort(std::stoi(upstreamHost.substr(upstreamHost.rfind(':') + 1))) {
    m_listener = loopbackSocket();
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 16) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("relay: cannot listen on loopback");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

CountingRelay::~CountingRelay() {
    m_stop = true;
    shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    for (std::thread& connection : m_connections) {
        connection.join();
    }
    close(m_listener);
}

std::string CountingRelay::host() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

void CountingRelay::serve() {
    while (!m_stop) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (poll(&waiting, 1, 100) <= 0) {
            continue;
        }
        const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            m_connections.emplace_back([this, client] { relay(client); });
        }
    }
}

void CountingRelay::relay(int client) {
    const int upstream = loopbackSocket();
    const sockaddr_in address = loopback(m_upstreamPort);
    // The smallest send buffer towards the client: counted bytes are bytes
    // the client's socket took, not bytes waiting in the relay.
    const int small = 4096;
    setsockopt(client, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    if (connect(upstream, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(upstream);
        close(client);
        return;
    }
    Leg legs[2] = {{client, upstream, {}}, {upstream, client, {}}};
    while (!m_stop && !(legs[0].closed && legs[1].closed)) {
        pollfd fds[2] = {};
        for (int i = 0; i < 2; ++i) {
            fds[i].fd = legs[i].from;
            fds[i].events = legs[i].pending.empty() && !legs[i].closed ? POLLIN : 0;
        }
        pollfd writable[2] = {};
        for (int i = 0; i < 2; ++i) {
            writable[i].fd = legs[i].to;
            writable[i].events = legs[i].pending.empty() ? 0 : POLLOUT;
        }
        pollfd all[4] = {fds[0], fds[1], writable[0], writable[1]};
        if (poll(all, 4, 100) < 0) {
            break;
        }
        bool broken = false;
        for (int i = 0; i < 2; ++i) {
            Leg& leg = legs[i];
            if ((all[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                leg.pending.resize(piece);
                const ssize_t got = read(leg.from, leg.pending.data(), piece);
                leg.pending.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
                if (got <= 0) {
                    leg.closed = true;
                    shutdown(leg.to, SHUT_WR);
                }
            }
            if ((all[i + 2].revents & (POLLOUT | POLLHUP | POLLERR)) != 0) {
                const ssize_t sent = send(leg.to, leg.pending.data(), leg.pending.size(),
                                          MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent < 0) {
                    broken = true;
                    break;
                }
                leg.pending.erase(leg.pending.begin(), leg.pending.begin() + sent);
                if (i == 1) {
                    m_delivered += static_cast<std::uint64_t>(sent);
                }
            }
        }
        if (broken) {
            break;
        }
    }
    close(upstream);
    close(client);
}

} // namespace bench
