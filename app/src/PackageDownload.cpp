#include "app/PackageDownload.h"

#include "PackageFile.h"
#include "app/DownloadPercent.h"

#include "platform/Error.h"
#include "platform/Narrowing.h"
#include "platform/files/PathText.h"
#include "platform/files/Room.h"
#include "text/Numbers.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace updater {

namespace {

const std::string downloadSource = "frmUpdater::DownloadFile";
constexpr std::size_t chunkSize = 1024;
constexpr int64_t rangeStart = 0;

int64_t addReceived(int64_t received, std::size_t length) {
    if (length > static_cast<std::uint64_t>(std::numeric_limits<int64_t>::max() - received)) {
        platform::raiseError(platform::ErrorNumber::overflow, downloadSource);
    }
    return received + static_cast<int64_t>(length);
}

[[noreturn]] void refuse(const std::string& why) {
    throw platform::Error(platform::ErrorNumber::permissionDenied, downloadSource,
                          "the package was refused: " + why);
}

} // namespace

PackageDownload::PackageDownload(platform::InternetTransfer& transfer, std::function<void()> pump,
                                 std::function<std::string(const std::string&)> resolve,
                                 std::function<void(const std::string&)> progress,
                                 std::function<const Announced&()> announced)
    : m_transfer(transfer), m_pump(std::move(pump)), m_resolve(std::move(resolve)),
      m_progress(std::move(progress)), m_announced(std::move(announced)) {}

void PackageDownload::download(const std::string& url, const std::string& destination) {
    const Announced& announced = m_announced();
    m_arrived.restart();
    m_pump();
    m_transfer.URL = url;
    m_transfer.Execute("GET", "Range: bytes=" + std::to_string(rangeStart) + "-\r\n");
    while (m_transfer.StillExecuting()) {
        m_pump();
    }
    const std::string length = m_transfer.GetHeader("Content-Length");
    if (announced && !length.empty() && length != std::to_string(announced->size)) {
        refuse("the server sends " + length + " bytes, but the version answer announced " +
               std::to_string(announced->size));
    }
    // A bound download knows its size even when the server does not say it.
    const double expected = announced && length.empty() ? static_cast<double>(announced->size)
                                                        : text::leadingNumber(length);
    const int64_t total = platform::roundToInt64(expected, downloadSource);
    m_pump();

    const std::string path = m_resolve(destination);
    // A disk that cannot hold the package fails now, not after minutes.
    if (total > 0) {
        platform::requireRoom(platform::folderOf(path), static_cast<std::uint64_t>(total),
                              "the package", downloadSource);
    }
    PackageFile file(path, downloadSource);
    int64_t received = 0;
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
        m_progress(downloadPercent(received, total, downloadSource));
        m_pump();
    } while (chunk.size() > 1);

    // Never hand a cut-off package to the unpacker as if it were whole.
    if (received < total) {
        throw platform::Error(platform::InternetTransfer::incompleteBody, downloadSource,
                              "the package ended after " + std::to_string(received) + " of " +
                                  std::to_string(total) + " bytes");
    }
    if (announced) {
        if (m_arrived.digest() != announced->sha512) {
            refuse("it is not the package the version answer announced");
        }
    }
    file.close();
}

} // namespace updater
