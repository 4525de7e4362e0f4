#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

// The part of a response body that has arrived and not yet been handed out:
// a ring of fixed capacity, so that memory stays flat whatever the size of
// the body. The space is taken at the first put.
class BodyBuffer {
public:
    explicit BodyBuffer(std::size_t capacity) : m_capacity(capacity) {}

    std::size_t size() const { return m_size; }
    std::size_t room() const { return m_capacity - m_size; }
    std::size_t capacity() const { return m_capacity; }

    // Takes all of data when it fits. A piece larger than the capacity is
    // taken once the buffer is empty, the capacity growing to hold it.
    // Otherwise takes nothing and answers false.
    bool put(const char* data, std::size_t length);
    // Moves up to length bytes, oldest first, to target; the number moved.
    std::size_t take(std::uint8_t* target, std::size_t length);

private:
    // Made at the first put, of the capacity then, and left unset until
    // written into: take reads only what put wrote.
    std::unique_ptr<std::uint8_t[]> m_ring;
    std::size_t m_ringSize = 0;
    std::size_t m_capacity;
    std::size_t m_start = 0;
    std::size_t m_size = 0;
};

} // namespace platform
