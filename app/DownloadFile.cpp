#include "app/DownloadPercent.h"
#include "app/PackageFile.h"
#include "app/frmUpdater.h"

#include "platform/Error.h"
#include "platform/Narrowing.h"
#include "text/Numbers.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

const std::string downloadSource = "frmUpdater::DownloadFile";
constexpr std::size_t chunkSize = 1024;
constexpr int32_t rangeStart = 0;

int32_t addReceived(int32_t received, std::size_t length) {
    if (length > static_cast<std::size_t>(std::numeric_limits<int32_t>::max() - received)) {
        platform::raiseError(platform::ErrorNumber::overflow, downloadSource);
    }
    return received + static_cast<int32_t>(length);
}

} // namespace

void frmUpdater::DownloadFile(const std::string& strURL, const std::string& strDestination) {
    m_toolkit.doEvents();
    Inet1->URL = strURL;
    Inet1->Execute("GET", "Range: bytes=" + std::to_string(rangeStart) + "-\r\n");
    while (Inet1->StillExecuting()) {
        m_toolkit.doEvents();
    }
    const int32_t total = platform::roundToInt32(
        text::leadingNumber(Inet1->GetHeader("Content-Length")), downloadSource);
    m_toolkit.doEvents();

    PackageFile file(fso().resolve(strDestination), downloadSource);
    int32_t received = 0;
    std::vector<std::uint8_t> chunk;
    do {
        chunk = Inet1->GetChunk(chunkSize);
        file.write(chunk.data(), chunk.size());
        received = addReceived(received, chunk.size());
        DownloadProgress(downloadPercent(received, total, downloadSource));
        m_toolkit.doEvents();
    } while (chunk.size() > 1);

    // Never hand a cut-off package to the unpacker as if it were whole.
    if (received < total) {
        throw platform::Error(platform::InternetTransfer::incompleteBody, downloadSource,
                              "the package ended after " + std::to_string(received) + " of " +
                                  std::to_string(total) + " bytes");
    }
    file.close();
}

void frmUpdater::DownloadProgress(const std::string& intPercent) {
    m_controls.ProgressBar1().setValue(static_cast<float>(text::leadingNumber(intPercent)));
}
