#include "ArchiveHandle.h"

#include "JobFailure.h"
#include "text/LetterCase.h"
#include "zip32.h"

namespace zip32 {

ArchiveHandle openArchive(zip_source_t* source, bool truncate, const std::string& path) {
    zip_error_t error;
    zip_error_init(&error);
    zip_t* archive =
        zip_open_from_source(source, ZIP_CREATE | (truncate ? ZIP_TRUNCATE : 0), &error);
    if (archive == nullptr) {
        zip_source_free(source);
        const int code = zip_error_code_zip(&error);
        const std::string reason = zip_error_strerror(&error);
        zip_error_fini(&error);
        if (code == ZIP_ER_MEMORY) {
            throw std::bad_alloc();
        }
        const bool damaged = code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS || code == ZIP_ER_CRC;
        throw JobFailure(damaged ? ZP_NOT_A_ZIP : ZP_ARCHIVE_UNREADABLE,
                         path + ": " +
                             (damaged ? "not a zip archive, or its directory is damaged: "
                                      : "cannot read the archive: ") +
                             reason);
    }
    zip_error_fini(&error);
    return ArchiveHandle(archive);
}

EntryIndex::EntryIndex(zip_t* archive) : m_archive(archive) {
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = count - 1; i >= 0; --i) {
        const auto index = static_cast<zip_uint64_t>(i);
        if (const char* name = zip_get_name(archive, index, ZIP_FL_ENC_RAW)) {
            m_folded[text::foldCase(name)] = index;
        }
    }
}

std::optional<zip_uint64_t> EntryIndex::find(const std::string& name) const {
    const zip_int64_t exact = zip_name_locate(m_archive, name.c_str(), ZIP_FL_ENC_RAW);
    if (exact >= 0) {
        return static_cast<zip_uint64_t>(exact);
    }
    const auto found = m_folded.find(text::foldCase(name));
    if (found == m_folded.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace zip32
