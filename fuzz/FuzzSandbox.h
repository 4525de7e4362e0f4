#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

// A folder of the fuzz target's own under the system's temporary folder,
// made on first use and kept for the whole run.
inline const std::string& fuzzSandbox(const char* name) {
    static const std::string root = [name] {
        std::string pattern =
            std::filesystem::temp_directory_path().string() + "/" + name + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return pattern;
    }();
    return root;
}
