#include "ReleaseChecks.h"

#include "InstructionLines.h"
#include "delta/ChunkMap.h"
#include "delta/Manifest.h"
#include "fileio/Failure.h"
#include "fileio/Reading.h"
#include "platform/version/ByteSource.h"
#include "platform/version/FileVersion.h"
#include "publisher/PublishError.h"
#include "text/LetterCase.h"
#include "text/Pieces.h"
#include "text/Slashes.h"
#include "text/VersionPieces.h"
#include "text/Wildcards.h"

#include <algorithm>

namespace publisher {

namespace {

const char* const applicationName = "morvane.exe";

const ReleaseFile* topFileNamed(const Release& release, const std::string& name) {
    const auto found =
        std::find_if(release.files.begin(), release.files.end(), [&](const ReleaseFile& file) {
            return file.folder.empty() && text::foldCase(file.name) == text::foldCase(name);
        });
    return found == release.files.end() ? nullptr : &*found;
}

std::string joinedPieces(const text::VersionPieces& pieces) {
    return pieces[0] + "." + pieces[1] + "." + pieces[2];
}

// The file version as the updater keeps an installed one: its first, second
// and fourth part; a part it lacks stays empty.
text::VersionPieces installedPieces(const std::string& fileVersion) {
    const std::vector<std::string> parts = text::splitText(fileVersion, '.');
    const auto part = [&parts](std::size_t index) {
        return index < parts.size() ? parts[index] : std::string();
    };
    return {part(0), part(1), part(3)};
}

std::string fileVersionOf(const Release& release, const ReleaseFile& file) {
    auto bytes = platform::FileByteSource::of(openAsRead(release, file));
    return bytes ? platform::readFileVersion(*bytes) : std::string();
}

std::string instructionText(const Release& release, const ReleaseFile& file) {
    const fileio::UniqueFd fd = openAsRead(release, file);
    std::string text;
    if (const int failure = fileio::readToEnd(fd.get(), text); failure != 0) {
        throw PublishError("cannot read " + file.path + ": " + fileio::systemReason(failure));
    }
    return text;
}

// Where a MOVE line's source lies as the updater forms it, the temp folder
// and the source as written: in the temp folder itself, out of it (a ".."
// first), or in a folder below it, which unpacking never makes.
enum class SourcePlace { temp, outside, below };

SourcePlace placeOf(const std::vector<std::string>& pieces) {
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        if (pieces[i].empty() || pieces[i] == ".") {
            continue;
        }
        return pieces[i] == ".." ? SourcePlace::outside : SourcePlace::below;
    }
    return SourcePlace::temp;
}

bool packageBrings(const Release& release, const std::string& name) {
    return std::any_of(release.files.begin(), release.files.end(), [&](const ReleaseFile& file) {
        return text::hasWildcards(name) ? text::matchesIgnoringCase(file.name, name)
                                        : text::foldCase(file.name) == text::foldCase(name);
    });
}

PublishError failingLine(const ReleaseFile& file, const std::string& line, const std::string& why,
                         const std::string& error, const std::string& advice) {
    return PublishError("the release's " + file.path + " has the line \"" + line + "\", " + why +
                        ": every user's update would stop there with \"" + error + "\". " + advice);
}

void checkMoveSource(const Release& release, const ReleaseFile& file, const InstructionLine& line,
                     std::ostream& report) {
    const std::string& source = line.fields[1];
    const std::vector<std::string> pieces = text::splitText(text::withForwardSlashes(source), '/');
    const std::string& name = pieces.back();
    switch (placeOf(pieces)) {
    case SourcePlace::outside:
        report << "note: the line \"" << line.text << "\" of " << file.path
               << " takes a file of the installation, not of the package: every installation "
                  "must hold it\n";
        return;
    case SourcePlace::below:
        throw failingLine(file, line.text,
                          "whose source " + source + " lies in a folder of the temp folder",
                          "Path not found",
                          "The update unpacks every file into the temp folder without its "
                          "folder: name the file alone.");
    case SourcePlace::temp:
        if (name.empty() || !packageBrings(release, name)) {
            throw failingLine(file, line.text,
                              "whose source " + source + " is no file of the package",
                              "File not found", "Name a file the release holds.");
        }
        return;
    }
}

} // namespace

void checkApplicationVersion(const Release& release, const std::string& version,
                             std::ostream& report) {
    const ReleaseFile* application = topFileNamed(release, applicationName);
    if (application == nullptr) {
        report << "note: the release brings no " << applicationName
               << " at its top, so the installed version stays as it is and the updater "
                  "will offer this update again\n";
        return;
    }
    const std::string fileVersion = fileVersionOf(release, *application);
    if (fileVersion.empty()) {
        report << "note: " << application->path
               << " carries no file version the updater can read, so the installed version "
                  "stays unknown and the updater will offer this update again at every start\n";
        return;
    }
    const text::VersionPieces installed = installedPieces(fileVersion);
    const text::VersionPieces published = text::versionPieces(version);
    const auto installedValues = text::versionValues(installed);
    const auto publishedValues = text::versionValues(published);
    if (installedValues == publishedValues) {
        return;
    }
    const std::string reads = application->path + " has the file version " + fileVersion +
                              ", which the updater reads as " + joinedPieces(installed) +
                              " (its first, second and fourth part), not " + version;
    const std::string advice = ". Give it a file version " + published[0] + "." + published[1] +
                               ".x." + published[2] + ", or publish it as " +
                               joinedPieces(installed);
    if (installedValues < publishedValues) {
        throw PublishError(reads +
                           ": every user would be offered this update again at every "
                           "start" +
                           advice);
    }
    throw PublishError(reads + ": every installation would then report the version " +
                       joinedPieces(installed) + " and be offered no release up to it" + advice);
}

void checkOwnInstructions(const Release& release, std::ostream& report) {
    const ReleaseFile* file = topFileNamed(release, instructionFileName);
    if (file == nullptr) {
        return;
    }
    const std::string text = instructionText(release, *file);
    // Copied into the installation, the manifest or the chunk map would
    // stand there as a file of the application's.
    if (const auto moving = lineMovingWhatTheToolWrites(text, release.hasChunkMap())) {
        const bool manifest = moving->name == delta::manifestEntryName;
        throw PublishError("the release's " + file->path + " has the line \"" + moving->line +
                           "\", which would install the package's " +
                           (manifest ? "manifest " : "chunk map ") + std::string(moving->name) +
                           " as a file of the application; name the files it moves");
    }
    for (const InstructionLine& line : instructionFileLines(text)) {
        if (line.isMove()) {
            checkMoveSource(release, *file, line, report);
        }
    }
}

} // namespace publisher
