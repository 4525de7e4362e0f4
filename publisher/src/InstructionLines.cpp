#include "InstructionLines.h"

#include "delta/ChunkMap.h"
#include "delta/Manifest.h"
#include "text/LetterCase.h"
#include "text/Pieces.h"
#include "text/Slashes.h"
#include "text/Wildcards.h"

#include <algorithm>

namespace publisher {

namespace {

// "docs/deep" as the path field APP_PATH\docs\deep.
std::string installedFolder(const std::string& folder) {
    std::string field = "APP_PATH";
    if (!folder.empty()) {
        std::string path = folder;
        std::replace(path.begin(), path.end(), '/', '\\');
        field += "\\" + path;
    }
    return field;
}

// The parent folder and the name of a folder path.
std::pair<std::string, std::string> splitFolder(const std::string& folder) {
    const std::size_t slash = folder.rfind('/');
    if (slash == std::string::npos) {
        return {std::string(), folder};
    }
    return {folder.substr(0, slash), folder.substr(slash + 1)};
}

} // namespace

std::vector<std::string> instructionLines(const Release& release) {
    std::vector<std::string> lines;
    for (const std::string& folder : release.folders) {
        const auto [parent, name] = splitFolder(folder);
        lines.push_back("MAKEDIR;" + name + ";" + installedFolder(parent));
    }
    auto moves = release.files;
    std::stable_partition(moves.begin(), moves.end(),
                          [](const ReleaseFile& file) { return !file.folder.empty(); });
    for (const ReleaseFile& file : moves) {
        lines.push_back("MOVE;" + file.name + ";" + installedFolder(file.folder));
    }
    return lines;
}

bool InstructionLine::isMove() const {
    return fields.size() >= 3 && text::upperCase(fields[0]) == "MOVE";
}

std::vector<InstructionLine> instructionFileLines(std::string_view text) {
    std::vector<InstructionLine> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\r'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(text.size(), end + 1));
        if (text.starts_with('\n')) {
            text.remove_prefix(1);
        }
        lines.push_back({std::string(line), text::splitText(line, ';')});
    }
    return lines;
}

std::optional<LineMovingWritten> lineMovingWhatTheToolWrites(std::string_view text,
                                                             bool withChunkMap) {
    std::vector<std::string_view> written{delta::manifestEntryName};
    if (withChunkMap) {
        written.push_back(delta::chunkMapEntryName);
    }
    for (const InstructionLine& line : instructionFileLines(text)) {
        if (!line.isMove()) {
            continue;
        }
        const std::string source = text::withForwardSlashes(line.fields[1]);
        const std::string sourceName = source.substr(source.rfind('/') + 1);
        for (const std::string_view name : written) {
            if (text::matchesIgnoringCase(name, sourceName)) {
                return LineMovingWritten{line.text, name};
            }
        }
    }
    return std::nullopt;
}

std::string instructionFileText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

} // namespace publisher
