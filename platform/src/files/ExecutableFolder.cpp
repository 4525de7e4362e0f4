#include "platform/files/ExecutableFolder.h"

#include "platform/Error.h"

#include <filesystem>
#include <system_error>

namespace platform {

std::string executableFolder() {
    std::error_code failure;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failure);
    if (failure) {
        throw makeError(ErrorNumber::pathNotFound, "executableFolder",
                        "/proc/self/exe (" + failure.message() + ")");
    }
    std::string folder = program.parent_path().string();
    // The root folder gives the empty text, so that "/temp" stays a path.
    while (!folder.empty() && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

} // namespace platform
