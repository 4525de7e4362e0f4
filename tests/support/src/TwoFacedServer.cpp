#include "testsupport/TwoFacedServer.h"

#include <algorithm>
#include <fstream>
#include <utility>

namespace testsupport {

namespace {

const std::string packagePath = "/clientfiles/morvane/morvane.zip";
constexpr std::uint64_t piece = 64 * 1024;

void put(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

} // namespace

TwoFacedServer::TwoFacedServer(std::string version, std::string wholePath, std::string rangedPath)
    : m_version(std::move(version)), m_wholePath(std::move(wholePath)),
      m_rangedPath(std::move(rangedPath)),
      m_server([this](const std::string& head, ServerConnection& c) { answer(head, c); }) {}

void TwoFacedServer::answer(const std::string& head, ServerConnection& connection) {
    if (requestPath(head) != packagePath) {
        connection.send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                        std::to_string(m_version.size()) + "\r\n\r\n" + m_version);
        return;
    }
    const std::string asked = "Range: bytes=";
    const std::size_t range = head.find(asked);
    const bool whole = range == std::string::npos || head.find(asked + "0-\r\n") == range;
    std::ifstream package(whole ? m_wholePath : m_rangedPath, std::ios::binary);
    package.seekg(0, std::ios::end);
    const auto size = static_cast<std::uint64_t>(package.tellg());
    std::uint64_t first = 0;
    std::uint64_t last = size - 1;
    if (!whole) {
        first = std::stoull(head.substr(range + asked.size()));
        last = std::min<std::uint64_t>(
            last, std::stoull(head.substr(head.find('-', range + asked.size()) + 1)));
    }
    connection.send("HTTP/1.1 206 Partial Content\r\nConnection: close\r\nContent-Length: " +
                    std::to_string(last - first + 1) + "\r\nContent-Range: bytes " +
                    std::to_string(first) + "-" + std::to_string(last) + "/" +
                    std::to_string(size) + "\r\n\r\n");
    std::string bytes(piece, '\0');
    package.seekg(static_cast<std::streamoff>(first));
    for (std::uint64_t at = first; at <= last; at += piece) {
        const std::uint64_t length = std::min(piece, last + 1 - at);
        bytes.resize(length);
        package.read(bytes.data(), static_cast<std::streamsize>(length));
        if (!connection.send(bytes)) {
            return;
        }
        m_sent += length;
    }
}

std::string withOneRecord(const std::string& package, const DirectoryRecord& kept, bool claimSpan) {
    std::string record = package.substr(kept.recordOffset, kept.recordSize);
    // Bytes in place of the other records, before the directory: the
    // entry's span runs over them too.
    const std::uint64_t padding = package.size() - kept.directoryOffset - record.size() - 22;
    const std::uint64_t directoryOffset = kept.directoryOffset + padding;
    if (claimSpan) {
        const std::uint64_t nameLength =
            static_cast<unsigned char>(record[28]) | static_cast<unsigned char>(record[29]) << 8;
        const std::uint64_t size = directoryOffset - 30 - nameLength - 1000;
        put(record, 20, size, 4);
        put(record, 24, size, 4);
    }
    std::string end(22, '\0');
    end.replace(0, 4, "PK\x05\x06");
    put(end, 8, 1, 2);
    put(end, 10, 1, 2);
    put(end, 12, record.size(), 4);
    put(end, 16, directoryOffset, 4);
    return package.substr(0, kept.directoryOffset) + std::string(padding, ' ') + record + end;
}

} // namespace testsupport
