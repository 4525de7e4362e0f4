#include "ChunkedArchive.h"

#include "zipformat/Directory.h"
#include "zipformat/EndRecord.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <random>
#include <span>
#include <stdexcept>

namespace zip32test {

ZpChunking testChunking(uint64_t smallestChunkedFile) {
    ZpChunking chunking{};
    chunking.smallestChunkedFile = smallestChunkedFile;
    chunking.minimumChunk = testMinimumChunk;
    chunking.averageChunk = testAverageChunk;
    chunking.maximumChunk = testMaximumChunk;
    return chunking;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

std::string textLines(std::size_t size, const std::string& lineEnd) {
    static const char* const words[] = {"morvane", "update", "chunk", "deflate", "window",
                                        "release", "the",    "of",    "a",       "package"};
    std::mt19937 generator(7);
    std::string text;
    while (text.size() < size) {
        const auto count = 3 + generator() % 9;
        for (unsigned i = 0; i < count; ++i) {
            text += words[generator() % std::size(words)];
            text += i + 1 < count ? " " : lineEnd;
        }
    }
    text.resize(size);
    return text;
}

std::map<std::string, EntryData> entryData(const std::string& archiveBytes) {
    using zipformat::read16;
    using zipformat::read32;
    const std::span bytes(reinterpret_cast<const unsigned char*>(archiveBytes.data()),
                          archiveBytes.size());
    const auto end = zipformat::findEndRecord(bytes);
    if (end.fit == zipformat::EndRecordPlace::Fit::none) {
        throw std::runtime_error("no end record");
    }
    const auto directory = zipformat::locationInEndRecord(&bytes[end.offset]);
    std::map<std::string, EntryData> entries;
    std::size_t at = directory.offset;
    for (uint64_t i = 0; i < directory.entryCount; ++i) {
        const unsigned char* record = &bytes[at];
        if (read32(record) != zipformat::centralHeaderSignature) {
            throw std::runtime_error("damaged central directory");
        }
        const std::size_t nameLength = read16(record + zipformat::centralNameLengthAt);
        const std::string name(reinterpret_cast<const char*>(record) + zipformat::centralHeaderSize,
                               nameLength);
        const unsigned char* local = &bytes[read32(record + zipformat::centralLocalOffsetAt)];
        EntryData entry;
        entry.offset = read32(record + zipformat::centralLocalOffsetAt) +
                       zipformat::localHeaderSize + read16(local + zipformat::localNameLengthAt) +
                       read16(local + zipformat::localExtraLengthAt);
        entry.compressedSize = read32(record + zipformat::centralCompressedSizeAt);
        entry.size = read32(record + zipformat::centralSizeAt);
        entry.method = read16(record + zipformat::centralMethodAt);
        entries[name] = entry;
        at += zipformat::centralHeaderSize + nameLength +
              read16(record + zipformat::centralExtraLengthAt) +
              read16(record + zipformat::centralCommentLengthAt);
    }
    return entries;
}

std::vector<ReportedChunk> chunksOf(const std::vector<ReportedChunk>& chunks,
                                    const std::string& entry) {
    std::vector<ReportedChunk> found;
    for (const ReportedChunk& chunk : chunks) {
        if (chunk.entry == entry) {
            found.push_back(chunk);
        }
    }
    return found;
}

} // namespace zip32test
