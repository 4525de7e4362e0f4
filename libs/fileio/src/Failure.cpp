#include "fileio/Failure.h"

#include <cerrno>
#include <cstring>

namespace fileio {

std::string systemReason(int error) {
    char buffer[256] = {};
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

bool isDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT;
}

} // namespace fileio
