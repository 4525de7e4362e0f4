#include "http/SilenceWatch.h"

#include "http/CurlSupport.h"

namespace platform::curl {

namespace {

// "30 s", "0.5 s".
std::string secondsText(std::chrono::milliseconds span) {
    const auto count = span.count();
    std::string text = std::to_string(count / 1000);
    if (count % 1000 != 0) {
        std::string fraction = std::to_string(1000 + count % 1000).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text + " s";
}

} // namespace

SilenceWatch::SilenceWatch(std::chrono::milliseconds limit) : m_limit(limit) {}

void SilenceWatch::watch(CURL* easy) {
    m_easy = easy;
    m_lastMove = Clock::now();
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &SilenceWatch::progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
}

void SilenceWatch::hold(bool held) {
    if (m_held && !held) {
        m_lastMove = Clock::now();
    }
    m_held = held;
}

Error SilenceWatch::failure(CURLcode code, const char* errorBuffer,
                            const std::string& source) const {
    if (m_fired) {
        return Error(ErrorNumber::objectDefinedBase +
                         static_cast<int32_t>(CURLE_OPERATION_TIMEDOUT),
                     source, "the server sent nothing for " + secondsText(m_limit));
    }
    return transferError(code, errorBuffer, source);
}

int SilenceWatch::progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                           curl_off_t uploaded) {
    auto& watch = *static_cast<SilenceWatch*>(self);
    const Clock::time_point now = Clock::now();
    curl_off_t connected = 0;
    curl_easy_getinfo(watch.m_easy, CURLINFO_CONNECT_TIME_T, &connected);
    const curl_off_t moved = downloaded + uploaded;
    if (watch.m_held || connected == 0 || moved != watch.m_moved) {
        watch.m_moved = moved;
        watch.m_lastMove = now;
        return 0;
    }
    if (now - watch.m_lastMove >= watch.m_limit) {
        watch.m_fired = true;
        return 1;
    }
    return 0;
}

} // namespace platform::curl
