#include "publisher/Stopping.h"

#include "RunLeftovers.h"

#include <cstdio>
#include <pthread.h>
#include <unistd.h>

namespace publisher {

namespace {

const char* signalName(int number) {
    switch (number) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "SIGHUP";
    }
}

} // namespace

StopOnSignals::StopOnSignals(std::ostream& say, std::string notDone)
    : m_say(say), m_notDone(std::move(notDone)) {
    sigemptyset(&m_signals);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&m_signals, number);
    }
    pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
    m_thread = std::thread([this] { waitForSignal(); });
}

StopOnSignals::~StopOnSignals() {
    m_ending = true;
    pthread_kill(m_thread.native_handle(), SIGTERM);
    m_thread.join();
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

void StopOnSignals::waitForSignal() {
    int number = 0;
    if (sigwait(&m_signals, &number) != 0 || m_ending) {
        return;
    }
    const RunLeftovers::Stop stop = RunLeftovers::instance().takeAway();
    std::fflush(stdout);
    for (const std::string& line : stop.lines) {
        m_say << "morvane-publish: " << line << '\n';
    }
    m_say << "morvane-publish: stopped by " << signalName(number) << ": "
          << (stop.done.empty() ? m_notDone : stop.done + " before the stop") << std::endl;
    std::fflush(stderr);
    ::_exit(128 + number);
}

} // namespace publisher
