#include "EntryReader.h"

#include "AesEntry.h"
#include "JobError.h"
#include "unzip32.h"

#include "zipformat/Crc32.h"

#include <algorithm>
#include <cstdio>

namespace unzip32 {

namespace {

std::string hex32(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", value & 0xFFFFFFFFul);
    return text;
}

int32_t openFailureCode(int zipError) {
    switch (zipError) {
    case ZIP_ER_NOPASSWD:
        return UZP_NO_PASSWORD;
    case ZIP_ER_WRONGPASSWD:
        return UZP_BAD_PASSWORD;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
        return UZP_UNSUPPORTED_ENTRY;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
        return UZP_ARCHIVE_UNREADABLE;
    default:
        return UZP_BAD_ENTRY_DATA;
    }
}

std::string openFailureText(int32_t code, const std::string& detail) {
    switch (code) {
    case UZP_NO_PASSWORD:
    case UZP_BAD_PASSWORD:
        return resultText(code);
    case UZP_UNSUPPORTED_ENTRY:
        return "skipped: " + detail;
    default:
        return "cannot be read: " + detail;
    }
}

// The entry's bytes as the archive stores them; inflated when they are
// deflated and not encrypted.
std::unique_ptr<DataSource> storedBytes(const Archive& archive, const EntryInfo& entry) {
    std::unique_ptr<DataSource> stored = std::make_unique<FileRangeSource>(
        archive.fileDescriptor(), entry.dataOffset, entry.compressedSize);
    if (!entry.encrypted() && entry.compressionMethod == ZIP_CM_DEFLATE) {
        return std::make_unique<InflatingSource>(std::move(stored), entry.compressedSize);
    }
    return stored;
}

} // namespace

EntryReader::EntryReader(const Archive& archive, const EntryInfo& entry, const char* password)
    : m_entry(entry) {
    const bool zlibAlone =
        entry.compressionMethod == ZIP_CM_STORE || entry.compressionMethod == ZIP_CM_DEFLATE;
    if (!entry.encrypted() && zlibAlone) {
        // Stored or deflated bytes go straight from the file to the caller,
        // with no copy on the way; the CRC-32 is checked here.
        m_checkCrc = true;
        m_source = storedBytes(archive, entry);
        return;
    }
    if (!entry.aesEncrypted()) {
        // libzip checks the CRC-32 itself once the data is read to its end.
        open(archive.handle(), 0, password);
        m_source = std::make_unique<ZipFileSource>(m_file);
        return;
    }
    if (!zlibAlone) {
        throw EntryFault(UZP_UNSUPPORTED_ENTRY,
                         std::string("skipped: AES-encrypted entries compressed with ") +
                             methodName(entry.compressionMethod) + " are not supported");
    }
    // Decryption, inflation and the CRC-32 check (where the format keeps
    // one) happen here.
    m_checkCrc = entry.crcRecorded();
    m_source = std::make_unique<AesDecryptingSource>(storedBytes(archive, entry),
                                                     entry.compressedSize, entry.encryptionMethod,
                                                     password == nullptr ? "" : password);
    if (entry.compressionMethod == ZIP_CM_DEFLATE) {
        m_source = std::make_unique<InflatingSource>(std::move(m_source), entry.compressedSize);
    }
}

EntryReader::~EntryReader() {
    m_source.reset();
    if (m_file != nullptr) {
        zip_fclose(m_file);
    }
}

void EntryReader::open(zip_t* archive, zip_flags_t flags, const char* password) {
    m_file = password == nullptr
                 ? zip_fopen_index(archive, m_entry.index, flags)
                 : zip_fopen_index_encrypted(archive, m_entry.index, flags, password);
    if (m_file != nullptr) {
        return;
    }
    zip_error_t* error = zip_get_error(archive);
    const int32_t code = openFailureCode(zip_error_code_zip(error));
    const std::string detail = zip_error_strerror(error);
    zip_error_clear(archive);
    if (code == UZP_ARCHIVE_UNREADABLE) {
        throw JobStop(code, "the archive cannot be read: " + detail);
    }
    throw EntryFault(code, openFailureText(code, detail));
}

std::span<const char> EntryReader::next(std::span<char> room) {
    // One byte more than the rest declared, so that excess data shows.
    const uint64_t wanted = std::min<uint64_t>(room.size(), m_entry.size - m_delivered + 1);
    uint64_t length = 0;
    try {
        length = m_source->read(reinterpret_cast<unsigned char*>(room.data()), wanted);
    } catch (const DataError& error) {
        failData(error.what());
    }
    if (length > m_entry.size - m_delivered) {
        failData("stopped: it yields more data than the " + std::to_string(m_entry.size) +
                 " bytes it declares");
    }
    if (length == 0) {
        if (m_delivered != m_entry.size) {
            failData("it ends after " + std::to_string(m_delivered) + " of the " +
                     std::to_string(m_entry.size) + " bytes it declares");
        }
        if (m_checkCrc && m_crc != m_entry.crc) {
            failData("CRC-32 mismatch: recorded " + hex32(m_entry.crc) + ", computed " +
                     hex32(m_crc));
        }
        return {};
    }
    if (m_checkCrc) {
        m_crc = zipformat::crc32Update(m_crc, {reinterpret_cast<const unsigned char*>(room.data()),
                                               static_cast<std::size_t>(length)});
    }
    m_delivered += length;
    return {room.data(), static_cast<std::size_t>(length)};
}

// With a wrong password the data decrypts to noise that shows only now.
void EntryReader::failData(const std::string& problem) const {
    if (m_entry.encrypted()) {
        throw EntryFault(UZP_BAD_PASSWORD, "wrong password (" + problem + ")");
    }
    throw EntryFault(UZP_BAD_ENTRY_DATA, problem);
}

} // namespace unzip32
