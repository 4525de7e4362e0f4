#include "tests/support/RawHttpServer.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

void sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace

RawHttpServer::RawHttpServer(RawReply reply) : m_reply(std::move(reply)) {
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 ||
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe(m_wake) != 0) {
        throw std::runtime_error("cannot open a loopback listener");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

RawHttpServer::~RawHttpServer() {
    const char stop = 's';
    if (write(m_wake[1], &stop, 1) != 1) {
        std::perror("RawHttpServer");
    }
    m_thread.join();
    close(m_listener);
    close(m_wake[0]);
    close(m_wake[1]);
}

std::string RawHttpServer::host() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> RawHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void RawHttpServer::serve() {
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

void RawHttpServer::answer(int connection) {
    // A client that never closes must not hold the server up for long.
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
    {
        // Recorded before answering, so a client that has its answer finds
        // its request here.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(head);
    }
    sendAll(connection, m_reply.bytes);
    if (m_reply.reset) {
        const linger abort{1, 0};
        setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    } else {
        shutdown(connection, SHUT_WR);
        // Lets the client read to the end before the socket goes.
        while (recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
    }
    close(connection);
}

std::string rawResponse(const std::string& headerLines, const std::string& body) {
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n" + headerLines + "\r\n" + body;
}

std::string chunked(const std::string& body, std::size_t pieceSize) {
    std::string coded;
    for (std::size_t at = 0; at < body.size(); at += pieceSize) {
        const std::string piece = body.substr(at, pieceSize);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        coded += size + piece + "\r\n";
    }
    return coded + "0\r\n\r\n";
}

} // namespace testsupport
