#include "platform/shell/DesktopShell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

namespace {

bool isExecutableFile(const std::string& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(file.c_str(), X_OK) == 0;
}

// Runs in the child between fork and exec: only calls that are safe there.
[[noreturn]] void becomeDetached(const char* workingFolder, const char* program, char* const* argv,
                                 bool searchPath) {
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2) {
            ::close(null);
        }
    }
    if (::chdir(workingFolder) != 0) {
        ::_exit(127);
    }
    if (searchPath) {
        ::execvp(program, argv);
    } else {
        ::execv(program, argv);
    }
    ::_exit(127);
}

} // namespace

void DesktopShell::open(const std::string& file, const std::string& workingFolder) {
    const bool direct = isExecutableFile(file);
    std::string program = direct ? file : std::string("xdg-open");
    std::vector<std::string> args =
        direct ? std::vector<std::string>{file} : std::vector<std::string>{"xdg-open", file};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    // Two forks: the grandchild is adopted by init, so nothing is left for
    // this program to reap and it never waits for what it started.
    const pid_t child = ::fork();
    if (child < 0) {
        return;
    }
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            ::_exit(0);
        }
        becomeDetached(workingFolder.c_str(), program.c_str(), argv.data(), !direct);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace platform
