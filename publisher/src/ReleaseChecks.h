#pragma once

#include "Release.h"

#include <ostream>
#include <string>

namespace publisher {

// The installed version the updater reads from the release's morvane.exe
// once it is installed (its file version's first, second and fourth part)
// must be the version published: a lower one offers the update again at every
// start, a higher one holds back the releases up to it. Refused
// (PublishError) when it is another; a release without morvane.exe at its
// top, or one whose file version cannot be read, is noted on report, as
// every user is then offered the update again.
void checkApplicationVersion(const Release& release, const std::string& version,
                             std::ostream& report);

// The release's own updater.ini, when it brings one: every MOVE line must
// take a file the package brings into the update's temp folder, where the
// updater looks for it (the temp folder and the source as written, every
// file unpacked there without its folder), and none may take the package's
// manifest or, when it carries one, its chunk map. Refused (PublishError) otherwise, since every
// user's update would fail at that line. A source that leads out of the temp folder takes a file of
// the installation, which is noted on report.
void checkOwnInstructions(const Release& release, std::ostream& report);

} // namespace publisher
