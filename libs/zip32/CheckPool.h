#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zip32 {

// Threads that run work handed to them in the order it came, so that a walk
// through an archive goes on while the entries it found are read through.
// What a piece of work yields travels back through its own future (a
// std::packaged_task): nothing here ever throws out of a thread.
class CheckPool {
public:
    // At least one thread; where none can be started, run() does the work
    // on the calling thread.
    explicit CheckPool(std::size_t threads);
    // Drops the work not yet begun and waits for the work under way.
    ~CheckPool();
    CheckPool(const CheckPool&) = delete;
    CheckPool& operator=(const CheckPool&) = delete;

    void run(std::function<void()> work);

private:
    void serve();

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::function<void()>> m_waiting;
    bool m_closing = false;
    std::vector<std::thread> m_threads;
};

} // namespace zip32
