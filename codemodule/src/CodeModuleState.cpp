#include "codemodule/CodeModuleState.h"

#include "platform/Error.h"

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

const std::string& libraryFolder() {
    if (!configuredLibraryFolder) {
        platform::raiseError(platform::ErrorNumber::fileNotFound, "CodeModule",
                             "the folder of the libraries is not known");
    }
    return *configuredLibraryFolder;
}

} // namespace CodeModule
