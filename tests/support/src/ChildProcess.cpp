#include "testsupport/ChildProcess.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr auto retryPause = std::chrono::milliseconds(5);
constexpr auto stopLimit = std::chrono::seconds(10);

bool accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

// "NAME=value" lines of the test's environment changed as asked; made
// before the fork, since the child of a threaded test may not allocate.
std::vector<std::string> environmentLines(const Environment& environment) {
    std::vector<std::string> lines;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string line = *variable;
        const std::string name = line.substr(0, line.find('='));
        if (std::find(environment.removed.begin(), environment.removed.end(), name) ==
                environment.removed.end() &&
            !environment.added.contains(name)) {
            lines.push_back(line);
        }
    }
    for (const auto& [name, value] : environment.added) {
        lines.push_back(name + "=" + value);
    }
    return lines;
}

std::vector<char*> pointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const std::string& text : texts) {
        pointers.push_back(const_cast<char*>(text.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

Environment withoutProxies(std::map<std::string, std::string> added) {
    // What curl reads (it ignores HTTP_PROXY, but a child may not be curl)
    // and what tells the proxy library which desktop's settings to read.
    return {{"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
             "no_proxy", "NO_PROXY", "ftp_proxy", "FTP_PROXY", "DESKTOP_SESSION",
             "XDG_CURRENT_DESKTOP", "GNOME_DESKTOP_SESSION_ID", "KDE_FULL_SESSION",
             "GSETTINGS_BACKEND", "PX_CONFIG_ORDER"},
            std::move(added)};
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const std::string& outputFile,
                           const Environment& environment) {
    std::vector<char*> argv = pointersTo(arguments);
    const std::vector<std::string> lines = environmentLines(environment);
    std::vector<char*> envp = pointersTo(lines);
    const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (output < 0) {
        throw std::runtime_error("cannot create " + outputFile);
    }
    m_pid = fork();
    if (m_pid == 0) {
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
        const int input = open("/dev/null", O_RDONLY);
        dup2(input, STDIN_FILENO);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(output);
    if (m_pid < 0) {
        throw std::runtime_error("cannot start " + arguments.front());
    }
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::running() {
    if (m_pid <= 0) {
        return false;
    }
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void ChildProcess::signal(int number) {
    if (m_pid > 0) {
        kill(m_pid, number);
    }
}

void ChildProcess::stop() {
    if (!running()) {
        return;
    }
    kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + stopLimit;
    while (running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(retryPause);
    }
    if (running()) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

ChildProcess::Ending ChildProcess::wait() {
    Ending ending;
    if (m_pid > 0) {
        wait4(m_pid, &ending.status, 0, &ending.usage);
        m_pid = -1;
    }
    return ending;
}

int ChildProcess::exitStatusWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(retryPause);
    }
    stop();
    return -1;
}

bool waitForListener(int port, ChildProcess& child, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (accepts(port)) {
            return true;
        }
        if (!child.running()) {
            return false;
        }
        std::this_thread::sleep_for(retryPause);
    }
    return false;
}

} // namespace testsupport
