#include "http/TransferWatch.h"

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

TransferWatch::TransferWatch(std::chrono::milliseconds silence, std::chrono::milliseconds deadline,
                             std::uint64_t slowestRate, std::chrono::milliseconds slowWindow)
    : m_silence(silence), m_deadline(deadline), m_slowestRate(slowestRate),
      m_slowWindow(slowWindow) {}

void TransferWatch::watch(CURL* easy) {
    m_easy = easy;
    m_start = Clock::now();
    restartCounts(m_start);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &TransferWatch::progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
}

void TransferWatch::hold(bool held) {
    if (m_held && !held) {
        restartCounts(Clock::now());
    }
    m_held = held;
}

void TransferWatch::restartCounts(Clock::time_point now) {
    m_lastMove = now;
    m_windowStart = now;
    m_windowMoved = m_moved < 0 ? 0 : m_moved;
}

Error TransferWatch::failure(CURLcode code, const char* errorBuffer,
                             const std::string& source) const {
    std::string said;
    switch (m_fired) {
    case Reason::silence:
        said = "the server sent nothing for " + secondsText(m_silence);
        break;
    case Reason::deadline:
        said = "the server did not finish its answer within " + secondsText(m_deadline);
        break;
    case Reason::slowness:
        said = "the server sent less than " + std::to_string(m_slowestRate) +
               " bytes a second for " + secondsText(m_slowWindow);
        break;
    case Reason::none:
        return transferError(code, errorBuffer, source);
    }
    return Error(ErrorNumber::objectDefinedBase + static_cast<int32_t>(CURLE_OPERATION_TIMEDOUT),
                 source, said);
}

TransferWatch::Reason TransferWatch::check(curl_off_t moved) {
    const Clock::time_point now = Clock::now();
    if (m_deadline.count() > 0 && now - m_start >= m_deadline) {
        return Reason::deadline;
    }
    curl_off_t connected = 0;
    curl_easy_getinfo(m_easy, CURLINFO_CONNECT_TIME_T, &connected);
    // Neither silence nor slowness counts before the connection or while held.
    if (m_held || connected == 0) {
        m_moved = moved;
        restartCounts(now);
        m_counting = false;
        return Reason::none;
    }
    if (!m_counting) {
        m_counting = true;
        m_moved = moved;
        restartCounts(now);
        return Reason::none;
    }
    if (moved != m_moved) {
        m_moved = moved;
        m_lastMove = now;
    } else if (now - m_lastMove >= m_silence) {
        return Reason::silence;
    }
    if (m_slowestRate > 0 && now - m_windowStart >= m_slowWindow) {
        const auto windowMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_windowStart);
        const auto least = static_cast<curl_off_t>(
            m_slowestRate * static_cast<std::uint64_t>(windowMs.count()) / 1000);
        if (moved - m_windowMoved < least) {
            return Reason::slowness;
        }
        m_windowStart = now;
        m_windowMoved = moved;
    }
    return Reason::none;
}

int TransferWatch::progress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t,
                            curl_off_t uploaded) {
    auto& watch = *static_cast<TransferWatch*>(self);
    watch.m_fired = watch.check(downloaded + uploaded);
    return watch.m_fired == Reason::none ? 0 : 1;
}

} // namespace platform::curl
