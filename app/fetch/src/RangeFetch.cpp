#include "fetch/RangeFetch.h"

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
    return fetchOutcome(fetchReason(url, first, length, total, sink));
}

std::optional<std::string> RangeFetch::fetchReason(const std::string& url, std::uint64_t first,
                                                   std::uint64_t length, std::uint64_t total,
                                                   const Sink& sink) {
    const delta::AskedRange range{first, length, total};
    if (auto outside = delta::rangeOutsidePackage(range)) {
        return outside;
    }
    try {
        m_pump();
        m_transfer.URL = url;
        m_transfer.Execute("GET", delta::rangeHeaderLine(range));
        while (m_transfer.StillExecuting()) {
            m_pump();
        }
        if (auto refused = delta::contentRangeRefusal(range, m_transfer.GetHeader("Content-Range"),
                                                      m_transfer.GetHeader("Content-Length"))) {
            return refused;
        }
        for (std::uint64_t received = 0;;) {
            const std::vector<std::uint8_t> piece = m_transfer.GetChunk(pieceSize);
            received += piece.size();
            if (auto refused = delta::bodyRefusal(range, received, piece.empty())) {
                return refused;
            }
            if (piece.empty()) {
                return std::nullopt;
            }
            sink(piece.data(), piece.size());
            m_pump();
        }
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

} // namespace updater
