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

// One line of an instruction file, and its fields as the updater cuts it.
struct InstructionLine {
    std::string text;
    std::vector<std::string> fields;

    // A MOVE line the updater carries out: three fields or more, the first
    // MOVE in any letter case.
    bool isMove() const;
};

// The lines of an instruction file's text as the updater reads them: a line
// ends at CR LF or at a lone CR, a lone LF stays in it, and a text that ends
// with a line end has no empty line after it.
std::vector<InstructionLine> instructionFileLines(std::string_view text);

// A MOVE line that takes a file the tool writes into the package, and the
// name of that file.
struct LineMovingWritten {
    std::string line;
    std::string_view name;
};

// The first line of an instruction file's text that is a MOVE whose source,
// as the updater matches it in its temp folder (wildcards, any letter case),
// takes the package's manifest, or its chunk map when withChunkMap says the
// package carries one; nothing when there is none.
std::optional<LineMovingWritten> lineMovingWhatTheToolWrites(std::string_view text,
                                                             bool withChunkMap);

// The lines as the file holds them: each ended by CR LF.
std::string instructionFileText(const std::vector<std::string>& lines);

} // namespace publisher
