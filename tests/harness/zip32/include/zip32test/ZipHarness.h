#pragma once

#include "zip32.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zip32test {

// The entry points of the library.
struct ZipApi {
    int32_t (*init)(const ZpCallbacks*);
    int32_t (*setOptions)(const ZpOptions*);
    int32_t (*getOptions)(ZpOptions*);
    int32_t (*archive)(int32_t, const char*, const char* const*);
    int32_t (*setChunking)(const ZpChunking*);
};

// One chunk as the chunk callback reported it.
struct ReportedChunk {
    std::string entry;
    uint64_t uncompressed = 0;
    uint64_t compressed = 0;

    bool operator==(const ReportedChunk&) const = default;
};
// The real libzip32.so, loaded with dlopen.
const ZipApi& loadedZipApi();
// The same code linked into the tests, whose file writes the tests can fail
// through the fileio seam.
ZipApi linkedZipApi();

// One call of the library with every callback recorded; the callbacks answer
// as the test sets them up.
class ZipCall {
public:
    explicit ZipCall(const ZipApi& api = loadedZipApi()) : m_api(api) {}

    ZpOptions options{};
    // Handed over on every run (its callback replaced by the recording
    // one), so that none lingers from an earlier call; all zero chunks none.
    ZpChunking chunking{};
    // The chunk callback stops the call at this many chunks; 0 never does.
    std::size_t stopAtChunk = 0;
    // Nothing gives none.
    std::optional<std::string> password;
    // What the comment callback returns; nothing returns null.
    std::optional<std::string> comment;
    // The service callback stops the call at this entry name.
    std::string stopAtEntry;
    // Called by the service callback with each entry name, after the files
    // are chosen and before any is read.
    std::function<void(const std::string&)> atEntry;

    // The names go after the placeholder the program always sends first.
    int32_t run(const std::string& archive, const std::string& root,
                const std::vector<std::string>& names);

    // The root of the running or last call.
    const std::string& root() const { return m_root; }

    std::string printed;
    std::vector<std::string> serviced;
    std::vector<ReportedChunk> chunks;
    std::string commentOffered;
    int passwordAsks = 0;

private:
    ZipApi m_api;
    std::string m_root;
};

// Name to content of every entry of an archive, read (and CRC-checked) with
// libzip; folders give "<folder>". Throws when the archive cannot be read.
std::map<std::string, std::string> archiveEntries(const std::string& archive);

// The files of a folder other than the ones named: leftover temporary files.
std::vector<std::string> strayFiles(const std::string& folder,
                                    const std::vector<std::string>& expected);

// Sets a file's modification time.
void setModified(const std::string& path, std::time_t when);

} // namespace zip32test
