#pragma once

#include "delta/Sha256.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace updater {

// A SHA-256 taken on a thread of its own from pieces handed over in order,
// so that the thread that reads and writes them goes on with the next one
// meanwhile. Memory stays bounded: the pieces travel in a fixed set of
// buffers, and handing one over waits while every one is in use.
class SideDigest {
public:
    // bufferSize bytes, of which the first size are handed over.
    struct Buffer {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t size = 0;
    };

    // what names the bytes in a failure.
    SideDigest(std::string what, std::size_t bufferSize);
    // Stops the thread; a digest not finished is dropped.
    ~SideDigest();
    SideDigest(const SideDigest&) = delete;
    SideDigest& operator=(const SideDigest&) = delete;

    // A buffer of bufferSize bytes to fill.
    Buffer emptyBuffer();
    // Hashes the buffer's bytes after every byte handed over before.
    void add(Buffer bytes);
    // The same for bytes the caller keeps, copied.
    void add(std::span<const unsigned char> bytes);
    // The digest of every byte handed over. Throws what hashing threw.
    delta::Sha256 finish();

private:
    void run();

    delta::Sha256Digest m_digest;
    const std::size_t m_bufferSize;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Buffer> m_waiting;
    std::vector<Buffer> m_free;
    std::size_t m_made = 0;
    bool m_ended = false;
    bool m_busy = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

} // namespace updater
