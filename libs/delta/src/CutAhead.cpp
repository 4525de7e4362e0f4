#include "CutAhead.h"

#include "delta/DeltaError.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"

#include <utility>

namespace delta {

namespace {

// Enough for the reading to stay ahead of the hashing without holding
// more than a few MiB.
constexpr std::size_t blockCount = 4;

} // namespace

CutAhead::CutAhead(int fd, std::string path, const zipformat::ChunkSizes& sizes)
    : m_fd(fd), m_path(std::move(path)), m_sizes(sizes), m_blocks(blockCount) {
    for (Block& block : m_blocks) {
        block.bytes.resize(blockSize);
        m_free.push_back(&block);
    }
    m_thread = std::thread([this] { run(); });
}

CutAhead::~CutAhead() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

const CutAhead::Block& CutAhead::next() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_failure; });
    if (m_ready.empty()) {
        std::rethrow_exception(m_failure);
    }
    return *m_ready.front();
}

void CutAhead::done() {
    {
        const std::lock_guard lock(m_mutex);
        m_free.push_back(m_ready.front());
        m_ready.pop_front();
    }
    m_changed.notify_all();
}

void CutAhead::run() {
    try {
        cutBlocks();
    } catch (...) {
        const std::lock_guard lock(m_mutex);
        m_failure = std::current_exception();
    }
    m_changed.notify_all();
}

void CutAhead::cutBlocks() {
    zipformat::ContentChunker chunker(m_sizes);
    for (std::uint64_t offset = 0;;) {
        Block* block = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_quit || !m_free.empty(); });
            if (m_quit) {
                return;
            }
            block = m_free.front();
            m_free.pop_front();
        }
        std::size_t got = 0;
        if (const int failure = fileio::readAt(m_fd, block->bytes.data(), blockSize,
                                               static_cast<off_t>(offset), got)) {
            throw DeltaError("cannot read " + m_path + ": " + fileio::systemReason(failure));
        }
        offset += got;
        block->size = got;
        block->ends.clear();
        std::span<const unsigned char> rest(block->bytes.data(), got);
        for (std::size_t at = 0; const auto cut = chunker.cut(rest);) {
            at += *cut;
            block->ends.push_back(at);
            rest = rest.subspan(*cut);
        }
        block->last = got < blockSize;
        {
            const std::lock_guard lock(m_mutex);
            m_ready.push_back(block);
        }
        m_changed.notify_all();
        if (block->last) {
            return;
        }
    }
}

} // namespace delta
