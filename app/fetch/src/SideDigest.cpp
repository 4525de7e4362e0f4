#include "SideDigest.h"

#include <algorithm>
#include <utility>

namespace updater {

namespace {

// Enough for the reading side never to wait while hashing keeps up.
constexpr std::size_t bufferCount = 4;

} // namespace

SideDigest::SideDigest(std::string what, std::size_t bufferSize)
    : m_digest(std::move(what)), m_bufferSize(bufferSize), m_thread([this] { run(); }) {}

SideDigest::~SideDigest() {
    {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        m_waiting.clear();
    }
    m_changed.notify_all();
    m_thread.join();
}

SideDigest::Buffer SideDigest::emptyBuffer() {
    std::unique_lock lock(m_mutex);
    if (m_free.empty() && m_made < bufferCount) {
        ++m_made;
        lock.unlock();
        // Left unset: only the bytes a caller fills are hashed.
        return {std::make_unique_for_overwrite<unsigned char[]>(m_bufferSize), 0};
    }
    m_changed.wait(lock, [this] { return !m_free.empty() || m_failure; });
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    Buffer buffer = std::move(m_free.back());
    m_free.pop_back();
    buffer.size = 0;
    return buffer;
}

void SideDigest::add(Buffer bytes) {
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(std::move(bytes));
    }
    m_changed.notify_all();
}

void SideDigest::add(std::span<const unsigned char> bytes) {
    while (!bytes.empty()) {
        Buffer buffer = emptyBuffer();
        const std::size_t taken = std::min(bytes.size(), m_bufferSize);
        std::copy_n(bytes.begin(), taken, buffer.bytes.get());
        buffer.size = taken;
        add(std::move(buffer));
        bytes = bytes.subspan(taken);
    }
}

delta::Sha256 SideDigest::finish() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return (m_waiting.empty() && !m_busy) || m_failure; });
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    return m_digest.finish();
}

void SideDigest::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_ended || !m_waiting.empty(); });
        if (m_ended) {
            return;
        }
        Buffer bytes = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_busy = true;
        lock.unlock();
        try {
            m_digest.add(bytes.bytes.get(), bytes.size);
        } catch (...) {
            lock.lock();
            m_failure = std::current_exception();
            m_busy = false;
            m_changed.notify_all();
            return;
        }
        lock.lock();
        m_busy = false;
        m_free.push_back(std::move(bytes));
        m_changed.notify_all();
    }
}

} // namespace updater
