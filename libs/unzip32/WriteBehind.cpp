#include "WriteBehind.h"

#include <utility>

namespace unzip32 {

WriteBehind::WriteBehind(PendingFile& file) : m_file(file), m_thread([this] { serve(); }) {}

WriteBehind::~WriteBehind() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void WriteBehind::write(std::string_view piece) {
    {
        std::unique_lock lock(m_mutex);
        settle(lock);
        m_piece = piece;
        m_waiting = true;
    }
    m_changed.notify_all();
}

void WriteBehind::finish() {
    std::unique_lock lock(m_mutex);
    settle(lock);
}

void WriteBehind::settle(std::unique_lock<std::mutex>& lock) {
    m_changed.wait(lock, [this] { return !m_waiting; });
    if (m_failure) {
        std::rethrow_exception(std::exchange(m_failure, nullptr));
    }
}

void WriteBehind::serve() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_waiting; });
        if (m_quit) {
            return;
        }
        const std::string_view piece = m_piece;
        lock.unlock();
        std::exception_ptr failure;
        try {
            m_file.write(piece);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        m_failure = failure;
        m_waiting = false;
        m_changed.notify_all();
    }
}

} // namespace unzip32
