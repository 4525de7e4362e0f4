#include "testsupport/ServerProcess.h"

#include "testsupport/LoopbackServer.h"

#include <filesystem>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

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

namespace testsupport {

std::string ServerProcess::filled(std::string text,
                                  const std::vector<std::pair<std::string, std::string>>& fields) {
    for (const auto& [name, value] : fields) {
        for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
            text.replace(at, name.size(), value);
            at += value.size();
        }
    }
    return text;
}

std::string ServerProcess::included(const std::string& pattern, const std::string& settings) {
    if (settings.empty()) {
        return {};
    }
    std::string line = pattern;
    line.replace(line.find('@'), 1, settings);
    return line;
}

void ServerProcess::handFolderTo(const std::string& user) const {
    const passwd* account = getpwnam(user.c_str());
    if (geteuid() != 0 || account == nullptr) {
        return;
    }
    const auto own = [&](const std::string& path) {
        if (chown(path.c_str(), account->pw_uid, account->pw_gid) != 0) {
            throw std::runtime_error("cannot give " + path + " to " + user);
        }
    };
    own(m_folder.path());
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_folder.path())) {
        own(entry.path().string());
    }
}

} // namespace testsupport
