#include "testsupport/VersionedExecutable.h"

#include "testsupport/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>

namespace testsupport {

void writeVersionedExecutable(const std::string& path, const std::string& version) {
    // Built once per version and copied, so a table of cases stays quick.
    static TempDir cache;
    static std::map<std::string, std::string> built;
    auto found = built.find(version);
    if (found == built.end()) {
        const std::string target = cache / ("morvane-" + std::to_string(built.size()));
        const std::string command =
            "printf 'int main(void){return 0;}' | cc -x c - -o '" + target +
            "' -Xlinker --package-metadata='{\"type\":\"app\",\"name\":\"morvane\",\"version\":\"" +
            version + "\"}'";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("cannot build " + target);
        }
        found = built.emplace(version, target).first;
    }
    std::filesystem::copy_file(found->second, path,
                               std::filesystem::copy_options::overwrite_existing);
}

} // namespace testsupport
