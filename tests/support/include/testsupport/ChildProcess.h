#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// What a child's environment differs in from the test's own: variables
// taken away, then variables set.
struct Environment {
    std::vector<std::string> removed;
    std::map<std::string, std::string> added;
};

// The environment without a proxy or a desktop's proxy settings of the
// machine the tests run on: a child reaches loopback servers directly unless
// the test adds its own.
Environment withoutProxies(std::map<std::string, std::string> added = {});

// A program started for a test, its standard output and error going to a
// file. It is stopped (its own process id only) when the object goes away.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments, const std::string& outputFile,
                 const Environment& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    struct Ending {
        int status = 0; // as waitpid reports it
        rusage usage{}; // the program's own CPU time and peak memory
    };

    bool running();
    // Sends the program a signal, while it runs.
    void signal(int number);
    // Asks the program to end and waits for it.
    void stop();
    // Waits for the program to end by itself.
    Ending wait();
    // Waits at most limit for the program to end by itself; its exit status,
    // or -1 when it was killed or had to be stopped.
    int exitStatusWithin(std::chrono::milliseconds limit);

private:
    pid_t m_pid = -1;
};

// Waits until something accepts connections on 127.0.0.1:port, retrying
// every few milliseconds; false when the child ends first or after limit.
bool waitForListener(int port, ChildProcess& child, std::chrono::milliseconds limit);

} // namespace testsupport
