#include "Repair.h"

#include "CheckPool.h"
#include "JobFailure.h"
#include "ZlibStreams.h"
#include "fileio/Failure.h"
#include "fileio/Processors.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "zip32.h"
#include "zipformat/EntryData.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <future>
#include <map>
#include <memory>
#include <optional>

namespace zip32 {

namespace {

using zipformat::read16;
using zipformat::read32;
using zipformat::read64;

constexpr std::size_t pieceSize = 64 * 1024;

// Up to length bytes of the archive at offset; fewer only at its end.
std::size_t readArchive(int archive, uint64_t offset, void* buffer, std::size_t length) {
    std::size_t total = 0;
    if (const int failure =
            fileio::readAt(archive, buffer, length, static_cast<off_t>(offset), total)) {
        throw JobFailure(ZP_ARCHIVE_UNREADABLE,
                         "cannot read the archive: " + fileio::systemReason(failure));
    }
    return total;
}

// The offset of the next local header signature at or after from.
std::optional<uint64_t> nextHeader(int archive, uint64_t from) {
    std::array<unsigned char, pieceSize> piece;
    for (;;) {
        const std::size_t got = readArchive(archive, from, piece.data(), piece.size());
        for (std::size_t i = 0; i + 4 <= got; ++i) {
            if (read32(piece.data() + i) == zipformat::localHeaderSignature) {
                return from + i;
            }
        }
        if (got < piece.size()) {
            return std::nullopt;
        }
        from += got - 3;
    }
}

// What the data of an entry turned out to be when read through.
struct DataCheck {
    bool complete = false;
    uint64_t consumed = 0;
    uint64_t size = 0;
    uint32_t crc = 0;
};

// Reads the entry's data from offset: deflated data to its stream's end (at
// most limit bytes of it), stored data for exactly limit bytes.
DataCheck readThrough(int archive, uint64_t offset, uint16_t method, uint64_t limit) {
    DataCheck check;
    uLong crc = crc32(0, nullptr, 0);
    std::array<unsigned char, pieceSize> in;
    if (method == 0) {
        while (check.consumed < limit) {
            const std::size_t wanted =
                static_cast<std::size_t>(std::min<uint64_t>(in.size(), limit - check.consumed));
            const std::size_t got =
                readArchive(archive, offset + check.consumed, in.data(), wanted);
            crc = crc32(crc, in.data(), static_cast<uInt>(got));
            check.consumed += got;
            if (got < wanted) {
                return check;
            }
        }
        check.size = check.consumed;
        check.crc = static_cast<uint32_t>(crc);
        check.complete = true;
        return check;
    }
    InflateStream inflater;
    z_stream& stream = inflater.get();
    std::array<unsigned char, pieceSize> out;
    int status = Z_OK;
    while (status == Z_OK && check.consumed < limit) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<uint64_t>(in.size(), limit - check.consumed));
        const std::size_t got = readArchive(archive, offset + check.consumed, in.data(), wanted);
        if (got == 0) {
            break;
        }
        stream.next_in = in.data();
        stream.avail_in = static_cast<uInt>(got);
        while (status == Z_OK && stream.avail_in > 0) {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            status = inflate(&stream, Z_NO_FLUSH);
            const std::size_t produced = out.size() - stream.avail_out;
            crc = crc32(crc, out.data(), static_cast<uInt>(produced));
            check.size += produced;
            if (status == Z_BUF_ERROR && produced > 0) {
                status = Z_OK;
            }
        }
        check.consumed += got - stream.avail_in;
    }
    check.complete = status == Z_STREAM_END;
    check.crc = static_cast<uint32_t>(crc);
    return check;
}

