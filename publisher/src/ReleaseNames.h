#pragma once

#include <string>

namespace publisher {

// Names of a release that updater.ini or the package could not carry: a ";"
// or a line end would cut the line, another control character but the tab
// is no entry name, "*" and "?" are wildcards, a "\" reads as a folder
// separator, in a folder name the text APP_PATH (in any letter case) would
// become the installation folder, a file named like the package would
// replace it in the update's temp folder, and at the top (atTop) a file or
// folder named temp would be the updater's own temp folder, one named
// .updater-journal its journal, one named like the package's manifest
// would meet it there, and a file named like its chunk map would be read as
// one. Returns why the name is refused, or the empty text.
std::string refusedNameReason(const std::string& name, bool isFolder, bool atTop);

} // namespace publisher
