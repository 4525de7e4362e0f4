#include "testsupport/ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

bool ServerConnection::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool ServerConnection::pause(std::chrono::milliseconds length) {
    pollfd wake{m_wake, POLLIN, 0};
    return poll(&wake, 1, static_cast<int>(length.count())) == 0;
}

void ServerConnection::stall() {
    pollfd watched[2] = {{m_wake, POLLIN, 0}, {m_fd, POLLRDHUP, 0}};
    poll(watched, 2, -1);
}

void ServerConnection::reset() {
    const linger abort{1, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    m_reset = true;
}

ScriptedHttpServer::ScriptedHttpServer(Script script, bool ipv6)
    : m_script(std::move(script)), m_ipv6(ipv6) {
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6) {
        auto* six = reinterpret_cast<sockaddr_in6*>(&address);
        six->sin6_family = AF_INET6;
        six->sin6_addr = in6addr_loopback;
        length = sizeof *six;
    } else {
        auto* four = reinterpret_cast<sockaddr_in*>(&address);
        four->sin_family = AF_INET;
        four->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *four;
    }
    m_listener = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(m_wake, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot open a loopback listener");
    }
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                        : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    m_thread = std::thread([this] { serve(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    const char stop = 's';
    if (write(m_wake[1], &stop, 1) != 1) {
        std::perror("ScriptedHttpServer");
    }
    m_thread.join();
    close(m_listener);
    close(m_wake[0]);
    close(m_wake[1]);
}

std::string ScriptedHttpServer::host() const {
    return (m_ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(m_port);
}

void ScriptedHttpServer::serve() {
    for (;;) {
        pollfd watched[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(watched, 2, -1) < 0 || (watched[1].revents & POLLIN) != 0) {
            return;
        }
        const int connection = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            answer(connection);
        }
    }
}

void ScriptedHttpServer::answer(int connection) {
    const timeval patience{5, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    ServerConnection scripted(connection, m_wake[0]);
    m_script(head, scripted);
    if (!scripted.wasReset()) {
        shutdown(connection, SHUT_WR);
        const timeval brief{0, 200000};
        setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &brief, sizeof brief);
        while (recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
    }
    close(connection);
}

std::string requestPath(const std::string& head) {
    const std::size_t start = head.find(' ') + 1;
    return head.substr(start, head.find(' ', start) - start);
}

} // namespace testsupport
