#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

// When a transfer is given up, whatever the server does.
struct TransferLimits {
    // Nothing received for this long after the last byte (or after the
    // connection was made) fails a transfer.
    std::chrono::milliseconds silence = std::chrono::seconds(30);
    // The version request's whole time from its start; zero for none.
    std::chrono::milliseconds answerDeadline = std::chrono::seconds(30);
    // A download that brings less than slowestRate bytes a second over
    // slowWindow fails; a rate of zero for never.
    std::uint64_t slowestRate = 1024;
    std::chrono::milliseconds slowWindow = std::chrono::seconds(60);
};

} // namespace platform
