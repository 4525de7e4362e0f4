#include "app/frmUpdater.h"

#include "platform/Error.h"

// Stages that this build does not carry yet. Each raises a plain error so
// that the update run reports it instead of pretending to have done it.

void frmUpdater::UnzipPackage(const std::string&) {
    platform::raiseError(platform::ErrorNumber::invalidCall, "frmUpdater::UnzipPackage",
                         "unpacking is not part of this build");
}
