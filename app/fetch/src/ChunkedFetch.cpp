#include "fetch/ChunkedFetch.h"
#include "fetch/FetchFailure.h"

#include "SideDigest.h"

#include "delta/ChunkInflater.h"
#include "delta/DeltaError.h"
#include "fileio/BufferedFile.h"
#include "fileio/Failure.h"
#include "fileio/Names.h"
#include "fileio/Reading.h"
#include "fileio/Writing.h"
#include "zipformat/EntryData.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <cerrno>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <vector>

namespace updater {

namespace {

constexpr std::size_t fileBuffer = 256 * 1024;
constexpr std::size_t copyPiece = 64 * 1024;

} // namespace

ChunkedFetch::ChunkedFetch(RangeFetch& fetch, Received received)
    : m_fetch(fetch), m_received(std::move(received)) {}

Outcome<void> ChunkedFetch::fetch(const Source& source, const std::string& to, mode_t mode,
                                  delta::Sha256& written) {
    if (auto failure = delta::chunksMismatch(source.entry, source.chunks)) {
        return needWholePackage(FetchFailureKind::notAsSigned, *failure);
    }
    const Outcome<std::uint64_t> offset = dataOffset(source);
    if (!offset) {
        return offset.failure();
    }
    fileio::UniqueFd fd =
        fileio::openFile(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (!fd) {
        return needWholePackage(FetchFailureKind::localFiles,
                                "cannot write " + to + ": " + fileio::systemReason(errno));
    }
    // The creation mask may have taken bits the mode asks for.
    Outcome<void> rebuilt;
    if (::fchmod(fd.get(), mode) != 0) {
        rebuilt =
            needWholePackage(FetchFailureKind::localFiles,
                             "cannot give " + to + " its mode: " + fileio::systemReason(errno));
    } else {
        rebuilt = rebuild(source, offset.value(), fd.release(), written);
    }
    if (!rebuilt) {
        (void)fileio::removeFile(to);
    }
    return rebuilt;
}

// Where the entry's data begins: past its local header, name and extra
// field, which only the local header gives.
Outcome<std::uint64_t> ChunkedFetch::dataOffset(const Source& source) {
    std::vector<unsigned char> header;
    if (auto fetched = m_fetch.fetch(source.url, source.span.offset, zipformat::localHeaderSize,
                                     source.packageSize,
                                     [&header](const std::uint8_t* data, std::size_t size) {
                                         header.insert(header.end(), data, data + size);
                                     });
        !fetched) {
        return within("the local header of " + source.entry.name + ": ", fetched);
    }
    m_received(header.size());
    if (header.size() != zipformat::localHeaderSize ||
        zipformat::read32(header.data()) != zipformat::localHeaderSignature) {
        return needWholePackage(FetchFailureKind::notAsSigned,
                                "the chunked entry " + source.entry.name +
                                    " has no local header at its offset");
    }
    const std::uint64_t offset = source.span.offset + zipformat::localHeaderSize +
                                 zipformat::read16(header.data() + zipformat::localNameLengthAt) +
                                 zipformat::read16(header.data() + zipformat::localExtraLengthAt);
    if (offset + source.entry.compressedSize > source.span.offset + source.span.length) {
        return needWholePackage(FetchFailureKind::notAsSigned, "the chunked entry " +
                                                                   source.entry.name +
                                                                   "'s data does not fit its span");
    }
    return offset;
}

Outcome<void> ChunkedFetch::copyHeld(const Source& source, std::size_t& index,
                                     fileio::BufferedFile& out, SideDigest& whole) {
    const auto& steps = source.plan.steps;
    const auto& chunks = source.chunks.chunks;
    const std::uint64_t start = steps[index].heldOffset;
    std::uint64_t length = 0;
    do {
        length += chunks[index].size;
        ++index;
    } while (index < steps.size() && !steps[index].fetched &&
             steps[index].heldOffset == start + length);
    for (std::uint64_t done = 0; done < length;) {
        SideDigest::Buffer piece = whole.emptyBuffer();
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(copyPiece, length - done));
        const auto at = static_cast<off_t>(start + done);
        if (const int error = fileio::readAt(source.installed.file.get(), piece.bytes.get(), wanted,
                                             at, piece.size)) {
            return needWholePackage(FetchFailureKind::localFiles, "cannot read " +
                                                                      source.installed.path + ": " +
                                                                      fileio::systemReason(error));
        }
        if (piece.size != wanted) {
            return needWholePackage(FetchFailureKind::localFiles,
                                    source.installed.path + " changed while the update read it");
        }
        if (const int error =
                out.copyFrom(source.installed.file.get(), at, piece.bytes.get(), piece.size)) {
            return writeFailure(source, error);
        }
        // Hashed on the side while the next piece is read and copied.
        whole.add(std::move(piece));
        done += wanted;
    }
    return {};
}

// The fetched chunks side by side from chunk index on, in one request,
// each inflated alone; index ends past them.
Outcome<void> ChunkedFetch::fetchRun(const Source& source, std::uint64_t dataOffset,
                                     const delta::ByteSpan& request, std::size_t& index,
                                     const Write& write) {
    const auto& chunks = source.chunks.chunks;
    delta::ChunkInflater inflater(write);
    std::optional<std::string> failure;
    std::size_t failed = index;
    std::uint64_t left = chunks[index].compressedSize;
    inflater.start(chunks[index], index + 1 == chunks.size());
    const auto take = [&](const std::uint8_t* data, std::size_t size) {
        m_received(size);
        for (std::span<const unsigned char> bytes(data, size); !failure && !bytes.empty();) {
            const std::size_t taken = inflater.take(bytes);
            bytes = bytes.subspan(taken);
            left -= taken;
            if (left > 0) {
                continue;
            }
            if ((failure = inflater.finish())) {
                failed = index;
            }
            // The next chunk of the run begins at once, even where this one
            // ended with the piece: its bytes come with the next piece.
            if (++index < chunks.size() && source.plan.steps[index].fetched) {
                left = chunks[index].compressedSize;
                inflater.start(chunks[index], index + 1 == chunks.size());
            } else if (!bytes.empty()) {
                failure = "more bytes came than its chunks have";
                failed = index - 1;
            }
        }
    };
    if (auto fetched = m_fetch.fetch(source.url, dataOffset + request.offset, request.length,
                                     source.packageSize, take);
        !fetched) {
        return within("the chunks of " + source.entry.name + " from chunk " +
                          std::to_string(failed) + " on: ",
                      fetched);
    }
    if (failure) {
        return needWholePackage(FetchFailureKind::notAsSigned, "chunk " + std::to_string(failed) +
                                                                   " of " + source.entry.name +
                                                                   ": " + *failure);
    }
    return {};
}

// Every chunk in order into file (which this closes): copied from the
// installed file or fetched, the whole file hashed as it is written.
Outcome<void> ChunkedFetch::rebuild(const Source& source, std::uint64_t dataOffset, int file,
                                    delta::Sha256& written) {
    fileio::BufferedFile out(fileio::UniqueFd(file), fileBuffer);
    SideDigest whole(source.entry.name, copyPiece);
    int writeError = 0;
    const auto write = [&](std::span<const unsigned char> bytes) {
        if (writeError == 0) {
            whole.add(bytes);
            writeError = out.write(bytes.data(), bytes.size());
        }
    };
    const auto& steps = source.plan.steps;
    std::size_t request = 0;
    for (std::size_t i = 0; i < steps.size() && writeError == 0;) {
        const Outcome<void> taken =
            steps[i].fetched
                ? fetchRun(source, dataOffset, source.plan.requests[request++], i, write)
                : copyHeld(source, i, out, whole);
        if (!taken) {
            return taken;
        }
    }
    if (const int error = writeError != 0 ? writeError : out.close()) {
        return writeFailure(source, error);
    }
    written = whole.finish();
    if (written != source.sha256) {
        // Every fetched chunk was the map's: a held one is no longer what the
        // cut found, or the map does not describe the listed file.
        return needWholePackage(FetchFailureKind::localFiles,
                                "the rebuilt " + source.entry.name +
                                    " is not the file the manifest lists: " +
                                    source.installed.path + " changed while the update read it");
    }
    return {};
}

Failure ChunkedFetch::writeFailure(const Source& source, int error) {
    return needWholePackage(FetchFailureKind::localFiles, "cannot write the rebuilt " +
                                                              source.entry.name + ": " +
                                                              fileio::systemReason(error));
}

} // namespace updater
