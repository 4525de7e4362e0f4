#include "run/UpdateStages.h"

#include "fetch/DownloadPercent.h"

#include <ctime>

namespace updater {

UpdateStages::UpdateStages(const Window& window, const UpdaterSettings& settings,
                           const InstallationPaths& paths, const PublisherAddresses& addresses)
    : versions(window.services, window.context, paths.application(), addresses.versionAnswer,
               settings.keys(), paths.trustRecord(),
               [] { return static_cast<std::int64_t>(std::time(nullptr)); }),
      download(window.transfer, window.context, window.progress),
      signature(settings.keys().keyed()), unpacking(window.toolkit, paths.tempFolder()),
      delta(
          window.transfer, [&context = window.context] { context.pumpWhileBusy(); },
          [progress = window.progress](std::uint64_t received, std::uint64_t total) {
              progress(plannedPercent(received, total));
          }),
      instructions(paths, window.context, window.services.shell(), window.log) {}

} // namespace updater
