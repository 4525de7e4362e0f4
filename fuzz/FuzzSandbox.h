#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

// A folder of the fuzz target's own, made on first use and kept for the
// whole run, then removed when the run ends (a run that stops on a finding
// leaves it for a look). It lies in memory (/dev/shm) where the system has
// that: every execution makes, syncs and deletes files, and on a disk shared
// with other work one sync can take longer than the rest of the execution.
// Elsewhere it lies under the system's temporary folder.
inline const std::string& fuzzSandbox(const char* name) {
    struct Sandbox {
        std::string path;
        explicit Sandbox(const char* prefix) {
            for (const std::string& parent :
                 {std::string("/dev/shm"), std::filesystem::temp_directory_path().string()}) {
                std::string pattern = parent + "/" + prefix + "-XXXXXX";
                if (mkdtemp(pattern.data()) != nullptr) {
                    path = pattern;
                    return;
                }
            }
            std::abort();
        }
        ~Sandbox() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Sandbox sandbox(name);
    return sandbox.path;
}
