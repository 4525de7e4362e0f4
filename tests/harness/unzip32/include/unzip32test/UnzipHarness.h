#pragma once

#include "unzip32.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace unzip32test {

// The two entry points of the real library: loaded with dlopen for the
// library's tests (LoadedLibrary.cpp), linked in for the tests that fail its
// system calls (tests/unzip32_seam/LinkedLibrary.cpp).
struct UnzipApi {
    int32_t (*version)(UzpVersionRecord*);
    int32_t (*unzip)(int32_t, const char* const*, int32_t, const char* const*, const UzpOptions*,
                     UzpCallbacks*);
};
const UnzipApi& unzipApi();

struct ListedEntry {
    uint32_t size;
    uint32_t compressedSize;
    int32_t percent;
    uint32_t month, day, year, hour, minute;
    char kind;
    std::string name;
    std::string method;
    uint32_t crc;
    char encrypted;
};

// One call of the library with every callback recorded; the callbacks
// answer as the test sets them up.
class UnzipCall {
public:
    UnzipCall();

    // Extraction into folder with folders kept and files overwritten, every
    // message shown; tests change what they need.
    UzpOptions options{};
    std::vector<std::string> includes;
    std::vector<std::string> excludes;
    // Answers of the overwrite callback, in turn; 102 once they run out.
    std::vector<int32_t> overwriteAnswers;
    // The password for an entry, or nothing to give none.
    std::function<std::optional<std::string>(const std::string& entryName)> password;
    // The service callback stops the job at this entry name.
    std::string stopAtEntry;

    int32_t run(const std::string& archive, const std::string& folder);
    // With the extraction folder pointer left null.
    int32_t runWithoutFolder(const std::string& archive);

    std::string printed;
    std::vector<std::string> overwriteAsked;
    std::vector<std::string> passwordAsked;
    std::vector<ListedEntry> listed;
    std::vector<std::string> serviced;
    int sounds = 0;
    UzpCallbacks callbacks{};

private:
    int32_t call(const std::string& archive, const char* folder);
};

} // namespace unzip32test
