#include "StoredBytes.h"

#include "fileio/Reading.h"
#include "zipformat/Crc32.h"

#include <span>

namespace zip32 {

namespace {

constexpr std::size_t pieceSize = 64 * 1024;

} // namespace

StoredBytes::StoredBytes(int fd, zipformat::LineEndChange change)
    : m_fd(fd), m_change(change), m_translator(change),
      m_piece(std::make_unique_for_overwrite<char[]>(pieceSize)) {}

std::optional<std::string_view> StoredBytes::next() {
    // A piece may translate to nothing (a CR held back): read on until
    // there is something or the file has ended.
    std::string_view piece;
    while (piece.empty() && !m_ended) {
        const ssize_t got = fileio::readSome(m_fd, m_piece.get(), pieceSize);
        if (got < 0) {
            return std::nullopt;
        }
        m_ended = got == 0;
        piece = std::string_view(m_piece.get(), static_cast<std::size_t>(got));
        if (m_change != zipformat::LineEndChange::none) {
            m_translated.clear();
            m_ended ? m_translator.finish(m_translated)
                    : m_translator.translate(piece, m_translated);
            piece = m_translated;
        }
    }
    m_crc = zipformat::crc32Update(
        m_crc, std::span(reinterpret_cast<const unsigned char*>(piece.data()), piece.size()));
    m_size += piece.size();
    return piece;
}

} // namespace zip32
