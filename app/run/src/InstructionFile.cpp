#include "run/InstructionFile.h"

#include "app/SourceLabels.h"

#include "platform/Error.h"
#include "platform/files/PathPlace.h"
#include "text/LetterCase.h"
#include "text/Pieces.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace updater {

namespace {

const char* const instructionSource = sources::processExtract;
const char* const commandSource = sources::runUpdateCommand;
// How much of a faulty line a description quotes: a file with LF-only line
// ends is one long line, and it must not pour itself into the log.
constexpr std::size_t quotedLineLimit = 200;

} // namespace

void InstructionReader::FileCloser::operator()(std::FILE* file) const {
    std::fclose(file);
}

InstructionReader::InstructionReader(const std::string& path)
    : m_file(std::fopen(path.c_str(), "rbe")) {
    if (!m_file) {
        throw platform::systemError(errno, instructionSource, path);
    }
}

bool InstructionReader::next(std::string& line) {
    std::FILE* file = m_file.get();
    line.clear();
    int c = std::getc(file);
    if (c == EOF) {
        return false;
    }
    while (c != EOF && c != '\r') {
        line.push_back(static_cast<char>(c));
        c = std::getc(file);
    }
    if (c == '\r') {
        const int next = std::getc(file);
        if (next != '\n' && next != EOF) {
            std::ungetc(next, file);
        }
    }
    if (std::ferror(file)) {
        throw platform::systemError(errno, instructionSource, "updater.ini");
    }
    return true;
}

namespace {

// A text from the file as a description can carry it: a NUL byte, which
// would end the description there, written as \0.
std::string visible(const std::string& text) {
    return text::replaceAll(text, std::string(1, '\0'), "\\0");
}

std::string quotedLine(const std::string& line) {
    if (line.size() <= quotedLineLimit) {
        return "\"" + visible(line) + "\"";
    }
    return "\"" + visible(line.substr(0, quotedLineLimit)) + "\"...";
}

// A NUL byte would end a name early at the system, so that another file
// than the one named would be used; the line names no file then.
bool nameable(const std::string& text) {
    return text.find('\0') == std::string::npos;
}

// An empty path field would name the root folder; no instruction means it.
std::string expandedPath(const std::string& field, const std::string& installFolder,
                         const std::string& line) {
    if (field.empty()) {
        platform::raiseError(platform::ErrorNumber::pathNotFound, commandSource,
                             "the line " + quotedLine(line) + " has an empty path field");
    }
    if (!nameable(field)) {
        platform::raiseError(platform::ErrorNumber::pathNotFound, commandSource,
                             "the line " + quotedLine(line) + " has a NUL byte in a path");
    }
    return expandPathField(field, installFolder);
}

// The updater's own temp folder is deleted after the update: whatever a line
// put there would be gone, so no line may install into it.
void refuseTempFolder(const std::string& destination, const InstallationPaths& paths,
                      const std::string& line) {
    if (platform::liesWithin(destination, paths.tempFolder())) {
        platform::raiseError(platform::ErrorNumber::permissionDenied, commandSource,
                             "the line " + quotedLine(line) +
                                 " would install into the updater's own temp folder, which "
                                 "is deleted after the update");
    }
}

} // namespace

std::string expandPathField(const std::string& field, const std::string& installFolder) {
    return text::replaceAll(text::upperCase(field), "APP_PATH", installFolder);
}

UpdateCommands::UpdateCommands(const InstallationPaths& paths, StageContext& context,
                               platform::Shell& shell)
    : m_paths(paths), m_context(context), m_shell(shell) {}

std::uint64_t UpdateCommands::bytesAdded(const std::string& line) {
    const std::vector<std::string> fields = text::splitText(line, ';');
    if (fields.size() < 3 || text::upperCase(fields[0]) != "MOVE" || !nameable(fields[1])) {
        return 0;
    }
    if (fields[2].empty()) {
        return 0; // the line fails on its own
    }
    return m_context.files().sizeOfCopy(m_paths.tempFolder() + "/" + fields[1],
                                        expandPathField(fields[2], m_paths.folder()) + "/");
}

void UpdateCommands::run(const std::string& line) {
    const std::string& installFolder = m_paths.folder();
    platform::FileSystem& fso = m_context.files();
    const std::vector<std::string> fields = text::splitText(line, ';');
    if (fields.size() < 3) {
        platform::raiseError(platform::ErrorNumber::subscriptOutOfRange, commandSource,
                             "the line " + quotedLine(line) + " has fewer than three fields");
    }
    const std::string& first = fields[1];
    const std::string& second = fields[2];
    const std::string command = text::upperCase(fields[0]);
    if (command == "MOVE") {
        // The source is the temp folder and the name as written: "..\x"
        // takes an installed file (to keep a copy of it, say).
        const std::string source = m_paths.tempFolder() + "/" + first;
        const std::string destination = expandedPath(second, installFolder, line) + "/";
        if (!nameable(first)) {
            platform::raiseError(platform::ErrorNumber::fileNotFound, commandSource,
                                 "the line " + quotedLine(line) + " has a NUL byte in a name");
        }
        refuseTempFolder(fso.resolve(destination), m_paths, line);
        fso.CopyFile(source, destination, true);
    } else if (command == "MAKEDIR") {
        if (!nameable(first)) {
            platform::raiseError(platform::ErrorNumber::pathNotFound, commandSource,
                                 "the line " + quotedLine(line) + " has a NUL byte in a name");
        }
        const std::string folder = expandedPath(second, installFolder, line) + "/" + first;
        refuseTempFolder(fso.resolve(folder), m_paths, line);
        if (!fso.FolderExists(folder)) {
            fso.CreateFolder(folder);
        }
    } else if (command == "EXEC" && !first.empty() && nameable(first) && nameable(second)) {
        // A file that cannot be opened is passed over, and a line with no
        // folder, or with a name no file can have, names none.
        m_shell.open(fso.resolve(expandedPath(first, installFolder, line) + "/" + second),
                     installFolder);
    }
}

} // namespace updater
