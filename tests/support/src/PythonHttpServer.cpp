#include "testsupport/PythonHttpServer.h"

namespace testsupport {

PythonHttpServer::PythonHttpServer(const std::string& root) {
    start({"python3", "-u", "-m", "http.server", std::to_string(port()), "--bind", "127.0.0.1",
           "--directory", root});
}

} // namespace testsupport
