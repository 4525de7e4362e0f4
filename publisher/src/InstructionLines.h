#pragma once

#include "Release.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publisher {

// The lines of the updater.ini that delivers a release as it stands: one
// MAKEDIR per folder, each after its parent's, then one MOVE per file into
// the matching folder under APP_PATH. The files at the top come last, so an
// update that stops part way leaves the old application in place and is
// offered again.
std::vector<std::string> instructionLines(const Release& release);

// The first line of an instruction file's text (lines end at CR LF or a lone
// CR, as the updater reads them) that is a MOVE whose source, as the updater
// matches it in its temp folder (wildcards, any letter case), takes the
// package's manifest; nothing when there is none.
std::optional<std::string> lineMovingTheManifest(std::string_view text);

// The lines as the file holds them: each ended by CR LF.
std::string instructionFileText(const std::vector<std::string>& lines);

} // namespace publisher
