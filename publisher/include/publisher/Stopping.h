#pragma once

#include <atomic>
#include <ostream>
#include <signal.h>
#include <string>
#include <thread>

namespace publisher {

// While one lives, SIGINT, SIGTERM and SIGHUP do not end the process where it
// stands: a thread of its own takes them, waits for the served files to be
// replaced if that is under way, removes what the run has made and not
// served (its staging folder, folders made for the served files), says so on
// say, with notDone ("nothing published") or what the run had done by then,
// and ends the process with 128 + the signal's number. Made before any other
// thread, which then takes none of these signals either.
class StopOnSignals {
public:
    StopOnSignals(std::ostream& say, std::string notDone);
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    void waitForSignal();

    std::ostream& m_say;
    std::string m_notDone;
    sigset_t m_signals{};
    sigset_t m_previous{};
    std::atomic<bool> m_ending{false};
    std::thread m_thread;
};

} // namespace publisher
