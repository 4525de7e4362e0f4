#pragma once

#include "platform/Error.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace platform::curl {

// Gives a transfer up when the server falls silent, when a deadline passes,
// or when it sends too slowly, and says which in plain words.
// Silence counts from the last byte that moved, so a server that drips a few
// bytes and then stalls is given up one limit after its last byte (curl's
// own check averages the speed over seconds). The time before the
// connection is made is the connect timeout's, not this; while held (the
// program is not taking the body yet) neither silence nor slowness counts.
class TransferWatch {
public:
    // deadline zero: none; slowestRate zero: no rate is too slow.
    explicit TransferWatch(std::chrono::milliseconds silence,
                           std::chrono::milliseconds deadline = {}, std::uint64_t slowestRate = 0,
                           std::chrono::milliseconds slowWindow = {});

    TransferWatch(const TransferWatch&) = delete;
    TransferWatch& operator=(const TransferWatch&) = delete;

    // Becomes easy's progress function; the watch must outlive the transfer.
    void watch(CURL* easy);

    // While held silence and slowness do not count; releasing starts their
    // count again.
    void hold(bool held);

    // Whether this watch stopped the transfer.
    bool gaveUp() const { return m_fired != Reason::none; }

    // The failure of a transfer that ended with code: in this watch's words
    // when it stopped it (number objectDefinedBase + CURLE_OPERATION_TIMEDOUT),
    // otherwise in the library's.
    Error failure(CURLcode code, const char* errorBuffer, const std::string& source) const;

private:
    enum class Reason { none, silence, deadline, slowness };
    using Clock = std::chrono::steady_clock;

    static int progress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                        curl_off_t uploadTotal, curl_off_t uploaded);
    Reason check(curl_off_t moved);
    void restartCounts(Clock::time_point now);

    std::chrono::milliseconds m_silence;
    std::chrono::milliseconds m_deadline;
    std::uint64_t m_slowestRate;
    std::chrono::milliseconds m_slowWindow;
    CURL* m_easy = nullptr;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastMove = m_start;
    // The window slowness is measured over: when it began and what had moved.
    Clock::time_point m_windowStart = m_start;
    curl_off_t m_windowMoved = 0;
    curl_off_t m_moved = -1;
    bool m_held = false;
    bool m_counting = false;
    Reason m_fired = Reason::none;
};

} // namespace platform::curl
