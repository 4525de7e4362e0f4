#include "platform/SystemServices.h"

#include "platform/files/DiskFileSystem.h"
#include "platform/http/CurlHttpRequest.h"
#include "platform/http/CurlInternetTransfer.h"

namespace platform {

std::unique_ptr<HttpRequest> SystemServices::newHttpRequest() {
    return std::make_unique<CurlHttpRequest>(m_limits.silence, m_limits.answerDeadline, m_network);
}

std::unique_ptr<FileSystem> SystemServices::newFileSystem() {
    return std::make_unique<DiskFileSystem>();
}

std::unique_ptr<InternetTransfer> SystemServices::newInternetTransfer() {
    return std::make_unique<CurlInternetTransfer>(m_limits.silence, m_limits.slowestRate,
                                                  m_limits.slowWindow, m_network);
}

} // namespace platform
