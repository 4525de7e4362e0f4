#pragma once

#include "Release.h"

#include <string>
#include <vector>

namespace publisher {

// The lines of the updater.ini that delivers a release as it stands: one
// MAKEDIR per folder, each after its parent's, then one MOVE per file into
// the matching folder under APP_PATH. The files at the top come last, so an
// update that stops part way leaves the old application in place and is
// offered again.
std::vector<std::string> instructionLines(const Release& release);

// The lines as the file holds them: each ended by CR LF.
std::string instructionFileText(const std::vector<std::string>& lines);

} // namespace publisher
