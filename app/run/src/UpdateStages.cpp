#include "run/UpdateStages.h"

#include "fetch/DownloadPercent.h"

#include <ctime>

namespace updater {

UpdateStages::UpdateStages(const Window& window, const UpdaterSettings& settings,
                           const InstallationPaths& paths)
    : packageAddress("http://" + settings.packageHost + "/clientfiles/morvane/morvane.zip"),
      versions(window.services, window.context, paths.application(),
               "http://" + settings.versionHost + "/clientfiles/morvane/version.php",
               settings.packageKey, [] { return static_cast<std::int64_t>(std::time(nullptr)); }),
      download(window.transfer, window.context, window.progress,
               [this]() -> const PackageDownload::Announced& { return versions.release(); }),
      signature(
          settings.packageKey,
          [this]() -> const signature::ArrivingPackage& { return download.arrived(); }, versions),
      unpacking(window.toolkit, paths.tempFolder()),
      delta(
          window.transfer, [&context = window.context] { context.pumpWhileBusy(); },
          [progress = window.progress](std::uint64_t received, std::uint64_t total) {
              progress(plannedPercent(received, total));
          }),
      instructions(paths, window.context, window.services.shell(), window.log) {}

} // namespace updater
