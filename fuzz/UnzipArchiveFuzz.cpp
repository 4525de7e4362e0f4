// The unzip library on any archive bytes, in its three modes: list, test and
// extract (folders kept, files replaced). Besides crashes it checks that no
// entry was written outside the extraction folder.

#include "unzip32test/UnzipHarness.h"

#include "FuzzSandbox.h"
#include "LocalTimeZone.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string& sandbox() {
    return fuzzSandbox("unzip-fuzz");
}

int32_t runMode(const std::string& archive, const std::string& folder, int mode) {
    unzip32test::UnzipCall call;
    call.options.quietLevel = 2;
    call.options.listContents = mode == 0 ? 1 : 0;
    call.options.testOnly = mode == 1 ? 1 : 0;
    call.password = [](const std::string&) { return std::optional<std::string>("secret"); };
    return call.run(archive, folder);
}

// Where an entry name would land if taken literally, when that is outside
// the folder.
std::set<fs::path> escapes(const std::string& archive, const std::string& folder) {
    unzip32test::UnzipCall call;
    call.options.listContents = 1;
    call.run(archive, folder);
    std::set<fs::path> outside;
    for (const auto& entry : call.listed) {
        std::string name = entry.name;
        for (char& c : name) {
            c = c == '\\' ? '/' : c;
        }
        const fs::path target = (fs::path(folder) / name).lexically_normal();
        const fs::path relative = target.lexically_relative(folder);
        if (name.starts_with('/') || relative.empty() || *relative.begin() == "..") {
            outside.insert(name.starts_with('/') ? fs::path(name).lexically_normal() : target);
        }
    }
    return outside;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    readLocalTimeZoneOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string archive = sandbox() + "/input.zip";
    const std::string folder = sandbox() + "/out";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    std::ofstream(archive, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    std::set<fs::path> before;
    for (const fs::path& target : escapes(archive, folder)) {
        if (fs::exists(fs::symlink_status(target))) {
            before.insert(target);
        }
    }
    for (int mode = 0; mode < 3; ++mode) {
        runMode(archive, folder, mode);
    }
    for (const fs::path& target : escapes(archive, folder)) {
        if (!before.contains(target) && fs::exists(fs::symlink_status(target))) {
            std::abort(); // an entry escaped the extraction folder
        }
    }
    return 0;
}
