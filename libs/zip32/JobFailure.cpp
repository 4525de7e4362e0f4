#include "JobFailure.h"

#include "zip32.h"

#include <cerrno>
#include <cstring>

namespace zip32 {

std::string systemReason(int error) {
    char buffer[256] = {};
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

int32_t writeFailureCode(int error) {
    return error == ENOSPC || error == EDQUOT ? ZP_DISK_FULL : ZP_WRITE_FAILED;
}

} // namespace zip32
