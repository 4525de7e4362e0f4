#include "platform/ReplacementFile.h"

#include "fileio/Writing.h"
#include "platform/Error.h"
#include "platform/PathText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace platform {
namespace {

constexpr size_t nameLimit = 255;
constexpr std::string_view uniqueSuffix = ".XXXXXX";
constexpr size_t bufferSize = 64 * 1024;

// A hidden name beside the target, short enough for any file system.
std::string temporaryPattern(const std::string& target) {
    const std::string name = nameOf(target).substr(0, nameLimit - 1 - uniqueSuffix.size());
    return joinPath(folderOf(target), "." + name + std::string(uniqueSuffix));
}

} // namespace

ReplacementFile::ReplacementFile(const std::string& target, std::string source)
    : m_target(target), m_source(std::move(source)), m_temporaryPath(temporaryPattern(target)) {
    m_fd.reset(mkostemp(m_temporaryPath.data(), O_CLOEXEC));
    if (!m_fd) {
        throw systemError(errno, m_source, folderOf(target));
    }
}

ReplacementFile::~ReplacementFile() {
    if (!m_committed) {
        m_fd.reset();
        unlink(m_temporaryPath.c_str());
    }
}

void ReplacementFile::copyFrom(int input, const std::string& inputPath) {
    std::vector<char> buffer(bufferSize);
    for (;;) {
        const ssize_t got = read(input, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw systemError(errno, m_source, inputPath);
        }
        if (got == 0) {
            return;
        }
        if (const int error =
                fileio::writeAll(m_fd.get(), buffer.data(), static_cast<size_t>(got))) {
            throw systemError(error, m_source, m_temporaryPath);
        }
    }
}

void ReplacementFile::finish(mode_t permissions) {
    if (fchmod(m_fd.get(), permissions) != 0 || fsync(m_fd.get()) != 0 || !m_fd.close()) {
        throw systemError(errno, m_source, m_temporaryPath);
    }
}

void ReplacementFile::commit() {
    if (rename(m_temporaryPath.c_str(), m_target.c_str()) != 0) {
        throw systemError(errno, m_source, m_target);
    }
    m_committed = true;
    // Make the new name itself durable; the content already is.
    const fileio::UniqueFd folder(
        open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) {
        fsync(folder.get());
    }
}

} // namespace platform
