#pragma once

#include "platform/Error.h"

#include <curl/curl.h>

#include <chrono>
#include <string>

namespace platform::curl {

// Fails a transfer once the server has sent nothing for the whole limit.
// The time counts from the last byte that moved, so a server that drips a
// few bytes and then stalls is given up one limit after its last byte (an
// average speed over several seconds would keep it alive longer). The time
// before the connection is made is the connect timeout's, not this.
class SilenceWatch {
public:
    explicit SilenceWatch(std::chrono::milliseconds limit);

    SilenceWatch(const SilenceWatch&) = delete;
    SilenceWatch& operator=(const SilenceWatch&) = delete;

    // Becomes easy's progress function; the watch must outlive the transfer.
    void watch(CURL* easy);

    // While held (the program is not taking the body yet) silence does not
    // count; releasing starts the count again.
    void hold(bool held);

    // The failure of a transfer that ended with code: told as silence when
    // the watch stopped it, otherwise in the library's words.
    Error failure(CURLcode code, const char* errorBuffer, const std::string& source) const;

private:
    static int progress(void* self, curl_off_t downloadTotal, curl_off_t downloaded,
                        curl_off_t uploadTotal, curl_off_t uploaded);

    using Clock = std::chrono::steady_clock;

    std::chrono::milliseconds m_limit;
    CURL* m_easy = nullptr;
    Clock::time_point m_lastMove = Clock::now();
    curl_off_t m_moved = -1;
    bool m_held = false;
    bool m_fired = false;
};

} // namespace platform::curl