std::time_t fromDosTime(uint16_t time, uint16_t date) {
    std::tm fields{};
    fields.tm_year = ((date >> 9) & 0x7F) + 80;
    fields.tm_mon = ((date >> 5) & 0x0F) - 1;
    fields.tm_mday = date & 0x1F;
    fields.tm_hour = (time >> 11) & 0x1F;
    fields.tm_min = (time >> 5) & 0x3F;
    fields.tm_sec = (time & 0x1F) * 2;
    fields.tm_isdst = -1;
    return std::mktime(&fields);
}

// What the local header at an offset says, before its data is read.
struct Header {
    enum class Kind { none, refused, entry };
    Kind kind = Kind::none;
    RecoveredEntry entry;
    // Why an entry found is left out unread.
    std::string refusal;
    // Its sizes come after its data, which must be read through to find
    // where the next entry begins.
    bool sizesLater = false;
};

Header headerAt(int archive, uint64_t offset) {
    Header found;
    std::array<unsigned char, zipformat::localHeaderSize> header;
    if (readArchive(archive, offset, header.data(), header.size()) < header.size()) {
        return found;
    }
    const uint16_t flags = read16(&header[zipformat::localFlagsAt]);
    RecoveredEntry& entry = found.entry;
    entry.method = read16(&header[zipformat::localMethodAt]);
    entry.modified = fromDosTime(read16(&header[10]), read16(&header[12]));
    entry.crc = read32(&header[14]);
    entry.compressedSize = read32(&header[18]);
    entry.size = read32(&header[22]);
    const std::size_t nameLength = read16(&header[zipformat::localNameLengthAt]);
    const std::size_t extraLength = read16(&header[zipformat::localExtraLengthAt]);
    std::string nameAndExtra(nameLength + extraLength, '\0');
    if (nameLength == 0 || readArchive(archive, offset + header.size(), nameAndExtra.data(),
                                       nameAndExtra.size()) < nameAndExtra.size()) {
        return found;
    }
    entry.name = nameAndExtra.substr(0, nameLength);
    entry.utf8Name = (flags & zipformat::utf8NameFlag) != 0;
    entry.dataOffset = offset + header.size() + nameAndExtra.size();
    const auto* extra = reinterpret_cast<const unsigned char*>(nameAndExtra.data() + nameLength);
    for (std::size_t at = 0; at + 4 <= extraLength;) {
        const uint16_t id = read16(extra + at);
        const std::size_t length = read16(extra + at + 2);
        if (id == zipformat::zip64ExtraFieldId && length >= 16 && at + 4 + length <= extraLength) {
            entry.size = read64(extra + at + 4);
            entry.compressedSize = read64(extra + at + 12);
        }
        at += 4 + length;
    }
    found.kind = Header::Kind::refused;
    found.sizesLater = (flags & zipformat::dataDescriptorFlag) != 0 && entry.compressedSize == 0;
    if (!zipformat::readsWithZlib(flags, entry.method)) {
        found.refusal = "encrypted or of an unknown method; cannot be checked, left out";
    } else if (found.sizesLater && entry.method == zipformat::storedMethod) {
        found.refusal = "stored without its size; left out";
    } else {
        found.kind = Header::Kind::entry;
    }
    return found;
}

DataCheck readThrough(int archive, const Header& header) {
    return readThrough(archive, header.entry.dataOffset, header.entry.method,
                       header.sizesLater ? UINT64_MAX : header.entry.compressedSize);
}

// The offset after the entry's data when it checked out, its sizes and CRC
// taken from the descriptor where they come after the data.
std::optional<uint64_t> checkedEnd(int archive, Header& header, const DataCheck& check) {
    RecoveredEntry& entry = header.entry;
    uint64_t end = entry.dataOffset + check.consumed;
    if (header.sizesLater && check.complete) {
        // The descriptor after the data holds the CRC (signature optional).
        std::array<unsigned char, 8> descriptor{};
        readArchive(archive, end, descriptor.data(), descriptor.size());
        const bool signed_ = read32(descriptor.data()) == zipformat::dataDescriptorSignature;
        entry.crc = read32(descriptor.data() + (signed_ ? 4 : 0));
        entry.compressedSize = check.consumed;
        entry.size = check.size;
        end += (signed_ ? 4 : 0) + 12;
    }
    if (!check.complete || check.consumed != entry.compressedSize || check.size != entry.size ||
        check.crc != entry.crc) {
        return std::nullopt;
    }
    return end;
}

