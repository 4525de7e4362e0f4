#include "SystemFailure.h"

#include "JobError.h"
#include "fileio/Failure.h"
#include "unzip32.h"

namespace unzip32 {

int32_t writeFailureCode(int error) {
    return fileio::isDiskFull(error) ? UZP_DISK_FULL : UZP_WRITE_FAILED;
}

void throwSystemFailure(int error, const std::string& what) {
    const std::string message = what + ": " + fileio::systemReason(error);
    if (fileio::isDiskFull(error)) {
        throw JobStop(UZP_DISK_FULL, message);
    }
    throw EntryFault(UZP_WRITE_FAILED, message);
}

} // namespace unzip32
