#pragma once

#include "platform/http/InternetTransfer.h"
#include "platform/http/NetworkAccess.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The transfer component over libcurl. Execute starts a request and returns
// at once; StillExecuting drives it, waiting at most 10 ms for network
// activity per call, until the final response has arrived and its body has
// begun. The body is kept in a bounded buffer in memory (1 MiB); when that is
// full the network transfer is paused until GetChunk has taken from it, so
// memory stays flat whatever the size of the body, nothing is written
// anywhere, and the caller copies and shows progress at the pace of the
// network.
// The network's way (proxy, extra certificate authorities) is the
// NetworkAccess's; redirects are followed (at most 10, never from https to
// http), a connection has 60 s to open and a response may be silent for 30 s
// after its last byte (a transfer paused for want of room is not silent).
// A proxy's demand for credentials (407) fails the transfer before any of
// its page is handed out.
//
// A transfer that failed (no connection, connection lost, a body shorter
// than its Content-Length) raises its error at every later GetHeader or
// GetChunk once the bytes of the body that arrived before it are taken:
// as NetworkReasons.h tells it: a kind of NetworkFailure.h, or
// objectDefinedBase + the transfer library's result code (incompleteBody
// for a short body) described as the library words it, or "the server sent
// nothing for 30 s" for a silent one.
// Misuse raises error 5.
class CurlInternetTransfer : public InternetTransfer {
public:
    static constexpr std::chrono::milliseconds defaultSilenceLimit = std::chrono::seconds(30);

    // A body that brings less than slowestRate bytes a second over
    // slowWindow fails too ("the server sent less than ..."); zero: never.
    explicit CurlInternetTransfer(std::chrono::milliseconds silenceLimit = defaultSilenceLimit,
                                  std::uint64_t slowestRate = 0,
                                  std::chrono::milliseconds slowWindow = {},
                                  std::shared_ptr<const NetworkAccess> network = nullptr);
    ~CurlInternetTransfer() override;
    CurlInternetTransfer(const CurlInternetTransfer&) = delete;
    CurlInternetTransfer& operator=(const CurlInternetTransfer&) = delete;

    // operation is "GET" or "HEAD"; requestHeaders holds header lines
    // ("Name: value"), each ended by CR LF. An earlier request still under
    // way is abandoned.
    void Execute(const std::string& operation, const std::string& requestHeaders) override;
    // True while the request is under way and its answer has not begun;
    // false once the final response's body has begun or the request has
    // finished, successfully or not, and when there is none.
    bool StillExecuting() override;
    // The value of a header of the final response (after redirects), the
    // name compared without regard to case; "" when there is none. Waits for
    // the answer.
    std::string GetHeader(const std::string& name) override;
    // The next bytes of the body, size of them unless fewer are left; empty
    // once the body is exhausted. Waits until that many have arrived or the
    // transfer has ended, calling the wait handler between polls; any size
    // may be asked for, also more than the buffer holds.
    std::vector<std::uint8_t> GetChunk(std::size_t size) override;

    // Called while GetChunk waits for the network, so that the window stays
    // alive through a slow or stalled transfer.
    void setWaitHandler(std::function<void()> handler) override {
        m_whileWaiting = std::move(handler);
    }

private:
    class Session;

    // The request once its answer has begun or it has finished (null when
    // there is none); raises its failure.
    Session* answeredSession();

    std::chrono::milliseconds m_silenceLimit;
    std::uint64_t m_slowestRate;
    std::chrono::milliseconds m_slowWindow;
    std::shared_ptr<const NetworkAccess> m_network;
    std::function<void()> m_whileWaiting;
    std::unique_ptr<Session> m_session;
};

} // namespace platform
