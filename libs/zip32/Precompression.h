#pragma once

#include "Chunking.h"
#include "FileSource.h"

#include <zip.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zip32 {

struct CompressionJob;
struct DeflateKit;

// Deflates files on worker threads, in the order they will be written, while
// libzip writes the entries before them: libzip then copies each finished
// entry as it is. Work runs ahead of the writing only while the data held
// stays under a fixed bound, so memory does not grow with the archive.
// Workers start as enough work waits for them, up to one a processor.
class CompressionQueue {
public:
    explicit CompressionQueue(int level);
    ~CompressionQueue();
    CompressionQueue(const CompressionQueue&) = delete;
    CompressionQueue& operator=(const CompressionQueue&) = delete;

    // Whether a file of this size goes through the queue; larger ones are
    // deflated by libzip as it writes them.
    static bool takes(uint64_t size);

    // The entry data of file, deflated ahead (in chunks when chunking is
    // given, reported once libzip has read them); null when libzip cannot
    // take the source.
    zip_source_t* source(zip_t* archive, const FileToStore& file,
                         const std::optional<ChunkPlan>& chunking, ReadFailure& failure);

    // Until job is deflated (or has failed); a job no worker has begun is
    // deflated on the calling thread, so writing never waits on the bound.
    void waitFor(CompressionJob& job);
    // The job's data has been written: its memory goes back to the bound.
    void release(CompressionJob& job);

private:
    void work();
    // Takes job off the waiting line if it is still there; the lock is held.
    void unqueue(const CompressionJob& job);
    // Deflates job outside the lock, which lock holds on entry and on return.
    void run(CompressionJob& job, std::unique_lock<std::mutex>& lock);

    const int m_level;
    std::mutex m_mutex;
    // What deflating took, kept for the next file: no more than ran at once.
    std::vector<std::unique_ptr<DeflateKit>> m_idleKits;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<CompressionJob>> m_waiting;
    // The file sizes of the jobs waiting.
    uint64_t m_waitingBytes = 0;
    uint64_t m_held = 0;
    bool m_stopping = false;
    // Touched by the writing thread alone; the processors are counted when
    // a first worker would start (three system calls an archive otherwise).
    std::optional<std::size_t> m_maxWorkers;
    std::vector<std::thread> m_workers;
};

} // namespace zip32