// A header the walk has passed, its data perhaps being read through on
// another thread.
struct Walked {
    uint64_t offset = 0;
    Header header;
    std::future<DataCheck> check;
};

// The walk through the local headers, which reads each entry's data through
// on the pool's threads while it goes on to the entry that follows. It
// runs ahead on the guess that each entry checks out; where one does not,
// what it walked past that entry is dropped and it goes on from the header
// after, just as a walk one entry at a time would.
class HeaderWalk {
public:
    HeaderWalk(int archive, const Reporter& reporter)
        : m_archive(archive), m_reporter(reporter),
          m_pool(fileio::processorsAvailable(mostThreads)), m_ahead(2 * mostThreads),
          m_next(nextHeader(archive, 0)) {}

    std::vector<RecoveredEntry> recover() {
        std::vector<RecoveredEntry> entries;
        for (walkAhead(); !m_walked.empty(); walkAhead()) {
            Walked walked = std::move(m_walked.front());
            m_walked.pop_front();
            settle(walked, entries);
        }
        return entries;
    }

private:
    static constexpr std::size_t mostThreads = 8;

    void walkAhead() {
        while (m_next && m_walked.size() < m_ahead) {
            Walked walked{*m_next, headerAt(m_archive, *m_next), {}};
            if (walked.header.kind != Header::Kind::entry) {
                m_next = nextHeader(m_archive, walked.offset + 4);
            } else if (walked.header.sizesLater) {
                // Where the next entry begins is known only once this one is read.
                m_next.reset();
            } else {
                walked.check = checkOf(walked);
                const RecoveredEntry& entry = walked.header.entry;
                m_next = nextHeader(m_archive, entry.dataOffset + entry.compressedSize);
            }
            m_walked.push_back(std::move(walked));
        }
    }

    // The entry's read through, begun now or before a failed entry had the
    // walk go back.
    std::future<DataCheck> checkOf(const Walked& walked) {
        m_begun.erase(m_begun.begin(), m_begun.lower_bound(walked.offset));
        if (const auto begun = m_begun.find(walked.offset); begun != m_begun.end()) {
            std::future<DataCheck> check = std::move(begun->second);
            m_begun.erase(begun);
            return check;
        }
        auto task = std::make_shared<std::packaged_task<DataCheck()>>(
            [archive = m_archive, header = walked.header] { return readThrough(archive, header); });
        std::future<DataCheck> check = task->get_future();
        m_pool.run([task] { (*task)(); });
        return check;
    }

    void settle(Walked& walked, std::vector<RecoveredEntry>& entries) {
        Header& header = walked.header;
        if (header.kind == Header::Kind::refused) {
            m_reporter.warning(header.entry.name, header.refusal);
        }
        if (header.kind != Header::Kind::entry) {
            return;
        }
        const DataCheck check =
            walked.check.valid() ? walked.check.get() : readThrough(m_archive, header);
        if (const auto end = checkedEnd(m_archive, header, check)) {
            entries.push_back(header.entry);
            if (header.sizesLater) {
                m_next = nextHeader(m_archive, *end);
            }
            return;
        }
        m_reporter.warning(header.entry.name, "data does not check out; left out");
        // The data's end was no entry's end after all; the walk from the
        // header after may come upon the entries it passed again.
        for (Walked& passed : m_walked) {
            if (passed.check.valid()) {
                m_begun.emplace(passed.offset, std::move(passed.check));
            }
        }
        m_walked.clear();
        m_next = nextHeader(m_archive, walked.offset + 4);
    }

