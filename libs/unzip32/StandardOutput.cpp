#include "StandardOutput.h"

#include "JobError.h"
#include "SystemFailure.h"
#include "fileio/Failure.h"
#include "fileio/Writing.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace unzip32 {

namespace {

// Holds SIGPIPE back from this thread while it writes, and swallows the one a
// write to a closed pipe raised.
class BrokenPipeGuard {
public:
    BrokenPipeGuard() {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
    }
    ~BrokenPipeGuard() {
        if (m_brokenPipe && !m_wasPending) {
            const timespec noWait{};
            sigtimedwait(&m_pipe, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    BrokenPipeGuard(const BrokenPipeGuard&) = delete;
    BrokenPipeGuard& operator=(const BrokenPipeGuard&) = delete;

    void noteBrokenPipe() { m_brokenPipe = true; }

private:
    sigset_t m_pipe{};
    sigset_t m_previous{};
    bool m_wasPending = false;
    bool m_brokenPipe = false;
};

} // namespace

void writeToStandardOutput(std::string_view data) {
    BrokenPipeGuard guard;
    if (const int error = fileio::writeAll(STDOUT_FILENO, data)) {
        if (error == EPIPE) {
            guard.noteBrokenPipe();
        }
        throw JobStop(writeFailureCode(error),
                      "cannot write to standard output: " + fileio::systemReason(error));
    }
}

} // namespace unzip32
