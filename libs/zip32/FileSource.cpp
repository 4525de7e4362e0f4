#include "FileSource.h"

#include "JobFailure.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "zip32.h"
#include "zipformat/TextGuess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace zip32 {

namespace {

constexpr std::size_t pieceSize = 64 * 1024;

class FileSource : public EntrySource {
public:
    FileSource(const FileToStore& file, ReadFailure& failure)
        : EntrySource(file.path, failure), m_file(file), m_translator(file.lineEnds) {}

private:
    void describe(zip_stat_t& stat) const override {
        stat.size = m_file.size;
        stat.mtime = m_file.modified;
        stat.valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
    }

    int open() override {
        m_fd = openChosen();
        m_translator = zipformat::LineEndTranslator(m_file.lineEnds);
        m_ended = false;
        m_out.clear();
        m_outPosition = 0;
        return m_fd ? 0 : -1;
    }

    zip_int64_t read(void* data, zip_uint64_t length) override {
        auto* bytes = static_cast<char*>(data);
        if (m_file.lineEnds == zipformat::LineEndChange::none) {
            return fileio::readSome(m_fd.get(), bytes, static_cast<std::size_t>(length));
        }
        while (m_outPosition == m_out.size() && !m_ended) {
            m_out.clear();
            m_outPosition = 0;
            char piece[pieceSize];
            const ssize_t got = fileio::readSome(m_fd.get(), piece, sizeof piece);
            if (got < 0) {
                return -1;
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
        std::memcpy(bytes, m_out.data() + m_outPosition, count);
        m_outPosition += count;
        return static_cast<zip_int64_t>(count);
    }

    void close() override { m_fd.reset(); }

    FileToStore m_file;
    zipformat::LineEndTranslator m_translator;
    fileio::UniqueFd m_fd;
    bool m_ended = false;
    std::string m_out;
    std::size_t m_outPosition = 0;
};

} // namespace

fileio::UniqueFd openChosenFile(const std::string& path, std::string& refusal) {
    struct stat status {};
    fileio::UniqueFd fd = fileio::openRegularFile(path, status);
    if (!fd && status.st_mode != 0) {
        refusal = std::string("was a file when it was chosen and is now ") +
                  fileio::notAFileKind(status.st_mode) + "; never read";
        errno = EINVAL;
    }
    return fd;
}

zip_source_t* fileSource(zip_t* archive, const FileToStore& file, ReadFailure& failure) {
    return EntrySource::attach(archive, std::make_unique<FileSource>(file, failure));
}

uint64_t translatedSize(const std::string& path, zipformat::LineEndChange change) {
    std::string refusal;
    const fileio::UniqueFd fd = openChosenFile(path, refusal);
    if (!refusal.empty()) {
        throw JobFailure(ZP_FILE_UNREADABLE, path + ": " + refusal);
    }
    if (!fd) {
        throw JobFailure(ZP_FILE_UNREADABLE,
                         path + ": cannot read: " + fileio::systemReason(errno));
    }
    zipformat::LineEndTranslator translator(change);
    // Every byte read is written first: left unset, not zeroed.
    const auto piece = std::make_unique_for_overwrite<char[]>(pieceSize);
    std::string out;
    uint64_t size = 0;
    for (;;) {
        const ssize_t got = fileio::readSome(fd.get(), piece.get(), pieceSize);
        if (got < 0) {
            const int error = errno;
            throw JobFailure(ZP_FILE_UNREADABLE,
                             path + ": cannot read: " + fileio::systemReason(error));
        }
        out.clear();
        if (got == 0) {
            translator.finish(out);
            size += out.size();
            break;
        }
        translator.translate({piece.get(), static_cast<std::size_t>(got)}, out);
        size += out.size();
    }
    return size;
}

bool fileLooksLikeText(const std::string& path) {
    // Made before the file is opened, so that running out of memory here
    // leaves nothing open; left unset, as only the bytes read are looked at
    // (zeroing it cost more than reading a small file).
    const auto start = std::make_unique_for_overwrite<char[]>(zipformat::textSampleLength);
    std::string refusal;
    const fileio::UniqueFd fd = openChosenFile(path, refusal);
    if (!fd) {
        return false;
    }
    std::size_t got = 0;
    while (got < zipformat::textSampleLength) {
        const ssize_t more =
            fileio::readSome(fd.get(), start.get() + got, zipformat::textSampleLength - got);
        if (more < 0) {
            return false;
        }
        if (more == 0) {
            break;
        }
        got += static_cast<std::size_t>(more);
    }
    return zipformat::looksLikeText({start.get(), got});
}

} // namespace zip32
