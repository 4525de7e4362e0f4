#pragma once

#include "platform/files/FileSystem.h"
#include "platform/http/HttpRequest.h"
#include "platform/http/InternetTransfer.h"
#include "platform/shell/Shell.h"

#include <memory>

namespace platform {

// The platform services the window uses besides its toolkit. main picks the
// real ones; tests put their own in place of any of them.
class Services {
public:
    virtual ~Services() = default;
    // A new request object; the version check makes one per request.
    virtual std::unique_ptr<HttpRequest> newHttpRequest() = 0;
    // The window's file-system service object, made when first needed.
    virtual std::unique_ptr<FileSystem> newFileSystem() = 0;
    // The window's transfer component, made with the window.
    virtual std::unique_ptr<InternetTransfer> newInternetTransfer() = 0;
    virtual Shell& shell() = 0;
};

} // namespace platform
