#include "ArchiveFile.h"

#include "fileio/UnpackedMode.h"
#include "fileio/Writing.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zip32 {

namespace {

// Writes go to the disk in pieces of this size.
constexpr std::size_t pendingLimit = 1 << 20;

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new archive gets the mode any new file would get: 0666 less the
// process's mask, which is read rather than set and set back (that would
// race with other threads).
mode_t creationMode() {
    return 0666 & ~fileio::processUmask();
}

} // namespace

ArchiveFile::ArchiveFile(const std::string& path) : m_path(path) {
    zip_error_init(&m_error);
    // A link to an archive stays a link: the archive it points to is replaced.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        m_path = real;
        std::free(real);
    }
    m_exists = ::stat(m_path.c_str(), &m_status) == 0;
}

ArchiveFile::~ArchiveFile() {
    discardTemporary();
    zip_error_fini(&m_error);
}

zip_source_t* ArchiveFile::source(zip_error_t* error) {
    return zip_source_function_create(&ArchiveFile::call, this, error);
}

zip_int64_t ArchiveFile::call(void* self, void* data, zip_uint64_t length,
                              zip_source_cmd_t command) {
    return static_cast<ArchiveFile*>(self)->handle(data, length, command);
}

zip_int64_t ArchiveFile::fail(int zipError, int systemError) {
    zip_error_set(&m_error, zipError, systemError);
    return -1;
}

zip_int64_t ArchiveFile::failWrite(int systemError) {
    if (m_writeError == 0) {
        m_writeError = systemError;
    }
    return fail(ZIP_ER_WRITE, systemError);
}

zip_int64_t ArchiveFile::handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT: {
        if (!m_exists) {
            return fail(ZIP_ER_READ, ENOENT);
        }
        auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &m_error);
        if (stat == nullptr) {
            return -1;
        }
        zip_stat_init(stat);
        stat->size = static_cast<zip_uint64_t>(m_status.st_size);
        stat->mtime = m_status.st_mtime;
        stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_OPEN:
        if (!m_readFd) {
            m_readFd = fileio::openFile(m_path, O_RDONLY | O_CLOEXEC, 0);
            if (!m_readFd) {
                return fail(ZIP_ER_OPEN, errno);
            }
        }
        m_readPosition = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return read(data, length);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t position = zip_source_seek_compute_offset(
            m_readPosition, static_cast<zip_uint64_t>(m_status.st_size), data, length, &m_error);
        if (position < 0) {
            return -1;
        }
        m_readPosition = static_cast<uint64_t>(position);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(m_readPosition);
    case ZIP_SOURCE_BEGIN_WRITE:
        return beginWrite() ? 0 : -1;
    case ZIP_SOURCE_WRITE:
        return write(data, length) ? static_cast<zip_int64_t>(length) : -1;
    case ZIP_SOURCE_SEEK_WRITE:
        return seekWrite(data, length) ? 0 : -1;
    case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(m_pendingStart + m_pending.size());
    case ZIP_SOURCE_COMMIT_WRITE:
        return commit() ? 0 : -1;
    case ZIP_SOURCE_ROLLBACK_WRITE:
        discardTemporary();
        return 0;
    case ZIP_SOURCE_REMOVE:
        if (::unlink(m_path.c_str()) != 0 && errno != ENOENT) {
            return fail(ZIP_ER_REMOVE, errno);
        }
        m_exists = false;
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&m_error, data, length);
    case ZIP_SOURCE_FREE:
        return 0;
    default:
        return fail(ZIP_ER_OPNOTSUPP, 0);
    }
}

zip_int64_t ArchiveFile::read(void* data, zip_uint64_t length) {
    const ssize_t got = ::pread(m_readFd.get(), data, length, static_cast<off_t>(m_readPosition));
    if (got < 0) {
        return fail(ZIP_ER_READ, errno);
    }
    m_readPosition += static_cast<uint64_t>(got);
    return got;
}

bool ArchiveFile::beginWrite() {
    std::string pattern = folderOf(m_path) + "/." + baseName(m_path) + ".zip32-XXXXXX";
    m_writeFd.reset(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!m_writeFd) {
        failWrite(errno);
        return false;
    }
    m_temporaryPath = pattern;
    // Grown as the writes come: a small archive never takes the whole limit.
    m_pending.clear();
    m_pendingStart = 0;
    m_writtenLength = 0;
    // A self-extractor's program goes first, as it was.
    std::vector<char> piece(m_prefixLength == 0 ? 0 : 64 * 1024);
    for (uint64_t copied = 0; copied < m_prefixLength;) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<uint64_t>(piece.size(), m_prefixLength - copied));
        const ssize_t got =
            ::pread(m_readFd.get(), piece.data(), wanted, static_cast<off_t>(copied));
        if (got <= 0) {
            fail(ZIP_ER_READ, got < 0 ? errno : EIO);
            return false;
        }
        if (!write(piece.data(), static_cast<zip_uint64_t>(got))) {
            return false;
        }
        copied += static_cast<uint64_t>(got);
    }
    return true;
}

bool ArchiveFile::write(const void* data, zip_uint64_t length) {
    if (!m_writeFd) {
        failWrite(EBADF);
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    if (m_pending.size() + length > pendingLimit && !flush()) {
        return false;
    }
    if (length >= pendingLimit) {
        const int error =
            fileio::writeAll(m_writeFd.get(), bytes, static_cast<std::size_t>(length));
        if (error != 0) {
            failWrite(error);
            return false;
        }
        m_pendingStart += length;
    } else {
        m_pending.insert(m_pending.end(), bytes, bytes + length);
    }
    m_writtenLength = std::max(m_writtenLength, m_pendingStart + m_pending.size());
    return true;
}

bool ArchiveFile::flush() {
    if (m_pending.empty()) {
        return true;
    }
    const int error = fileio::writeAll(m_writeFd.get(), m_pending.data(), m_pending.size());
    if (error != 0) {
        failWrite(error);
        return false;
    }
    m_pendingStart += m_pending.size();
    m_pending.clear();
    return true;
}

bool ArchiveFile::seekWrite(void* data, zip_uint64_t length) {
    if (!flush()) {
        return false;
    }
    const zip_int64_t position =
        zip_source_seek_compute_offset(m_pendingStart, m_writtenLength, data, length, &m_error);
    if (position < 0) {
        return false;
    }
    if (::lseek(m_writeFd.get(), static_cast<off_t>(position), SEEK_SET) < 0) {
        failWrite(errno);
        return false;
    }
    m_pendingStart = static_cast<uint64_t>(position);
    return true;
}

bool ArchiveFile::commit() {
    if (!flush()) {
        return false;
    }
    const mode_t mode = m_exists ? (m_status.st_mode & 07777) : creationMode();
    // On the disk before it takes the archive's name, so that a crash leaves
    // the old archive or the new one, never a torn one.
    if (::fchmod(m_writeFd.get(), mode) != 0) {
        failWrite(errno);
        return false;
    }
    if (const int error = fileio::syncFile(m_writeFd.get()); error != 0) {
        failWrite(error);
        return false;
    }
    if (!m_writeFd.close()) {
        failWrite(errno);
        return false;
    }
    if (::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0) {
        failWrite(errno);
        return false;
    }
    m_temporaryPath.clear();
    return true;
}

void ArchiveFile::discardTemporary() {
    m_writeFd.reset();
    if (!m_temporaryPath.empty()) {
        ::unlink(m_temporaryPath.c_str());
        m_temporaryPath.clear();
    }
}

} // namespace zip32
