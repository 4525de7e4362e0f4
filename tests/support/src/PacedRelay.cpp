#include "testsupport/PacedRelay.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

// The most read from the server ahead of the client: what the relay holds.
constexpr std::size_t pieceSize = 64 * 1024;
// An answer's head is recorded up to this many bytes.
constexpr std::size_t longestHead = 8 * 1024;
constexpr int pollMilliseconds = 5;
const std::string headEnd = "\r\n\r\n";

std::int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// "127.0.0.1:port" or "[::1]:port".
std::string loopbackHost(PacedRelay::Loopback loopback, int port) {
    return (loopback == PacedRelay::Loopback::ipv6 ? "[::1]:" : "127.0.0.1:") +
           std::to_string(port);
}

// The loopback address of a family and a port, and its length.
struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;

    Address(PacedRelay::Loopback loopback, int port) {
        const auto network = htons(static_cast<std::uint16_t>(port));
        if (loopback == PacedRelay::Loopback::ipv6) {
            auto* six = reinterpret_cast<sockaddr_in6*>(&storage);
            six->sin6_family = AF_INET6;
            six->sin6_addr = in6addr_loopback;
            six->sin6_port = network;
            length = sizeof(sockaddr_in6);
        } else {
            auto* four = reinterpret_cast<sockaddr_in*>(&storage);
            four->sin_family = AF_INET;
            four->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            four->sin_port = network;
            length = sizeof(sockaddr_in);
        }
    }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }
    int port() const {
        return ntohs(family() == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port
                         : reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
};

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// The head with its Host line naming host instead.
std::string withHost(const std::string& head, const std::string& host) {
    std::string result;
    for (std::size_t at = 0; at < head.size();) {
        const std::size_t end = std::min(head.find("\r\n", at), head.size());
        const std::string line = head.substr(at, end - at);
        result += strncasecmp(line.c_str(), "Host:", 5) == 0 ? "Host: " + host : line;
        result += head.substr(end, 2);
        at = end + 2;
    }
    return result;
}

} // namespace

struct PacedRelay::Link {
    int client = -1;
    int server = -1;
    std::size_t exchange = 0;
    std::string unfinishedHead; // from the client, its end not yet seen
    std::string toServer;
    std::string toClient;
    std::uint64_t received = 0; // from the server
    std::uint64_t headLength = 0;
    bool answerHeadDone = false;
    bool serverEnded = false;
    bool done = false;
};

PacedRelay::PacedRelay(int targetPort, std::uint64_t bytesPerSecond, ClientBuffer clientBuffer,
                       Framing framing, Loopback loopback)
    : m_targetPort(targetPort), m_clientBuffer(clientBuffer), m_framing(framing),
      m_loopback(loopback), m_rate(bytesPerSecond) {
    Address address(loopback, 0);
    m_listener = socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listener < 0 || bind(m_listener, address.get(), address.length) != 0 ||
        listen(m_listener, 16) != 0 ||
        getsockname(m_listener, address.get(), &address.length) != 0) {
        close(m_listener);
        throw std::runtime_error("the relay cannot listen on " + host());
    }
    m_port = address.port();
    m_lastRefill = nowNanoseconds();
    m_thread = std::thread([this] { run(); });
}

PacedRelay::~PacedRelay() {
    m_stopping = true;
    m_thread.join();
    for (const Link& link : m_links) {
        close(link.client);
        close(link.server);
    }
    close(m_listener);
}

std::string PacedRelay::host() const {
    return loopbackHost(m_loopback, m_port);
}

std::vector<PacedRelay::Exchange> PacedRelay::exchanges() const {
    const std::lock_guard<std::mutex> hold(m_mutex);
    return m_exchanges;
}

std::uint64_t PacedRelay::delivered() const {
    const std::lock_guard<std::mutex> hold(m_mutex);
    std::uint64_t bytes = 0;
    for (const Exchange& exchange : m_exchanges) {
        bytes += exchange.fromServer;
    }
    return bytes;
}

std::uint64_t PacedRelay::allowance() {
    const std::uint64_t rate = m_rate;
    const std::int64_t now = nowNanoseconds();
    if (rate == 0) {
        m_lastRefill = now;
        return pieceSize;
    }
    // At most a fiftieth of a second's worth at once: the pace holds even
    // over short spans.
    const double most = std::max(static_cast<double>(rate) / 50, 1024.0);
    m_tokens = std::min(most, m_tokens + static_cast<double>(rate) *
                                             static_cast<double>(now - m_lastRefill) / 1e9);
    m_lastRefill = now;
    return std::min<std::uint64_t>(pieceSize, static_cast<std::uint64_t>(m_tokens));
}

void PacedRelay::run() {
    while (!m_stopping) {
        const bool mayRead = allowance() > 0;
        std::vector<pollfd> polled{{m_listener, POLLIN, 0}};
        for (const Link& link : m_links) {
            polled.push_back({link.client,
                              static_cast<short>(POLLIN | (link.toClient.empty() ? 0 : POLLOUT)),
                              0});
            // A server not to be read from now is left out: its end would
            // wake the poll at once, again and again.
            const bool wantsMore = link.toClient.empty() && !link.serverEnded && mayRead;
            const bool writes = !link.toServer.empty();
            polled.push_back({wantsMore || writes ? link.server : -1,
                              static_cast<short>((wantsMore ? POLLIN : 0) | (writes ? POLLOUT : 0)),
                              0});
        }
        const std::size_t polledLinks = m_links.size();
        if (poll(polled.data(), polled.size(), pollMilliseconds) < 0 && errno != EINTR) {
            return;
        }
        if (polled[0].revents & POLLIN) {
            accept();
        }
        for (std::size_t i = 0; i < polledLinks; ++i) {
            if (!pass(m_links[i], polled[1 + 2 * i].revents, polled[2 + 2 * i].revents)) {
                m_links[i].done = true;
            }
        }
        for (Link& link : m_links) {
            if (link.done) {
                close(link.client);
                close(link.server);
            }
        }
        std::erase_if(m_links, [](const Link& link) { return link.done; });
    }
}

