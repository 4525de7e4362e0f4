#include "EntrySource.h"

#include "FileSource.h"

#include <cerrno>
#include <new>

namespace zip32 {

EntrySource::EntrySource(std::string path, ReadFailure& failure)
    : m_path(std::move(path)), m_failure(failure) {
    zip_error_init(&m_error);
}

EntrySource::~EntrySource() {
    zip_error_fini(&m_error);
}

zip_source_t* EntrySource::attach(zip_t* archive, std::unique_ptr<EntrySource> source) {
    zip_source_t* result = zip_source_function(archive, &EntrySource::call, source.get());
    if (result != nullptr) {
        source.release();
    }
    return result;
}

zip_int64_t EntrySource::call(void* self, void* data, zip_uint64_t length,
                              zip_source_cmd_t command) {
    auto* source = static_cast<EntrySource*>(self);
    if (command == ZIP_SOURCE_FREE) {
        delete source;
        return 0;
    }
    return source->handle(data, length, command);
}

// libzip's frames are C: nothing thrown may pass through them.
zip_int64_t EntrySource::handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    int systemError = EIO;
    try {
        return answer(data, length, command);
    } catch (const std::bad_alloc&) {
        systemError = ENOMEM;
    } catch (...) {
        // Nothing may pass libzip's C frames: any other failure is EIO.
    }
    try {
        fail(ZIP_ER_READ, systemError);
    } catch (...) {
        // The failure stays libzip's alone: recording it took memory too.
    }
    zip_error_set(&m_error, systemError == ENOMEM ? ZIP_ER_MEMORY : ZIP_ER_INTERNAL, systemError);
    return -1;
}

zip_int64_t EntrySource::answer(void* data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_READABLE;
    case ZIP_SOURCE_STAT: {
        auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &m_error);
        if (stat == nullptr) {
            return -1;
        }
        zip_stat_init(stat);
        describe(*stat);
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_OPEN:
        return open() < 0 ? fail(ZIP_ER_OPEN, errno) : 0;
    case ZIP_SOURCE_READ: {
        const zip_int64_t got = read(data, length);
        return got < 0 ? fail(ZIP_ER_READ, errno) : got;
    }
    case ZIP_SOURCE_CLOSE:
        close();
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&m_error, data, length);
    default:
        zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

fileio::UniqueFd EntrySource::openChosen() {
    std::string refusal;
    fileio::UniqueFd fd = openChosenFile(m_path, refusal);
    if (!refusal.empty()) {
        refuse(refusal);
        errno = EINVAL;
    }
    return fd;
}

void EntrySource::refuse(const std::string& why) {
    if (m_failure.path.empty()) {
        m_failure.path = m_path;
        m_failure.error = EINVAL;
        m_failure.refusal = why;
    }
}

zip_int64_t EntrySource::fail(int zipError, int systemError) {
    zip_error_set(&m_error, zipError, systemError);
    if (m_failure.path.empty()) {
        m_failure.path = m_path;
        m_failure.error = systemError;
    }
    return -1;
}

} // namespace zip32
