#pragma once

#include "platform/Error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// The window's HTTP transfer component: one request at a time, its answer's
// headers, and its body in pieces while the rest still arrives. A transfer
// that failed raises its error at every later GetHeader or GetChunk once
// what arrived before the failure is given: the headers of an answer whose
// body began, and every byte of the body received.
class InternetTransfer {
public:
    // A body that ended before its Content-Length.
    static constexpr int32_t incompleteBody = ErrorNumber::objectDefinedBase + 18;

    virtual ~InternetTransfer() = default;

    // The address of the next request.
    std::string URL;

    // operation is "GET" or "HEAD"; requestHeaders holds header lines
    // ("Name: value"), each ended by CR LF. Returns at once.
    virtual void Execute(const std::string& operation, const std::string& requestHeaders) = 0;
    // True while the request is under way and its answer has not begun.
    virtual bool StillExecuting() = 0;
    // The value of a header of the final response, the name compared without
    // regard to case; "" when there is none.
    virtual std::string GetHeader(const std::string& name) = 0;
    // The next bytes of the body, size of them unless fewer are left; empty
    // once the body is exhausted.
    virtual std::vector<std::uint8_t> GetChunk(std::size_t size) = 0;
    // Called while GetChunk waits for the network.
    virtual void setWaitHandler(std::function<void()> handler) = 0;
};

} // namespace platform
