#include "RangeFetch.h"

#include "ContentRange.h"

#include <exception>
#include <utility>
#include <vector>

namespace updater {

namespace {

constexpr std::size_t pieceSize = 64 * 1024;

} // namespace

RangeFetch::RangeFetch(platform::InternetTransfer& transfer, std::function<void()> pump)
    : m_transfer(transfer), m_pump(std::move(pump)) {}

std::optional<std::string> RangeFetch::fetch(const std::string& url, std::uint64_t first,
                                             std::uint64_t length, std::uint64_t total,
                                             const Sink& sink) {
    if (length == 0 || first + length > total || first + length < first) {
        return "the range asked for lies outside the package";
    }
    const std::uint64_t last = first + length - 1;
    try {
        m_pump();
        m_transfer.URL = url;
        m_transfer.Execute("GET", "Range: bytes=" + std::to_string(first) + "-" +
                                      std::to_string(last) + "\r\n");
        while (m_transfer.StillExecuting()) {
            m_pump();
        }
        const std::string rangeText = m_transfer.GetHeader("Content-Range");
        const std::optional<ContentRange> range = parseContentRange(rangeText);
        if (!range || range->first != first || range->last != last || range->total != total) {
            return "the server answered bytes " + std::to_string(first) + "-" +
                   std::to_string(last) + " with \"" + rangeText + "\"";
        }
        std::uint64_t received = 0;
        for (;;) {
            const std::vector<std::uint8_t> piece = m_transfer.GetChunk(pieceSize);
            if (piece.empty()) {
                break;
            }
            if (piece.size() > length - received) {
                return "the server sent more than bytes " + std::to_string(first) + "-" +
                       std::to_string(last);
            }
            sink(piece.data(), piece.size());
            received += piece.size();
            m_pump();
        }
        if (received != length) {
            return "bytes " + std::to_string(first) + "-" + std::to_string(last) + " ended after " +
                   std::to_string(received);
        }
        return std::nullopt;
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

} // namespace updater
