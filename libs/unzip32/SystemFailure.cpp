#include "SystemFailure.h"

#include "JobError.h"
#include "unzip32.h"

#include <cerrno>
#include <cstring>

namespace unzip32 {

std::string systemReason(int error) {
    char buffer[256] = {};
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

int32_t writeFailureCode(int error) {
    return error == ENOSPC || error == EDQUOT ? UZP_DISK_FULL : UZP_WRITE_FAILED;
}

void throwSystemFailure(int error, const std::string& what) {
    const std::string message = what + ": " + systemReason(error);
    if (writeFailureCode(error) == UZP_DISK_FULL) {
        throw JobStop(UZP_DISK_FULL, message);
    }
    throw EntryFault(UZP_WRITE_FAILED, message);
}

} // namespace unzip32
