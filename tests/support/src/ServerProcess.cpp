#include "testsupport/ServerProcess.h"

#include "testsupport/LoopbackServer.h"

#include <stdexcept>

namespace testsupport {

namespace {

constexpr auto startLimit = std::chrono::seconds(20);

} // namespace

ServerProcess::ServerProcess() : m_port(refusedPort()) {}

ServerProcess::~ServerProcess() {
    stop();
}

std::string ServerProcess::host() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

void ServerProcess::stop() {
    if (m_process) {
        m_process->stop();
    }
}

void ServerProcess::start(const std::vector<std::string>& arguments) {
    m_process = std::make_unique<ChildProcess>(arguments, m_folder / "output.log");
    if (!waitForListener(m_port, *m_process, startLimit)) {
        throw std::runtime_error(arguments.front() + " did not start: " + output());
    }
}

std::string ServerProcess::output() const {
    return readFile(m_folder / "output.log");
}

} // namespace testsupport
