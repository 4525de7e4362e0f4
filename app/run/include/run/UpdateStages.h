#pragma once

#include "fetch/PackageDelta.h"
#include "run/InstructionStage.h"

#include "app/InstallationPaths.h"
#include "app/StageContext.h"
#include "fetch/PackageDownload.h"
#include "platform/Services.h"
#include "platform/http/InternetTransfer.h"
#include "platform/toolkit/Toolkit.h"
#include "run/ErrorLog.h"
#include "run/PackageSignatureCheck.h"
#include "run/PackageUnpacking.h"
#include "run/UpdaterSettings.h"
#include "run/VersionCheck.h"

#include <functional>
#include <string>

namespace updater {

// The stages of an update, made once with the window and kept as long as it
// (the version check keeps what it read from one run to the next). Each is
// given the window's context and nothing of another stage: a run hands each
// what the one before brought.
struct UpdateStages {
    // What the window is made with; progress moves its bar, with the
    // percentage as decimal text.
    struct Window {
        StageContext& context;
        platform::Toolkit& toolkit;
        platform::Services& services;
        platform::InternetTransfer& transfer;
        ErrorLog& log;
        std::function<void(const std::string&)> progress;
    };

    UpdateStages(const Window& window, const UpdaterSettings& settings,
                 const InstallationPaths& paths, const PublisherAddresses& addresses);

    VersionCheck versions;
    PackageDownload download;
    PackageSignatureCheck signature;
    PackageUnpacking unpacking;
    PackageDelta delta;
    InstructionStage instructions;
};

} // namespace updater
