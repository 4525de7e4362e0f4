#include "fetch/PackageDownload.h"

#include "app/SourceLabels.h"

#include "PackageFile.h"
#include "delta/ContentRange.h"
#include "fetch/DownloadPercent.h"
#include "fetch/PartialPackage.h"

#include "fileio/Reading.h"
#include "platform/Error.h"
#include "platform/Narrowing.h"
#include "platform/files/PathText.h"
#include "platform/files/Room.h"
#include "text/Numbers.h"

#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace updater {

namespace {

const std::string downloadSource = sources::downloadFile;
constexpr std::size_t chunkSize = 1024;
constexpr int64_t rangeStart = 0;
// The kept part is read again in pieces this large, the window kept alive
// between them.
constexpr std::size_t rehashPiece = 1024 * 1024;

int64_t addReceived(int64_t received, std::size_t length) {
    if (length > static_cast<std::uint64_t>(std::numeric_limits<int64_t>::max() - received)) {
        platform::raiseError(platform::ErrorNumber::overflow, downloadSource);
    }
    return received + static_cast<int64_t>(length);
}

[[noreturn]] void refuse(const std::string& why,
                         std::int32_t number = platform::ErrorNumber::permissionDenied) {
    throw platform::Error(number, downloadSource, "the package was refused: " + why);
}

// Served bytes that differ from the signed answer are most often an earlier
// package a cache still holds after a release: said so, since waiting fixes it.
[[noreturn]] void refuseAsStale(const std::string& why) {
    refuse(why + "; a cache between here and the publisher may still hold an earlier package, "
                 "so the next run may find the right one",
           packageNotAsAnnounced);
}

std::string rangeRequest(std::uint64_t start, const std::string& validator) {
    std::string headers = "Range: bytes=" + std::to_string(start) + "-\r\n";
    if (!validator.empty()) {
        headers += "If-Range: " + validator + "\r\n";
    }
    return headers;
}

} // namespace

PackageDownload::PackageDownload(platform::InternetTransfer& transfer, StageContext& context,
                                 std::function<void(const std::string&)> progress)
    : m_transfer(transfer), m_context(context), m_progress(std::move(progress)) {}

const signature::ArrivingPackage& PackageDownload::download(const std::string& url,
                                                            const std::string& destination,
                                                            const Announced& announced) {
    m_announced = announced;
    m_arrived.restart();
    const std::string path = m_context.resolve(destination);
    const DownloadIdentity wanted = downloadIdentity(url, announced);
    if (const std::optional<KeptPart> kept = keptPart(path, wanted)) {
        if (resume(url, path, *kept)) {
            return m_arrived;
        }
        m_arrived.restart();
    }
    request(url, rangeRequest(rangeStart, ""));
    receiveWhole(path, wanted);
    return m_arrived;
}

void PackageDownload::request(const std::string& url, const std::string& headers) {
    m_context.pump();
    m_transfer.URL = url;
    m_transfer.Execute("GET", headers);
    while (m_transfer.StillExecuting()) {
        m_context.pumpWhileBusy();
    }
}

bool PackageDownload::resume(const std::string& url, const std::string& path,
                             const KeptPart& kept) {
    const Announced& announced = m_announced;
    request(url, rangeRequest(kept.bytes, kept.identity.validator()));
    const std::string rangeText = m_transfer.GetHeader("Content-Range");
    if (rangeText.empty()) {
        // The server sends the whole package after all: it starts over.
        receiveWhole(path, downloadIdentity(url, announced));
        return true;
    }
    const std::optional<delta::ContentRange> range = delta::parseContentRange(rangeText);
    const std::string length = m_transfer.GetHeader("Content-Length");
    const bool fits =
        range && range->first == kept.bytes && range->last + 1 == range->total &&
        (!announced || range->total == announced->size) &&
        (length.empty() || length == std::to_string(range->total - kept.bytes)) &&
        range->total <= static_cast<std::uint64_t>(std::numeric_limits<int64_t>::max());
    // A server or cache that ignores If-Range sends the rest of whatever it
    // has now: the rest must come named as the kept part was. (A part kept
    // unnamed, by a keyed download, is held to its announced digest.)
    DownloadIdentity answered = kept.identity;
    answered.etag = m_transfer.GetHeader("ETag");
    answered.lastModified = m_transfer.GetHeader("Last-Modified");
    if (!fits || !kept.identity.confirmedBy(answered)) {
        return false;
    }
    const auto total = static_cast<int64_t>(range->total);
    m_context.pump();
    platform::requireRoom(platform::folderOf(path), range->total - kept.bytes,
                          "the package the server announces", downloadSource);
    if (announced) {
        rehash(path, kept.bytes);
    }
    {
        PackageFile file(path, downloadSource, PackageFile::Opening::append);
        m_progress(downloadPercent(static_cast<int64_t>(kept.bytes), total, downloadSource));
        receive(file, static_cast<int64_t>(kept.bytes), total);
        forgetDownload(path, downloadSource);
        file.close();
    }
    // Kept bytes that are not what they were (a disk's fault, a hand's) are
    // no reason to refuse the package: it comes again whole, and that is
    // checked the same way.
    return !announced || m_arrived.digest() == announced->sha512;
}

