#include "JobFailure.h"

#include "fileio/Failure.h"
#include "zip32.h"

namespace zip32 {

int32_t writeFailureCode(int error) {
    return fileio::isDiskFull(error) ? ZP_DISK_FULL : ZP_WRITE_FAILED;
}

} // namespace zip32
