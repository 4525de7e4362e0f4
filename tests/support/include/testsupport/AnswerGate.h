#pragma once

#include <chrono>
#include <functional>
#include <future>

namespace testsupport {

// Holds a test server's answer back until the test lets it go, so that a
// client can be seen waiting for it. Declare it after the server: going
// away, it releases the handler before the server stops.
class AnswerGate {
public:
    AnswerGate() : m_released(m_release.get_future().share()) {}
    ~AnswerGate() { release(); }
    AnswerGate(const AnswerGate&) = delete;
    AnswerGate& operator=(const AnswerGate&) = delete;

    void release() {
        if (!m_done) {
            m_done = true;
            m_release.set_value();
        }
    }

    // For the handler: waits until released (20 s at most). It keeps what
    // it waits on, so it stays safe after the gate has gone.
    std::function<void()> holder() const {
        return [released = m_released] { released.wait_for(std::chrono::seconds(20)); };
    }

private:
    std::promise<void> m_release;
    std::shared_future<void> m_released;
    bool m_done = false;
};

} // namespace testsupport