void PackageDownload::receiveWhole(const std::string& path, DownloadIdentity identity) {
    const Announced& announced = m_announced;
    const std::string length = m_transfer.GetHeader("Content-Length");
    if (announced && !length.empty() && length != std::to_string(announced->size)) {
        refuseAsStale("the server sends " + length + " bytes, but the version answer announced " +
                      std::to_string(announced->size));
    }
    // A bound download knows its size even when the server does not say it;
    // without a size the body runs to its end (0: none given).
    const double expected = announced && length.empty() ? static_cast<double>(announced->size)
                                                        : text::leadingNumber(length);
    identity.etag = m_transfer.GetHeader("ETag");
    identity.lastModified = m_transfer.GetHeader("Last-Modified");
    m_context.pump();

    // A disk that cannot hold the package fails now, not after minutes; so
    // does a size past what any disk holds, before it is counted.
    if (expected >= 1) {
        constexpr double mostBytes = 18446744073709549568.0; // the largest double below 2^64
        platform::requireRoom(platform::folderOf(path),
                              static_cast<std::uint64_t>(std::min(expected, mostBytes)),
                              "the package the server announces", downloadSource);
    }
    const int64_t total = platform::roundToInt64(expected, downloadSource);
    PackageFile file(path, downloadSource, PackageFile::Opening::empty);
    // Said only once the file is empty: a kill in between keeps nothing.
    rememberDownload(path, identity, downloadSource);
    receive(file, 0, total);
    forgetDownload(path, downloadSource);
    if (announced) {
        if (m_arrived.digest() != announced->sha512) {
            refuseAsStale("it is not the package the version answer announced");
        }
    }
    file.close();
}

void PackageDownload::receive(PackageFile& file, int64_t start, int64_t total) {
    const Announced& announced = m_announced;
    int64_t received = start;
    std::vector<std::uint8_t> chunk;
    do {
        chunk = m_transfer.GetChunk(chunkSize);
        if (announced) {
            if (chunk.size() > announced->size - m_arrived.size()) {
                refuse("it is longer than the " + std::to_string(announced->size) +
                       " bytes the version answer announced");
            }
            m_arrived.add(chunk.data(), chunk.size());
        }
        file.write(chunk.data(), chunk.size());
        received = addReceived(received, chunk.size());
        m_progress(total > 0 ? downloadPercent(received, total, downloadSource)
                             : percentWithoutTotal(received));
        m_context.pumpWhileBusy();
    } while (chunk.size() > 1);

    // Never hand a cut-off package to the unpacker as if it were whole.
    if (received < total) {
        throw platform::Error(platform::InternetTransfer::incompleteBody, downloadSource,
                              "the package ended after " + std::to_string(received) + " of " +
                                  std::to_string(total) + " bytes");
    }
}

void PackageDownload::rehash(const std::string& path, std::uint64_t bytes) {
    struct stat status {};
    const fileio::UniqueFd fd = fileio::openRegularFile(path, status);
    if (!fd) {
        throw platform::systemError(errno, downloadSource, path);
    }
    std::vector<std::uint8_t> piece(rehashPiece);
    for (std::uint64_t at = 0; at < bytes;) {
        std::size_t got = 0;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), bytes - at));
        const int error = fileio::readAt(fd.get(), piece.data(), want, static_cast<off_t>(at), got);
        if (error != 0 || got != want) {
            throw platform::systemError(error != 0 ? error : EIO, downloadSource, path);
        }
        m_arrived.add(piece.data(), got);
        at += got;
        m_context.pump();
    }
}

} // namespace updater
