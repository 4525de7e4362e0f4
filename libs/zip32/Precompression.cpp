#include "Precompression.h"

#include "ChunkedDeflater.h"
#include "EntrySource.h"
#include "StoredBytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <system_error>
#include <utility>

namespace zip32 {

namespace {

// Files up to this size are deflated ahead; what all jobs ahead hold together
// stays under the bound (one job may pass it so that writing never waits for
// room).
constexpr uint64_t largestFile = 8 << 20;
constexpr uint64_t heldBound = 16 << 20;
constexpr std::size_t pieceSize = 64 * 1024;
// A worker starts once this much waits that none has begun: some milliseconds
// of deflating, many times a thread's start. Less is deflated by the writing
// thread as it comes to it, so a small archive starts no thread at all.
constexpr uint64_t workerStart = 64 * 1024;

} // namespace

// What deflating a file takes besides the file: zlib's state (some hundred
// KiB that cost more to set up than deflating a small file) and the piece
// the deflated data passes through. A job's files share them in turn.
struct DeflateKit {
    explicit DeflateKit(int level)
        : stream(level), piece(std::make_unique_for_overwrite<unsigned char[]>(pieceSize)) {}
    DeflateStream stream;
    std::unique_ptr<unsigned char[]> piece;
};

// One file's deflated data, made by a worker and read by its source.
struct CompressionJob {
    FileToStore file;
    bool started = false;
    bool done = false;
    bool released = false;
    int error = 0;
    // What the file is now when it was no longer one to read.
    std::string refusal;
    uint64_t size = 0;
    uint32_t crc = 0;
    std::string deflated;
    // Set for an entry deflated in chunks, and its chunks once deflated.
    std::optional<ChunkPlan> chunking;
    std::vector<Chunk> chunks;
};

namespace {

// Reads the file (changing line ends where asked) and deflates it into job
// with kit, in chunks when its plan says so. Memory that runs out is thrown
// as bad_alloc.
void deflateFile(CompressionJob& job, DeflateKit& kit) {
    const fileio::UniqueFd fd = openChosenFile(job.file.path, job.refusal);
    if (!fd) {
        job.error = errno;
        return;
    }
    StoredBytes input(fd.get(), job.file.lineEnds);
    ChunkedDeflater deflater(kit.stream,
                             job.chunking ? std::optional(job.chunking->sizes) : std::nullopt);
    std::vector<Chunk> chunks;
    // Deflated into a piece left unset and appended from there: growing the
    // data by a zeroed piece cost more than deflating a small file.
    unsigned char* const piece = kit.piece.get();
    while (!deflater.finished()) {
        const auto made = deflater.produce(input, piece, pieceSize, chunks);
        if (!made) {
            job.error = errno;
            return;
        }
        job.deflated.append(reinterpret_cast<const char*>(piece), *made);
    }
    if (job.chunking) {
        job.chunks = std::move(chunks);
    }
    job.size = input.size();
    job.crc = input.crc();
}

// Serves a job's deflated data to libzip, which copies it as it is.
class DeflatedSource : public EntrySource {
public:
    DeflatedSource(CompressionQueue& queue, std::shared_ptr<CompressionJob> job,
                   ReadFailure& failure)
        : EntrySource(job->file.path, failure), m_queue(queue), m_job(std::move(job)) {}
    ~DeflatedSource() override { m_queue.release(*m_job); }

    DeflatedSource(const DeflatedSource&) = delete;
    DeflatedSource& operator=(const DeflatedSource&) = delete;

private:
    void describe(zip_stat_t& stat) const override {
        m_queue.waitFor(*m_job);
        stat.size = m_job->size;
        stat.comp_size = m_job->deflated.size();
        stat.crc = m_job->crc;
        stat.comp_method = ZIP_CM_DEFLATE;
        stat.mtime = m_job->file.modified;
        stat.valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD |
                      ZIP_STAT_MTIME;
    }

    int open() override {
        m_queue.waitFor(*m_job);
        m_position = 0;
        if (m_job->error != 0 || m_job->released) {
            if (!m_job->released && !m_job->refusal.empty()) {
                refuse(m_job->refusal);
            }
            // Read once only: the data is gone once the entry is written.
            errno = m_job->released ? EIO : m_job->error;
            return -1;
        }
        return 0;
    }

