#pragma once

#include <sched.h>

namespace testsupport {

// While it lives, the calling thread, and every thread it starts, runs on
// one processor: work a library would spread over threads then happens one
// piece after another, in a fixed order.
class OneProcessor {
public:
    OneProcessor() {
        m_pinned = ::sched_getaffinity(0, sizeof m_before, &m_before) == 0;
        if (!m_pinned) {
            return;
        }
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &m_before)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        m_pinned = ::sched_setaffinity(0, sizeof one, &one) == 0;
    }
    ~OneProcessor() {
        if (m_pinned) {
            ::sched_setaffinity(0, sizeof m_before, &m_before);
        }
    }
    OneProcessor(const OneProcessor&) = delete;
    OneProcessor& operator=(const OneProcessor&) = delete;

private:
    cpu_set_t m_before{};
    bool m_pinned = false;
};

} // namespace testsupport
