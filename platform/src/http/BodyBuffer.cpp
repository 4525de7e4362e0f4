#include "platform/http/BodyBuffer.h"

#include <algorithm>
#include <cstring>

namespace platform {

bool BodyBuffer::put(const char* data, std::size_t length) {
    if (length == 0) {
        return true;
    }
    if (length > room()) {
        if (m_size != 0) {
            return false;
        }
        m_capacity = length;
        m_ring.reset();
        m_start = 0;
    }
    if (m_ringSize != m_capacity || !m_ring) {
        m_ring = std::make_unique_for_overwrite<std::uint8_t[]>(m_capacity);
        m_ringSize = m_capacity;
    }
    // The free space may wrap round the end of the ring: at most two copies.
    const std::size_t end = (m_start + m_size) % m_capacity;
    const std::size_t first = std::min(length, m_capacity - end);
    std::memcpy(m_ring.get() + end, data, first);
    std::memcpy(m_ring.get(), data + first, length - first);
    m_size += length;
    return true;
}

std::size_t BodyBuffer::take(std::uint8_t* target, std::size_t length) {
    const std::size_t count = std::min(length, m_size);
    if (count == 0) {
        return 0;
    }
    const std::size_t first = std::min(count, m_capacity - m_start);
    std::memcpy(target, m_ring.get() + m_start, first);
    std::memcpy(target + first, m_ring.get(), count - first);
    m_start = (m_start + count) % m_capacity;
    m_size -= count;
    return count;
}

} // namespace platform
