#pragma once

#include "testsupport/ServerProcess.h"

#include <string>

namespace testsupport {

// Python's plain file server serving the files under root. It ignores range
// requests and answers 200 with the whole file.
class PythonHttpServer : public ServerProcess {
public:
    explicit PythonHttpServer(const std::string& root);

    // One line per request with its status; complete once it is stopped.
    std::string log() const { return output(); }
};

} // namespace testsupport
