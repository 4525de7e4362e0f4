#include "EntryWriter.h"

#include "ChunkedSource.h"
#include "JobFailure.h"
#include "text/Utf8.h"
#include "zip32.h"
#include "zipformat/EntryTime.h"

#include <array>
#include <optional>

namespace zip32 {

namespace {

// MS-DOS folder attribute, for readers that look at the low bytes only.
constexpr zip_uint32_t dosFolderAttribute = 0x10;

[[noreturn]] void failEntry(zip_t* archive, const std::string& name) {
    throw JobFailure(ZP_INTERNAL_ERROR, name + ": " + zip_strerror(archive));
}

// Names that are UTF-8 are marked so; others (a file system may hold any
// bytes) are stored as they are, unmarked, rather than refused.
zip_flags_t nameEncoding(const std::string& name) {
    return text::isUtf8(name) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437;
}

} // namespace

zipformat::LineEndChange lineEndsFor(const std::string& path, const JobSettings& settings) {
    if (!settings.crlfToLf && !settings.lfToCrlf) {
        return zipformat::LineEndChange::none;
    }
    if (!fileLooksLikeText(path)) {
        return zipformat::LineEndChange::none;
    }
    return settings.crlfToLf ? zipformat::LineEndChange::crLfToLf
                             : zipformat::LineEndChange::lfToCrLf;
}

zip_source_t* EntryWriter::fileData(const SelectedItem& item, bool& precompressed) {
    FileToStore file{item.diskPath, static_cast<uint64_t>(item.status.st_size),
                     item.status.st_mtime, lineEndsFor(item.diskPath, m_settings)};
    std::optional<ChunkPlan> chunking;
    if (m_settings.level > 0 && !m_settings.encrypt && m_chunking.chunks(file.size)) {
        chunking = ChunkPlan{item.storedName, m_chunking.sizes, &m_report};
    }
    const bool deflatedAhead = m_queue != nullptr && CompressionQueue::takes(file.size);
    precompressed = deflatedAhead || chunking.has_value();
    if (file.lineEnds != zipformat::LineEndChange::none && !deflatedAhead) {
        file.size = translatedSize(item.diskPath, file.lineEnds);
    }
    if (deflatedAhead) {
        return m_queue->source(m_archive, file, chunking, m_failure);
    }
    return chunking ? chunkedSource(m_archive, file, m_settings.level, *chunking, m_failure)
                    : fileSource(m_archive, file, m_failure);
}

void EntryWriter::add(const SelectedItem& item) {
    zip_int64_t index = -1;
    bool precompressed = false;
    if (item.folder) {
        index = zip_dir_add(m_archive, item.storedName.c_str(), nameEncoding(item.storedName));
        if (index < 0 && zip_error_code_zip(zip_get_error(m_archive)) == ZIP_ER_EXISTS) {
            return;
        }
    } else {
        zip_source_t* source = fileData(item, precompressed);
        if (source == nullptr) {
            failEntry(m_archive, item.storedName);
        }
        index = zip_file_add(m_archive, item.storedName.c_str(), source,
                             ZIP_FL_OVERWRITE | nameEncoding(item.storedName));
        if (index < 0) {
            zip_source_free(source);
        }
    }
    if (index < 0) {
        failEntry(m_archive, item.storedName);
    }
    describe(static_cast<zip_uint64_t>(index), item, precompressed);
}

void EntryWriter::describe(zip_uint64_t index, const SelectedItem& item, bool precompressed) {
    const mode_t type = item.folder ? S_IFDIR : S_IFREG;
    const auto attributes = static_cast<zip_uint32_t>(
        ((type | (item.status.st_mode & 0777)) << 16) | (item.folder ? dosFolderAttribute : 0));
    bool described =
        zip_file_set_external_attributes(m_archive, index, 0, ZIP_OPSYS_UNIX, attributes) == 0 &&
        zip_file_set_mtime(m_archive, index, item.status.st_mtime, 0) == 0;
    // Data deflated ahead or in chunks keeps the default method, so libzip
    // copies it as it is. A folder has no data: stored, it costs libzip no
    // compressor's set-up.
    if (item.folder || !precompressed) {
        const bool store = item.folder || m_settings.level == 0 || item.status.st_size == 0;
        described = described && zip_set_file_compression(
                                     m_archive, index, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                     store ? 0 : static_cast<zip_uint32_t>(m_settings.level)) == 0;
    }
    if (!item.folder && m_settings.encrypt) {
        described = described && zip_file_set_encryption(m_archive, index, ZIP_EM_AES_256,
                                                         m_password.c_str()) == 0;
    }
    // A replaced entry's own field would otherwise stay beside the new one.
    zip_file_extra_field_delete_by_id(m_archive, index, zipformat::extendedTimestampId,
                                      ZIP_EXTRA_FIELD_ALL, ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
    if (m_settings.exactTimes) {
        const auto seconds = static_cast<uint32_t>(item.status.st_mtime);
        const std::array<zip_uint8_t, 5> field{
            1, static_cast<zip_uint8_t>(seconds), static_cast<zip_uint8_t>(seconds >> 8),
            static_cast<zip_uint8_t>(seconds >> 16), static_cast<zip_uint8_t>(seconds >> 24)};
        described =
            described && zip_file_extra_field_set(m_archive, index, zipformat::extendedTimestampId,
                                                  ZIP_EXTRA_FIELD_NEW, field.data(), field.size(),
                                                  ZIP_FL_LOCAL | ZIP_FL_CENTRAL) == 0;
    }
    if (!described) {
        failEntry(m_archive, item.storedName);
    }
}

} // namespace zip32
