#pragma once

#include "testsupport/ScriptedHttpServer.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace testsupport {

// A publisher on loopback that answers a request for the whole package
// ("Range: bytes=0-") with one package file and every other range request
// with another of the same size, each with its Content-Range, as nginx
// would; any other path gets the version text. The packages are read from
// their files piece by piece, never held (a benchmark measures the memory
// of the programs it starts). It counts every byte of the packages it sent.
class TwoFacedServer {
public:
    TwoFacedServer(std::string version, std::string wholePath, std::string rangedPath);

    std::string host() const { return m_server.host(); }
    std::uint64_t packageBytesSent() const { return m_sent; }

private:
    void answer(const std::string& head, ServerConnection& connection);

    std::string m_version;
    std::string m_wholePath;
    std::string m_rangedPath;
    std::atomic<std::uint64_t> m_sent{0};
    // Last, so that it stops serving before the rest goes.
    ScriptedHttpServer m_server;
};

// Where a package's directory lies and one of its central records.
struct DirectoryRecord {
    std::uint64_t directoryOffset = 0;
    std::uint64_t recordOffset = 0;
    std::uint64_t recordSize = 0;
};

// The package with its directory cut down to that one record, kept at its
// size by bytes put before the directory: the entry's span then runs over
// every other entry and those bytes, to the directory. With claimSpan the
// record also says the entry is nearly that long (its sizes, not its
// CRC-32).
std::string withOneRecord(const std::string& package, const DirectoryRecord& kept, bool claimSpan);

} // namespace testsupport
