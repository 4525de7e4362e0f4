#include "Archive.h"

#include "ArchiveEnd.h"
#include "ArchiveSource.h"
#include "JobError.h"
#include "UnixExtraFields.h"
#include "fileio/Failure.h"
#include "fileio/UniqueFd.h"
#include "unzip32.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace unzip32 {

namespace {

constexpr uint8_t msDosFolderAttribute = 0x10;

int32_t openFailureCode(int zipError) {
    switch (zipError) {
    case ZIP_ER_NOZIP:
        return UZP_NOT_A_ZIP;
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
    case ZIP_ER_MULTIDISK:
        return UZP_DAMAGED_ARCHIVE;
    case ZIP_ER_MEMORY:
        return UZP_OUT_OF_MEMORY;
    default:
        return UZP_ARCHIVE_UNREADABLE;
    }
}

std::string zipErrorText(int zipError) {
    zip_error_t error;
    zip_error_init_with_code(&error, zipError);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

EntryKind kindOf(const std::string& name, uint8_t system, uint32_t attributes) {
    if (!name.empty() && (name.back() == '/' || name.back() == '\\')) {
        return EntryKind::Folder;
    }
    if (system == ZIP_OPSYS_UNIX) {
        const auto mode = static_cast<mode_t>(attributes >> 16);
        if (S_ISLNK(mode)) {
            return EntryKind::SymbolicLink;
        }
        if (S_ISDIR(mode)) {
            return EntryKind::Folder;
        }
    } else if ((attributes & msDosFolderAttribute) != 0) {
        return EntryKind::Folder;
    }
    return EntryKind::File;
}

// Whether libzip read the same directory as readCentralDirectory: the same
// number of entries, each with the same sizes and CRC-32. The overlap guard
// and the stored-data reads go by our reading, extraction by libzip's.
bool sameDirectory(zip_t* zip, const CentralDirectory& directory) {
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    if (count < 0 || static_cast<uint64_t>(count) != directory.entries.size()) {
        return false;
    }
    for (uint64_t index = 0; index < directory.entries.size(); ++index) {
        const DirectoryEntry& ours = directory.entries[index];
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip, index, 0, &st) != 0 || st.comp_size != ours.compressedSize ||
            st.size != ours.size || ((st.valid & ZIP_STAT_CRC) != 0 && st.crc != ours.crc)) {
            return false;
        }
    }
    return true;
}

// While it opens the archive, libzip sees each byte at hidden altered.
zip_t* openZip(int fd, uint64_t fileSize, std::vector<uint64_t> hidden, int& zipError) {
    zip_error_t error;
    zip_error_init(&error);
    const auto hiddenWhileOpening = std::make_shared<std::vector<uint64_t>>(std::move(hidden));
    zip_source_t* source = createArchiveSource(fd, fileSize, hiddenWhileOpening, &error);
    zip_t* zip = source == nullptr ? nullptr : zip_open_from_source(source, ZIP_RDONLY, &error);
    hiddenWhileOpening->clear();
    if (zip == nullptr && source != nullptr) {
        zip_source_free(source);
    }
    zipError = zip_error_code_zip(&error);
    zip_error_fini(&error);
    return zip;
}

} // namespace

Archive::Archive(const std::string& path) {
    m_fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const fileio::UniqueFd& fd = m_fd;
    if (!fd) {
        const int error = errno;
        throw JobStop(error == ENOENT ? UZP_ARCHIVE_NOT_FOUND : UZP_ARCHIVE_UNREADABLE,
                      "cannot open the archive " + path + ": " + fileio::systemReason(error));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        throw JobStop(UZP_NOT_A_ZIP, path + " is not a zip archive");
    }
    // The directory is read from the same open file that libzip reads. The
    // strict consistency check stays off: it refuses sound archives of common
    // tools, and what it guards is checked here and entry by entry instead.
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    int zipError = 0;
    m_zip = openZip(fd.get(), fileSize, {}, zipError);
    if (m_zip == nullptr) {
        const int32_t code = openFailureCode(zipError);
        throw JobStop(code, code == UZP_NOT_A_ZIP ? path + " is not a zip archive"
                                                  : "cannot read the archive " + path + ": " +
                                                        zipErrorText(zipError));
    }
    try {
        const ArchiveEnd end = readArchiveEnd(fd.get(), fileSize);
        m_directory = readCentralDirectory(fd.get(), fileSize, end);
        // libzip reads through the first end record it can read near the end
        // of the file unless a later one passes its consistency check better,
        // so a zip stored near the end can have it take that zip's directory
        // for the archive's (always where the archive's own entries fail that
        // check, as stored ones with data descriptors do). Asked again without
        // seeing the end record signatures before the directory, it reads the
        // one every reader here takes.
        if (!sameDirectory(m_zip, m_directory)) {
            zip_discard(std::exchange(m_zip, nullptr));
            m_zip = openZip(fd.get(), fileSize, signaturesBeforeDirectory(end), zipError);
        }
        if (m_zip == nullptr || !sameDirectory(m_zip, m_directory)) {
            throw JobStop(UZP_DAMAGED_ARCHIVE,
                          "the archive is damaged: its directory does not match its entries");
        }
        locateData(fd.get(), m_directory);
        refuseOverlaps(m_directory);
    } catch (...) {
        zip_discard(m_zip);
        throw;
    }
}

Archive::~Archive() {
    zip_discard(m_zip);
}

uint64_t Archive::largestEntrySize() const {
    uint64_t largest = 0;
    for (const DirectoryEntry& entry : m_directory.entries) {
        largest = std::max(largest, entry.size);
    }
    return largest;
}

EntryInfo Archive::entry(uint64_t index) const {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, index, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0) {
        throw EntryFault(UZP_BAD_ENTRY_DATA, "the directory record cannot be read");
    }
    EntryInfo info;
    info.index = index;
    info.name = st.name;
    info.size = st.size;
    info.compressedSize = st.comp_size;
    info.crc = st.crc;
    info.compressionMethod = st.comp_method;
    info.encryptionMethod = st.encryption_method;
    info.modified = st.mtime;
    const DirectoryEntry& stored = m_directory.entries[index];
    info.markedText = (stored.internalAttributes & 1u) != 0;
    info.aesVersion = stored.aesVersion;
    info.dataOffset = stored.dataOffset;

    uint8_t system = 0;
    uint32_t attributes = 0;
    zip_file_get_external_attributes(m_zip, index, 0, &system, &attributes);
    info.kind = kindOf(info.name, system, attributes);
    const auto mode = static_cast<mode_t>(attributes >> 16);
    if (system == ZIP_OPSYS_UNIX && mode != 0) {
        info.permissions = mode & 0777;
    }
    readUnixExtraFields(m_zip, index, info);
    return info;
}

std::string Archive::comment() const {
    int length = 0;
    const char* text = zip_get_archive_comment(m_zip, &length, 0);
    return text == nullptr || length <= 0 ? std::string()
                                          : std::string(text, static_cast<std::size_t>(length));
}

} // namespace unzip32
