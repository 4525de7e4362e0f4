#include "FileSource.h"

#include "JobFailure.h"
#include "zip32.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace zip32 {

namespace {

constexpr std::size_t pieceSize = 64 * 1024;

// Reads into buffer; the count, or -1 with errno set.
ssize_t readSome(int fd, char* buffer, std::size_t length) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, length);
        if (got >= 0 || errno != EINTR) {
            return got;
        }
    }
}

class FileSource {
public:
    FileSource(const FileToStore& file, ReadFailure& failure)
        : m_file(file), m_failure(failure), m_translator(file.lineEnds) {
        zip_error_init(&m_error);
    }
    ~FileSource() {
        close();
        zip_error_fini(&m_error);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    static zip_int64_t call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto* source = static_cast<FileSource*>(self);
        if (command == ZIP_SOURCE_FREE) {
            delete source;
            return 0;
        }
        return source->handle(data, length, command);
    }

private:
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_READABLE;
        case ZIP_SOURCE_STAT: {
            auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &m_error);
            if (stat == nullptr) {
                return -1;
            }
            zip_stat_init(stat);
            stat->size = m_file.size;
            stat->mtime = m_file.modified;
            stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_OPEN:
            m_fd = ::open(m_file.path.c_str(), O_RDONLY | O_CLOEXEC);
            if (m_fd < 0) {
                return fail(ZIP_ER_OPEN, errno);
            }
            m_translator = LineEndTranslator(m_file.lineEnds);
            m_ended = false;
            m_out.clear();
            m_outPosition = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return m_file.lineEnds == LineEndChange::None
                       ? readPlain(static_cast<char*>(data), length)
                       : readTranslated(static_cast<char*>(data), length);
        case ZIP_SOURCE_CLOSE:
            close();
            return 0;
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, length);
        default:
            return fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }

    zip_int64_t fail(int zipError, int systemError) {
        zip_error_set(&m_error, zipError, systemError);
        if (zipError != ZIP_ER_OPNOTSUPP && m_failure.path.empty()) {
            m_failure.path = m_file.path;
            m_failure.error = systemError;
        }
        return -1;
    }

    zip_int64_t readPlain(char* data, zip_uint64_t length) {
        const ssize_t got = readSome(m_fd, data, static_cast<std::size_t>(length));
        return got < 0 ? fail(ZIP_ER_READ, errno) : got;
    }

    zip_int64_t readTranslated(char* data, zip_uint64_t length) {
        while (m_outPosition == m_out.size() && !m_ended) {
            m_out.clear();
            m_outPosition = 0;
            char piece[pieceSize];
            const ssize_t got = readSome(m_fd, piece, sizeof piece);
            if (got < 0) {
                return fail(ZIP_ER_READ, errno);
            }
            if (got == 0) {
                m_ended = true;
                m_translator.finish(m_out);
            } else {
                m_translator.translate({piece, static_cast<std::size_t>(got)}, m_out);
            }
        }
        const std::size_t count =
            std::min(static_cast<std::size_t>(length), m_out.size() - m_outPosition);
        std::memcpy(data, m_out.data() + m_outPosition, count);
        m_outPosition += count;
        return static_cast<zip_int64_t>(count);
    }

    void close() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    FileToStore m_file;
    ReadFailure& m_failure;
    LineEndTranslator m_translator;
    zip_error_t m_error{};
    int m_fd = -1;
    bool m_ended = false;
    std::string m_out;
    std::size_t m_outPosition = 0;
};

} // namespace

zip_source_t* fileSource(zip_t* archive, const FileToStore& file, ReadFailure& failure) {
    auto* source = new FileSource(file, failure);
    zip_source_t* result = zip_source_function(archive, &FileSource::call, source);
    if (result == nullptr) {
        delete source;
    }
    return result;
}

uint64_t translatedSize(const std::string& path, LineEndChange change) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw JobFailure(ZP_FILE_UNREADABLE, path + ": cannot read: " + systemReason(errno));
    }
    LineEndTranslator translator(change);
    std::vector<char> piece(pieceSize);
    std::string out;
    uint64_t size = 0;
    for (;;) {
        const ssize_t got = readSome(fd, piece.data(), piece.size());
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            throw JobFailure(ZP_FILE_UNREADABLE, path + ": cannot read: " + systemReason(error));
        }
        out.clear();
        if (got == 0) {
            translator.finish(out);
            size += out.size();
            break;
        }
        translator.translate({piece.data(), static_cast<std::size_t>(got)}, out);
        size += out.size();
    }
    ::close(fd);
    return size;
}

bool fileLooksLikeText(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char start[4096];
    const ssize_t got = readSome(fd, start, sizeof start);
    ::close(fd);
    return got >= 0 && looksLikeText({start, static_cast<std::size_t>(got)});
}

} // namespace zip32
