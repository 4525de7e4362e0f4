#pragma once

#include "platform/Error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The window's HTTP transfer component. Execute starts a request and returns
// at once; StillExecuting drives it, waiting at most 10 ms for network
// activity per call, until the final response has arrived and its body has
// begun. The body is kept in a bounded buffer in memory (1 MiB); when that is
// full the network transfer is paused until GetChunk has taken from it, so
// memory stays flat whatever the size of the body, nothing is written
// anywhere, and the caller copies and shows progress at the pace of the
// network.
// Redirects are followed (at most 10), proxies come from the environment, a
// connection has 60 s to open and a response may be silent for 30 s (a
// transfer paused for want of room is not silent).
//
// A transfer that failed (no connection, connection lost, a body shorter
// than its Content-Length) raises its error at every later GetHeader or
// GetChunk: number objectDefinedBase + the transfer library's result code
// (incompleteBody for a short body), description as the library words it.
// Misuse raises error 5.
class InternetTransfer {
public:
    static constexpr std::chrono::seconds defaultSilenceLimit{30};
    static constexpr int32_t incompleteBody = ErrorNumber::objectDefinedBase + 18;

    explicit InternetTransfer(std::chrono::seconds silenceLimit = defaultSilenceLimit);
    ~InternetTransfer();
    InternetTransfer(const InternetTransfer&) = delete;
    InternetTransfer& operator=(const InternetTransfer&) = delete;

    // The address of the next request.
    std::string URL;

    // operation is "GET" or "HEAD"; requestHeaders holds header lines
    // ("Name: value"), each ended by CR LF. An earlier request still under
    // way is abandoned.
    void Execute(const std::string& operation, const std::string& requestHeaders);
    // True while the request is under way and its answer has not begun;
    // false once the final response's body has begun or the request has
    // finished, successfully or not, and when there is none.
    bool StillExecuting();
    // The value of a header of the final response (after redirects), the
    // name compared without regard to case; "" when there is none. Waits for
    // the answer.
    std::string GetHeader(const std::string& name);
    // The next bytes of the body, size of them unless fewer are left; empty
    // once the body is exhausted. Waits until that many have arrived or the
    // transfer has ended, calling the wait handler between polls; any size
    // may be asked for, also more than the buffer holds.
    std::vector<std::uint8_t> GetChunk(std::size_t size);

    // Called while GetChunk waits for the network, so that the window stays
    // alive through a slow or stalled transfer.
    void setWaitHandler(std::function<void()> handler) { m_whileWaiting = std::move(handler); }

private:
    class Session;

    // The request once its answer has begun or it has finished (null when
    // there is none); raises its failure.
    Session* answeredSession();

    std::chrono::seconds m_silenceLimit;
    std::function<void()> m_whileWaiting;
    std::unique_ptr<Session> m_session;
};

} // namespace platform