void PacedRelay::accept() {
    const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) {
        return;
    }
    Address target(m_loopback, m_targetPort);
    const int server = socket(target.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0 || connect(server, target.get(), target.length) != 0) {
        close(server);
        close(client);
        return;
    }
    setNonBlocking(server);
    if (m_clientBuffer == ClientBuffer::smallest) {
        const int smallest = 4096;
        setsockopt(client, SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest);
    }
    Link link;
    link.client = client;
    link.server = server;
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        link.exchange = m_exchanges.size();
        m_exchanges.emplace_back();
    }
    m_links.push_back(std::move(link));
}

bool PacedRelay::pass(Link& link, short clientEvents, short serverEvents) {
    if (clientEvents & (POLLIN | POLLHUP | POLLERR)) {
        fromClient(link);
    }
    if (!link.done && !link.toServer.empty() && (serverEvents & POLLOUT)) {
        const ssize_t sent =
            send(link.server, link.toServer.data(), link.toServer.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            link.toServer.erase(0, static_cast<std::size_t>(sent));
        }
    }
    if (!link.done && (serverEvents & (POLLIN | POLLHUP | POLLERR))) {
        fromServer(link);
    }
    if (!link.done && !link.toClient.empty()) {
        toClient(link);
    }
    // The server's answer ends the link once all of it is carried.
    return !link.done && !(link.serverEnded && link.toClient.empty());
}

void PacedRelay::fromClient(Link& link) {
    char buffer[4096];
    const ssize_t got = recv(link.client, buffer, sizeof buffer, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        // The client is gone: so is the link, whatever the server still sends.
        link.done = true;
        return;
    }
    if (got < 0) {
        return;
    }
    if (m_framing == Framing::raw) {
        link.toServer.append(buffer, static_cast<std::size_t>(got));
        return;
    }
    link.unfinishedHead.append(buffer, static_cast<std::size_t>(got));
    // Requests without bodies: every head is forwarded once it is whole.
    for (std::size_t end; (end = link.unfinishedHead.find(headEnd)) != std::string::npos;) {
        const std::string head = withHost(link.unfinishedHead.substr(0, end + 2),
                                          loopbackHost(m_loopback, m_targetPort)) +
                                 "\r\n";
        link.unfinishedHead.erase(0, end + headEnd.size());
        link.toServer += head;
        const std::uint64_t origin = originDelivered();
        const std::lock_guard<std::mutex> hold(m_mutex);
        Exchange& exchange = m_exchanges[link.exchange];
        if (exchange.request.empty()) {
            exchange.originAtRequest = origin;
        }
        exchange.request += head;
    }
}

void PacedRelay::fromServer(Link& link) {
    char buffer[pieceSize];
    const std::size_t want = std::min<std::uint64_t>(sizeof buffer, allowance());
    if (want == 0) {
        return;
    }
    const ssize_t got = recv(link.server, buffer, want, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        link.serverEnded = true;
        return;
    }
    if (got < 0) {
        return;
    }
    if (m_rate != 0) {
        m_tokens -= static_cast<double>(got);
    }
    link.toClient.append(buffer, static_cast<std::size_t>(got));
    if (m_framing == Framing::raw) {
        return;
    }
    const bool bodyBegan = link.answerHeadDone && link.received > link.headLength;
    link.received += static_cast<std::uint64_t>(got);
    if (bodyBegan) {
        return;
    }
    const std::uint64_t origin = originDelivered();
    const std::lock_guard<std::mutex> hold(m_mutex);
    Exchange& exchange = m_exchanges[link.exchange];
    if (!link.answerHeadDone) {
        std::string& answer = exchange.answer;
        answer.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(got), longestHead));
        const std::size_t end = answer.find(headEnd);
        if (end != std::string::npos || answer.size() >= longestHead) {
            link.headLength = end == std::string::npos ? longestHead : end + headEnd.size();
            answer.resize(link.headLength - (end == std::string::npos ? 0 : 2));
            link.answerHeadDone = true;
        }
    }
    if (link.answerHeadDone && link.received > link.headLength && m_origin) {
        exchange.originAtBody = origin;
    }
}

std::uint64_t PacedRelay::originDelivered() const {
    const PacedRelay* origin = m_origin;
    return origin != nullptr ? origin->delivered() : 0;
}

void PacedRelay::toClient(Link& link) {
    const ssize_t sent =
        send(link.client, link.toClient.data(), link.toClient.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        link.done = true;
        return;
    }
    if (sent > 0) {
        link.toClient.erase(0, static_cast<std::size_t>(sent));
        const std::lock_guard<std::mutex> hold(m_mutex);
        m_exchanges[link.exchange].fromServer += static_cast<std::uint64_t>(sent);
    }
}

} // namespace testsupport
