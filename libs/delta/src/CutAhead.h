#pragma once

#include "zipformat/ContentChunker.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace delta {

// A file read from its start, and where its chunks end found, on a thread of
// its own a few blocks ahead of the caller, who hashes the chunks: the
// cutting and the hashing of an installed file then take two processors.
class CutAhead {
public:
    // What one read asks for; the file's end is in the first block that
    // comes back shorter.
    static constexpr std::size_t blockSize = 1 << 20;

    struct Block {
        std::vector<unsigned char> bytes;
        std::size_t size = 0;
        // Where in the block a chunk ends, in order.
        std::vector<std::size_t> ends;
        // The file's end is in this block.
        bool last = false;
    };

    // Starts the thread (std::system_error where it cannot).
    CutAhead(int fd, std::string path, const zipformat::ChunkSizes& sizes);
    ~CutAhead();
    CutAhead(const CutAhead&) = delete;
    CutAhead& operator=(const CutAhead&) = delete;

    // The next block, once it is read and cut; raises what reading it
    // raised (DeltaError when the file cannot be read).
    const Block& next();
    // The block next() gave, handed back to be read into again.
    void done();

private:
    void run();
    void cutBlocks();

    const int m_fd;
    const std::string m_path;
    const zipformat::ChunkSizes m_sizes;
    std::vector<Block> m_blocks;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block*> m_free;
    std::deque<Block*> m_ready;
    std::exception_ptr m_failure;
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace delta
