#pragma once

#include "zipformat/LineEnds.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zip32 {

// A chosen file's bytes as its entry stores them, piece by piece: line ends
// changed where asked, with their count and CRC-32 kept on the way.
class StoredBytes {
public:
    // fd stays the caller's and must outlive this reader.
    StoredBytes(int fd, zipformat::LineEndChange change);

    // The next piece, valid until the next call; empty once the bytes have
    // ended. Nothing on a read failure, with errno set.
    std::optional<std::string_view> next();

    uint64_t size() const { return m_size; }
    uint32_t crc() const { return m_crc; }

private:
    int m_fd;
    zipformat::LineEndChange m_change;
    zipformat::LineEndTranslator m_translator;
    // Left unset: each read writes what is then looked at.
    std::unique_ptr<char[]> m_piece;
    std::string m_translated;
    bool m_ended = false;
    uint64_t m_size = 0;
    uint32_t m_crc = 0;
};

} // namespace zip32
