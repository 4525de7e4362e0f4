#include "unzip/CodeModuleState.h"

#include "platform/Error.h"
#include "platform/ExecutableFolder.h"

#include <optional>

namespace CodeModule {

namespace {

platform::Toolkit* currentToolkit = nullptr;
std::optional<std::string> configuredLibraryFolder;

} // namespace

State& state() {
    static State moduleState;
    return moduleState;
}

void useToolkit(platform::Toolkit& toolkit) {
    currentToolkit = &toolkit;
}

platform::Toolkit& toolkit() {
    if (currentToolkit == nullptr) {
        platform::raiseError(platform::ErrorNumber::invalidCall, "CodeModule",
                             "no window toolkit to ask the user with");
    }
    return *currentToolkit;
}

void setLibraryFolder(const std::string& folder) {
    configuredLibraryFolder = folder;
}

std::string libraryFolder() {
    return configuredLibraryFolder ? *configuredLibraryFolder : platform::executableFolder();
}

std::string libraryText(const char* bytes, std::size_t maxBytes) {
    std::string text;
    if (bytes == nullptr) {
        return text;
    }
    for (std::size_t i = 0; i < maxBytes && bytes[i] != '\0'; ++i) {
        text.push_back(bytes[i]);
    }
    return text;
}

} // namespace CodeModule
