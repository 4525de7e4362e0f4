#pragma once

#include "app/Outcome.h"
#include "delta/RangeAnswer.h"
#include "platform/http/InternetTransfer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace updater {

// Pieces of the package by HTTP range requests, for an update that fetches
// only what the installation lacks. A piece is taken only when the answer is
// exactly that range of a package of the expected size (206 with the
// matching Content-Range, every byte, none more); anything else (a server
// without ranges, another range, a cut-off body, a failed transfer) is
// reported as the reason, never raised: the caller then downloads the whole
// package instead.
class RangeFetch {
public:
    using Sink = std::function<void(const std::uint8_t* data, std::size_t size)>;

    RangeFetch(platform::InternetTransfer& transfer, std::function<void()> pump);

    // Bytes [first, first + length) of the package at url of total bytes,
    // handed to sink as they arrive.
    Outcome<void> fetch(const std::string& url, std::uint64_t first, std::uint64_t length,
                        std::uint64_t total, const Sink& sink);

private:
    // The request and its answer; raises what the transfer raises.
    Outcome<void> receive(const std::string& url, const delta::AskedRange& range, const Sink& sink);

    platform::InternetTransfer& m_transfer;
    std::function<void()> m_pump;
};

} // namespace updater
