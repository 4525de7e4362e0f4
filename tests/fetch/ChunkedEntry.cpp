#include "ChunkedEntry.h"

#include "delta/Sha256.h"
#include "testsupport/PatternedBytes.h"
#include "zipformat/Records.h"

namespace {

void put16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>(value >> 8);
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xffff));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

// A stored deflate block of data; final ends the stream.
void storedBlock(std::string& out, std::string_view data, bool final) {
    out += static_cast<char>(final ? 1 : 0);
    const auto length = static_cast<std::uint16_t>(data.size());
    put16(out, length);
    put16(out, static_cast<std::uint16_t>(~length));
    out += data;
}

// The chunk's bytes in one or two stored blocks, then the empty block a full
// flush (or, for the last, the end of the stream) writes: exactly
// compressedSize bytes.
std::string deflatedChunk(const std::string& bytes, bool last) {
    std::string out;
    const std::size_t half = bytes.size() > 0xffff ? bytes.size() / 2 : bytes.size();
    storedBlock(out, std::string_view(bytes).substr(0, half), false);
    if (half < bytes.size()) {
        storedBlock(out, std::string_view(bytes).substr(half), false);
    }
    storedBlock(out, {}, last);
    return out;
}

std::size_t rawSize(std::uint64_t compressedSize) {
    const std::uint64_t oneBlock = compressedSize - 10;
    return static_cast<std::size_t>(oneBlock <= 0xffff ? oneBlock : compressedSize - 15);
}

} // namespace

ChunkedPackage chunkedPackage(const std::vector<ChunkShape>& shapes, unsigned seed) {
    ChunkedPackage package;
    package.entry.name = "data/big.bin";
    package.entry.method = 8;
    package.chunks.entryName = package.entry.name;
    std::string data;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const std::string piece = testsupport::halfTextHalfRandom(rawSize(shapes[i].compressedSize),
                                                                  seed + static_cast<unsigned>(i));
        const std::string deflated = deflatedChunk(piece, i + 1 == shapes.size());
        package.chunks.chunks.push_back(
            {piece.size(), deflated.size(), delta::chunkDigestOf(delta::sha256Of(piece))});
        package.pieces.push_back(piece);
        package.file += piece;
        data += deflated;
    }
    package.entry.size = package.file.size();
    package.entry.compressedSize = data.size();
    package.bytes = testsupport::halfTextHalfRandom(1234, seed + 1000);
    package.entry.localHeaderOffset = package.bytes.size();
    std::string header;
    put32(header, zipformat::localHeaderSignature);
    put16(header, 20);
    put16(header, 0);
    put16(header, 8);
    put32(header, 0); // time and date
    put32(header, 0); // the CRC-32 and sizes follow in no descriptor here
    put32(header, static_cast<std::uint32_t>(data.size()));
    put32(header, static_cast<std::uint32_t>(package.file.size()));
    put16(header, static_cast<std::uint16_t>(package.entry.name.size()));
    put16(header, 4);
    header += package.entry.name + std::string(4, '\0');
    package.span = {package.bytes.size(), header.size() + data.size()};
    package.bytes += header + data + testsupport::halfTextHalfRandom(777, seed + 2000);
    return package;
}

HeldFile heldFile(const ChunkedPackage& package, const std::vector<ChunkShape>& shapes) {
    HeldFile file{testsupport::halfTextHalfRandom(333, 99), {}};
    for (std::size_t i = shapes.size(); i-- > 0;) {
        if (shapes[i].held) {
            file.held[package.chunks.chunks[i].digest] = {file.bytes.size(),
                                                          package.pieces[i].size()};
            file.bytes +=
                package.pieces[i] + testsupport::halfTextHalfRandom(50, static_cast<unsigned>(i));
        }
    }
    return file;
}
