#pragma once

#include "platform/toolkit/Toolkit.h"

#include <cstdint>
#include <string>
#include <vector>

// Program-wide state of the module that calls the two zip libraries, shared
// by its zip and unzip halves.
namespace CodeModule {

// One chunk of an entry the zip library deflated in chunks, as it reported it.
struct ZipChunk {
    std::string entryName;
    uint64_t uncompressedLength = 0;
    uint64_t compressedLength = 0;

    bool operator==(const ZipChunk&) const = default;
};

struct State {
    std::string lastMessage;         // what the library printed during the latest call
    std::vector<ZipChunk> zipChunks; // the chunks the zip library reported in its latest call
    std::string unzipPrintText;      // the unzip print callback's gathered text
    int16_t passwordRefused = 0;     // 1 once the user gave no password in this call
};

State& state();

// The toolkit whose boxes the callbacks show.
void useToolkit(platform::Toolkit& toolkit);
platform::Toolkit& toolkit();

// Where the libraries are loaded from: the installation folder of the
// window's settings, which the program's start hands over (tests point
// elsewhere). Until it is set, a library cannot be found (error 53).
void setLibraryFolder(const std::string& folder);
const std::string& libraryFolder();

// The address as it goes into a callback record.
template <typename Address> Address CallbackAddress(Address address) {
    return address;
}

} // namespace CodeModule
