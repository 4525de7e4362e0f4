#include "testsupport/RawHttpServer.h"

#include <cstdio>

namespace testsupport {

RawHttpServer::RawHttpServer(RawReply reply)
    : m_reply(std::move(reply)),
      m_server([this](const std::string& head, ServerConnection& c) { answer(head, c); }) {}

std::vector<std::string> RawHttpServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void RawHttpServer::answer(const std::string& head, ServerConnection& connection) {
    {
        // Recorded before answering, so a client that has its answer finds
        // its request here.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(head);
    }
    connection.send(m_reply.bytes);
    if (m_reply.reset) {
        connection.reset();
    }
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