    int m_archive;
    const Reporter& m_reporter;
    CheckPool m_pool;
    const std::size_t m_ahead;
    std::optional<uint64_t> m_next;
    std::deque<Walked> m_walked;
    // Read-throughs begun for entries a failed one took the walk back from.
    std::map<uint64_t, std::future<DataCheck>> m_begun;
};

// The bytes of a recovered entry as they are stored, for libzip to copy.
class StoredData : public EntrySource {
public:
    StoredData(const RecoveredEntry& entry, std::string path, ReadFailure& failure)
        : EntrySource(std::move(path), failure), m_entry(entry) {}

private:
    void describe(zip_stat_t& stat) const override {
        stat.size = m_entry.size;
        stat.comp_size = m_entry.compressedSize;
        stat.crc = m_entry.crc;
        stat.comp_method = m_entry.method;
        stat.mtime = m_entry.modified;
        stat.valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD |
                      ZIP_STAT_MTIME;
    }

    int open() override {
        m_fd = fileio::openFile(path(), O_RDONLY | O_CLOEXEC, 0);
        m_read = 0;
        return m_fd ? 0 : -1;
    }

    zip_int64_t read(void* data, zip_uint64_t length) override {
        const auto wanted =
            static_cast<std::size_t>(std::min<uint64_t>(length, m_entry.compressedSize - m_read));
        const ssize_t got =
            ::pread(m_fd.get(), data, wanted, static_cast<off_t>(m_entry.dataOffset + m_read));
        m_read += got > 0 ? static_cast<uint64_t>(got) : 0;
        return got;
    }

    void close() override { m_fd.reset(); }

    RecoveredEntry m_entry;
    fileio::UniqueFd m_fd;
    uint64_t m_read = 0;
};

} // namespace

std::vector<RecoveredEntry> recoverEntries(const ArchiveFile& file, const Reporter& reporter) {
    const fileio::UniqueFd archive = fileio::openFile(file.path(), O_RDONLY | O_CLOEXEC, 0);
    if (!file.exists() || !archive) {
        throw JobFailure(ZP_ARCHIVE_UNREADABLE, file.path() + ": no archive to repair");
    }
    std::vector<RecoveredEntry> entries = HeaderWalk(archive.get(), reporter).recover();
    if (entries.empty()) {
        throw JobFailure(ZP_NOTHING_RECOVERED, file.path() + ": no entry could be recovered");
    }
    return entries;
}

void addRecovered(zip_t* archive, const std::vector<RecoveredEntry>& entries,
                  const std::string& path, ReadFailure& failure) {
    for (const RecoveredEntry& entry : entries) {
        zip_source_t* source =
            EntrySource::attach(archive, std::make_unique<StoredData>(entry, path, failure));
        if (source == nullptr) {
            throw std::bad_alloc();
        }
        const zip_int64_t index =
            zip_file_add(archive, entry.name.c_str(), source,
                         ZIP_FL_OVERWRITE | (entry.utf8Name ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437));
        if (index < 0) {
            zip_source_free(source);
            throw JobFailure(ZP_INTERNAL_ERROR, entry.name + ": " + zip_strerror(archive));
        }
        const auto at = static_cast<zip_uint64_t>(index);
        if (zip_file_set_mtime(archive, at, entry.modified, 0) != 0 ||
            (entry.method == 0 && zip_set_file_compression(archive, at, ZIP_CM_STORE, 0) != 0)) {
            throw JobFailure(ZP_INTERNAL_ERROR, entry.name + ": " + zip_strerror(archive));
        }
    }
}

uint64_t prefixLength(const std::string& path) {
    const fileio::UniqueFd archive = fileio::openFile(path, O_RDONLY | O_CLOEXEC, 0);
    if (!archive) {
        return 0;
    }
    return nextHeader(archive.get(), 0).value_or(0);
}

} // namespace zip32
