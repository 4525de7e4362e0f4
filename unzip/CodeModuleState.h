#pragma once

#include "platform/Toolkit.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Program-wide state of the module that calls the two zip libraries, shared
// by its zip and unzip halves.
namespace CodeModule {

struct State {
    std::string lastMessage;     // what the library printed during the latest call
    std::string unzipPrintText;  // the unzip print callback's gathered text
    int16_t passwordRefused = 0; // 1 once the user gave no password in this call
};

State& state();

// The toolkit whose boxes the callbacks show.
void useToolkit(platform::Toolkit& toolkit);
platform::Toolkit& toolkit();

// Where the libraries are loaded from: the installation folder, unless a
// test points elsewhere.
void setLibraryFolder(const std::string& folder);
std::string libraryFolder();

// The address as it goes into a callback record.
template <typename Address> Address CallbackAddress(Address address) {
    return address;
}

// Text the library handed over: bytes as they come, up to the first zero
// byte and never more than maxBytes.
std::string libraryText(const char* bytes, std::size_t maxBytes);

} // namespace CodeModule
