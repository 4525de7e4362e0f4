#include "ChunkedSource.h"

#include "ChunkedDeflater.h"
#include "StoredBytes.h"

#include <cerrno>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace zip32 {

namespace {

class ChunkedSource : public EntrySource {
public:
    ChunkedSource(const FileToStore& file, int level, ChunkPlan plan, ReadFailure& failure)
        : EntrySource(file.path, failure), m_file(file), m_level(level), m_plan(std::move(plan)) {}

private:
    void describe(zip_stat_t& stat) const override {
        stat.comp_method = ZIP_CM_DEFLATE;
        stat.mtime = m_file.modified;
        stat.valid |= ZIP_STAT_COMP_METHOD | ZIP_STAT_MTIME;
        if (m_written) {
            stat.size = m_size;
            stat.comp_size = m_compressedSize;
            stat.crc = m_crc;
            stat.valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC;
        } else if (sizeToldAhead(m_file.size, m_plan.sizes)) {
            stat.size = m_file.size;
            stat.valid |= ZIP_STAT_SIZE;
        }
    }

    int open() override {
        m_fd = openChosen();
        if (!m_fd) {
            return -1;
        }
        try {
            m_input.emplace(m_fd.get(), m_file.lineEnds);
            m_deflater.emplace(m_level, m_plan.sizes);
        } catch (...) {
            errno = ENOMEM;
            return -1;
        }
        m_written = false;
        m_compressedSize = 0;
        return 0;
    }

    zip_int64_t read(void* data, zip_uint64_t length) override {
        if (m_deflater->finished()) {
            return 0;
        }
        const auto made = m_deflater->produce(*m_input, static_cast<unsigned char*>(data),
                                              static_cast<std::size_t>(length), m_chunks);
        if (!made) {
            return -1;
        }
        m_compressedSize += *made;
        for (const Chunk& chunk : m_chunks) {
            if (!m_plan.report->report(m_plan.entryName, chunk)) {
                errno = ECANCELED;
                return -1;
            }
        }
        m_chunks.clear();
        if (m_deflater->finished()) {
            m_written = true;
            m_size = m_input->size();
            m_crc = m_input->crc();
        }
        return static_cast<zip_int64_t>(*made);
    }

    void close() override {
        m_deflater.reset();
        m_input.reset();
        m_fd.reset();
    }

    FileToStore m_file;
    int m_level;
    ChunkPlan m_plan;
    fileio::UniqueFd m_fd;
    std::optional<StoredBytes> m_input;
    std::optional<ChunkedDeflater> m_deflater;
    std::vector<Chunk> m_chunks;
    // What the written data came to, for libzip's look once it is written.
    bool m_written = false;
    uint64_t m_size = 0;
    uint64_t m_compressedSize = 0;
    uint32_t m_crc = 0;
};

// zlib's own bound for deflated data (deflateBound with its default
// settings), with a full flush's bytes for every chunk on top: the block
// it ends and an empty stored block.
uint64_t deflatedBound(uint64_t size, const zipformat::ChunkSizes& sizes) {
    constexpr uint64_t flushBytes = 10;
    const uint64_t chunks = size / sizes.minimum + 1;
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + chunks * flushBytes;
}

} // namespace

bool sizeToldAhead(uint64_t size, const zipformat::ChunkSizes& sizes) {
    return deflatedBound(size, sizes) < std::numeric_limits<uint32_t>::max();
}

zip_source_t* chunkedSource(zip_t* archive, const FileToStore& file, int level,
                            const ChunkPlan& plan, ReadFailure& failure) {
    return EntrySource::attach(archive,
                               std::make_unique<ChunkedSource>(file, level, plan, failure));
}

} // namespace zip32
