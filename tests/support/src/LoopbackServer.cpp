#include "testsupport/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

LoopbackServer::LoopbackServer() {
    // Recorded before the answer goes out (the logger runs after it), so a
    // client that has its answer always finds its request recorded.
    m_server.set_post_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back({req.method, req.path, req.headers, req.body});
    });
}

LoopbackServer::~LoopbackServer() {
    stop();
}

void LoopbackServer::start() {
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    while (!m_server.is_running()) {
        std::this_thread::yield();
    }
}

void LoopbackServer::stop() {
    if (m_thread.joinable()) {
        m_server.stop();
        m_thread.join();
    }
}

std::string LoopbackServer::host() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<ReceivedRequest> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int refusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("cannot find a free port");
    }
    int port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

} // namespace testsupport
