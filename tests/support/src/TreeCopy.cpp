#include "testsupport/TreeCopy.h"

#include "testsupport/ChildProcess.h"

#include <stdexcept>
#include <sys/wait.h>

namespace testsupport {

void copyTree(const std::string& from, const std::string& to) {
    ChildProcess copy({"cp", "-a", "--", from, to}, "/dev/null");
    const int status = copy.wait().status;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("cp -a " + from + " " + to + " failed");
    }
}

} // namespace testsupport