    zip_int64_t read(void* data, zip_uint64_t length) override {
        const std::size_t count = static_cast<std::size_t>(
            std::min<uint64_t>(length, m_job->deflated.size() - m_position));
        // libzip reads on to the end, so the chunks go out before it moves on.
        if (count == 0 && m_job->chunking && !reportChunks()) {
            errno = ECANCELED;
            return -1;
        }
        std::memcpy(data, m_job->deflated.data() + m_position, count);
        m_position += count;
        return static_cast<zip_int64_t>(count);
    }

    void close() override { m_queue.release(*m_job); }

    bool reportChunks() {
        const ChunkPlan& plan = *m_job->chunking;
        for (const Chunk& chunk : std::exchange(m_job->chunks, {})) {
            if (!plan.report->report(plan.entryName, chunk)) {
                return false;
            }
        }
        return true;
    }

    CompressionQueue& m_queue;
    std::shared_ptr<CompressionJob> m_job;
    std::size_t m_position = 0;
};

} // namespace

bool CompressionQueue::takes(uint64_t size) {
    return size > 0 && size <= largestFile;
}

CompressionQueue::CompressionQueue(int level) : m_level(level) {}

CompressionQueue::~CompressionQueue() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers) {
        worker.join();
    }
}

zip_source_t* CompressionQueue::source(zip_t* archive, const FileToStore& file,
                                       const std::optional<ChunkPlan>& chunking,
                                       ReadFailure& failure) {
    auto job = std::make_shared<CompressionJob>();
    job->file = file;
    job->chunking = chunking;
    bool enoughWaits = false;
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(job);
        m_waitingBytes += file.size;
        enoughWaits = m_waitingBytes >= workerStart;
    }
    if (enoughWaits && !m_maxWorkers) {
        m_maxWorkers = std::max(1u, std::thread::hardware_concurrency());
    }
    if (enoughWaits && m_workers.size() < *m_maxWorkers) {
        try {
            m_workers.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // No thread to be had: the writing thread deflates what waits.
        }
    }
    m_changed.notify_all();
    return EntrySource::attach(archive, std::make_unique<DeflatedSource>(*this, job, failure));
}

void CompressionQueue::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock,
                       [this] { return m_stopping || (!m_waiting.empty() && m_held < heldBound); });
        if (m_stopping) {
            return;
        }
        const std::shared_ptr<CompressionJob> job = m_waiting.front();
        unqueue(*job);
        run(*job, lock);
    }
}

void CompressionQueue::unqueue(const CompressionJob& job) {
    const auto isJob = [&job](const auto& waiting) { return waiting.get() == &job; };
    if (std::erase_if(m_waiting, isJob) > 0) {
        m_waitingBytes -= job.file.size;
    }
}

void CompressionQueue::run(CompressionJob& job, std::unique_lock<std::mutex>& lock) {
    job.started = true;
    m_held += job.file.size;
    std::unique_ptr<DeflateKit> kit;
    if (!m_idleKits.empty()) {
        kit = std::move(m_idleKits.back());
        m_idleKits.pop_back();
    }
    lock.unlock();
    try {
        if (!kit) {
            kit = std::make_unique<DeflateKit>(m_level);
        }
        deflateFile(job, *kit);
    } catch (...) {
        job.error = ENOMEM;
    }
    // A stream left mid-way by a failure is as good as new once reset.
    const bool reusable = kit && kit->stream.reset();
    lock.lock();
    if (reusable) {
        try {
            m_idleKits.push_back(std::move(kit));
        } catch (const std::bad_alloc&) {
            // Not kept, then: the next file sets its own up.
        }
    }
    job.done = true;
    if (job.released) {
        m_held -= job.file.size;
        std::string().swap(job.deflated);
    }
    m_changed.notify_all();
}

void CompressionQueue::waitFor(CompressionJob& job) {
    std::unique_lock lock(m_mutex);
    if (!job.started) {
        unqueue(job);
        run(job, lock);
    }
    m_changed.wait(lock, [&job] { return job.done; });
}

void CompressionQueue::release(CompressionJob& job) {
    {
        const std::lock_guard lock(m_mutex);
        if (job.released) {
            return;
        }
        job.released = true;
        if (!job.started) {
            unqueue(job);
        } else if (job.done) {
            m_held -= job.file.size;
            std::string().swap(job.deflated);
        }
    }
    m_changed.notify_all();
}

} // namespace zip32
