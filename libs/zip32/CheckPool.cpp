#include "CheckPool.h"

#include <algorithm>
#include <utility>

namespace zip32 {

CheckPool::CheckPool(std::size_t threads) {
    try {
        for (std::size_t i = 0; i < std::max<std::size_t>(threads, 1); ++i) {
            m_threads.emplace_back([this] { serve(); });
        }
    } catch (...) {
        // Fewer threads, or none, do the same work, only later.
    }
}

CheckPool::~CheckPool() {
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
        m_waiting.clear();
    }
    m_arrived.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void CheckPool::run(std::function<void()> work) {
    if (m_threads.empty()) {
        work();
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(std::move(work));
    }
    m_arrived.notify_one();
}

void CheckPool::serve() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(m_mutex);
            m_arrived.wait(lock, [this] { return m_closing || !m_waiting.empty(); });
            if (m_closing) {
                return;
            }
            work = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        work();
    }
}

} // namespace zip32
