#include "fileio/BufferedFile.h"

#include "fileio/Writing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace fileio {

namespace {

// Never destroyed, so that an end of the program during static destruction
// still finds it.
std::vector<BufferedFile*>& openFiles() {
    static auto* const files = new std::vector<BufferedFile*>();
    return *files;
}

} // namespace

BufferedFile::BufferedFile(UniqueFd fd, std::size_t capacity)
    : m_fd(std::move(fd)), m_buffer(std::max<std::size_t>(capacity, 1)) {
    openFiles().push_back(this);
}

BufferedFile::~BufferedFile() {
    (void)close();
    auto& files = openFiles();
    files.erase(std::find(files.begin(), files.end(), this));
}

int BufferedFile::write(const void* data, std::size_t size) {
    if (m_failure != 0 || !m_fd) {
        return m_failure != 0 ? m_failure : EBADF;
    }
    if (size == 0) {
        return 0;
    }
    if (size > m_buffer.size() - m_used) {
        if (const int error = flush()) {
            return error;
        }
        // A piece as large as the buffer gains nothing from a copy.
        if (size >= m_buffer.size()) {
            return writeThrough(data, size);
        }
    }
    std::memcpy(m_buffer.data() + m_used, data, size);
    m_used += size;
    return 0;
}

int BufferedFile::copyFrom(int from, off_t offset, const void* sameBytes, std::size_t size) {
    if (const int error = flush()) {
        return error;
    }
    if (m_failure != 0 || !m_fd) {
        return m_failure != 0 ? m_failure : EBADF;
    }
    m_failure = copyFromFile(from, offset, m_fd.get(), sameBytes, size);
    return m_failure;
}

int BufferedFile::flush() {
    const std::size_t held = std::exchange(m_used, 0);
    return held == 0 ? m_failure : writeThrough(m_buffer.data(), held);
}

int BufferedFile::close() {
    if (!m_fd) {
        return m_failure;
    }
    const int flushError = flush();
    if (!m_fd.close() && flushError == 0) {
        m_failure = errno;
        return m_failure;
    }
    return flushError;
}

int BufferedFile::writeThrough(const void* data, std::size_t size) {
    if (m_failure == 0) {
        m_failure = writeAll(m_fd.get(), data, size);
    }
    return m_failure;
}

void flushOpenFiles() {
    for (BufferedFile* file : openFiles()) {
        (void)file->flush();
    }
}

} // namespace fileio
