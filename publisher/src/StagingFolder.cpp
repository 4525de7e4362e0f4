#include "StagingFolder.h"

#include "fileio/Writing.h"
#include "publisher/PublishError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <vector>

namespace publisher {

namespace {

std::string reasonOf(int errnoValue) {
    return std::strerror(errnoValue);
}

} // namespace

StagingFolder::StagingFolder(const std::string& servedFolder) {
    std::string pattern = servedFolder + "/.publishing-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        throw PublishError("cannot write to " + servedFolder + ": " + reasonOf(errno));
    }
    m_path = name.data();
}

StagingFolder::~StagingFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void writeNewFile(const std::string& path, const std::string& text) {
    fileio::UniqueFd file = fileio::openFile(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    int failure = file ? 0 : errno;
    if (failure == 0) {
        failure = fileio::writeAll(file.get(), text);
    }
    if (failure == 0) {
        failure = fileio::syncFile(file.get());
    }
    if (failure == 0 && !file.close()) {
        failure = errno;
    }
    if (failure != 0) {
        throw PublishError("cannot write " + path + ": " + reasonOf(failure));
    }
}

} // namespace publisher
