#include "fetch/RangeFetch.h"

#include "delta/ContentRange.h"
#include "delta/RangeAnswer.h"
#include "fetch/FetchFailure.h"

#include <exception>
#include <utility>
#include <vector>

namespace updater {

namespace {

constexpr std::size_t pieceSize = 64 * 1024;

} // namespace

RangeFetch::RangeFetch(platform::InternetTransfer& transfer, std::function<void()> pump)
    : m_transfer(transfer), m_pump(std::move(pump)) {}

Outcome<void> RangeFetch::fetch(const std::string& url, std::uint64_t first, std::uint64_t length,
                                std::uint64_t total, const Sink& sink) {
    const delta::AskedRange range{first, length, total};
    if (auto outside = delta::rangeOutsidePackage(range)) {
        return needWholePackage(FetchFailureKind::notOffered, *outside);
    }
    try {
        return receive(url, range, sink);
    } catch (const std::exception& failure) {
        return needWholePackage(FetchFailureKind::transferFailed, failure.what());
    }
}

Outcome<void> RangeFetch::receive(const std::string& url, const delta::AskedRange& range,
                                  const Sink& sink) {
    m_pump();
    m_transfer.URL = url;
    m_transfer.Execute("GET", delta::rangeHeaderLine(range));
    while (m_transfer.StillExecuting()) {
        m_pump();
    }
    const std::string answered = m_transfer.GetHeader("Content-Range");
    if (auto refused =
            delta::contentRangeRefusal(range, answered, m_transfer.GetHeader("Content-Length"))) {
        // A range of a package of another size is of another package.
        const auto parsed = delta::parseContentRange(answered);
        return needWholePackage(parsed && parsed->total != range.total
                                    ? FetchFailureKind::notAsSigned
                                    : FetchFailureKind::rangesRefused,
                                *refused);
    }
    for (std::uint64_t received = 0;;) {
        const std::vector<std::uint8_t> piece = m_transfer.GetChunk(pieceSize);
        received += piece.size();
        if (auto refused = delta::bodyRefusal(range, received, piece.empty())) {
            return needWholePackage(FetchFailureKind::rangesRefused, *refused);
        }
        if (piece.empty()) {
            return {};
        }
        sink(piece.data(), piece.size());
        m_pump();
    }
}

} // namespace updater
