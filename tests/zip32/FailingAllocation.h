#pragma once

#include "fileio/SystemCalls.h"

#include <string>

namespace zip32test {

// Memory that runs out just after a file is opened. While it lives, a thread
// that opens a file whose path ends with pathEnd has its next allocation
// through operator new fail with std::bad_alloc, unless it closes the file
// first. Opens and closes are watched through the fileio seam, so only what
// the library opens that way counts; operator new is replaced in the test
// program for this.
class FailingAllocation {
public:
    explicit FailingAllocation(std::string pathEnd);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

private:
    static fileio::SystemCalls calls(std::string pathEnd);

    fileio::ReplacedSystemCalls m_replaced;
};

} // namespace zip32test
