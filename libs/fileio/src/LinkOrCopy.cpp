#include "fileio/LinkOrCopy.h"

#include "fileio/Names.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"

#include <cerrno>
#include <fcntl.h>
#include <vector>

namespace fileio {

namespace {

constexpr std::size_t pieceSize = 256 * 1024;
constexpr mode_t modeBits = 07777;

int copyContent(int from, int to) {
    std::vector<char> piece(pieceSize);
    for (off_t offset = 0;;) {
        std::size_t got = 0;
        if (const int error = readAt(from, piece.data(), piece.size(), offset, got)) {
            return error;
        }
        if (const int error = writeAll(to, piece.data(), got)) {
            return error;
        }
        if (got < piece.size()) {
            return 0;
        }
        offset += static_cast<off_t>(got);
    }
}

int copyWithMode(int from, const std::string& to, mode_t mode) {
    UniqueFd out = openFile(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (!out) {
        return errno;
    }
    int error = copyContent(from, out.get());
    // The creation mask may have taken bits the mode asks for.
    if (error == 0 && ::fchmod(out.get(), mode) != 0) {
        error = errno;
    }
    if (!out.close() && error == 0) {
        error = errno;
    }
    if (error != 0) {
        (void)removeFile(to);
    }
    return error;
}

} // namespace

int linkOrCopy(int from, const struct stat& status, const std::string& to, mode_t mode) {
    if ((status.st_mode & modeBits) == mode && linkDescriptor(from, to) == 0) {
        return 0;
    }
    return copyWithMode(from, to, mode);
}

} // namespace fileio
