#pragma once

#include "PendingFile.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>

namespace unzip32 {

// Writes the pieces of one large file on a thread of its own while the
// next piece is inflated into another buffer, so that a single large entry
// keeps two processors busy. A piece handed over must stay as it is until
// the next one is handed over or the file is finished.
class WriteBehind {
public:
    explicit WriteBehind(PendingFile& file);
    // Stops the thread; a piece not yet written is dropped with the file.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Waits until the piece before is written, then hands this one over;
    // raises what writing the piece before raised.
    void write(std::string_view piece);
    // Waits until every piece is written; raises what writing one raised.
    void finish();

private:
    void serve();
    // With the lock held: waits for the piece handed over to be written.
    void settle(std::unique_lock<std::mutex>& lock);

    PendingFile& m_file;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string_view m_piece;
    bool m_waiting = false;
    bool m_quit = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

} // namespace unzip32
