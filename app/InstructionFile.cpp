#include "app/frmUpdater.h"

#include "platform/Error.h"
#include "platform/Shell.h"
#include "text/LetterCase.h"
#include "text/Pieces.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

const char* const instructionSource = "frmUpdater::processExtract";
const char* const commandSource = "frmUpdater::RunUpdateCommand";
// How much of a faulty line a description quotes: a file with LF-only line
// ends is one long line, and it must not pour itself into the log.
constexpr std::size_t quotedLineLimit = 200;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TextFile = std::unique_ptr<std::FILE, FileCloser>;

// The next line: it ends at CR LF or at a lone CR; a lone LF stays inside.
// False at the end of the file; a file that ends with a line end has no
// empty line after it.
bool readLine(std::FILE* file, std::string& line) {
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

std::string quotedLine(const std::string& line) {
    if (line.size() <= quotedLineLimit) {
        return "\"" + line + "\"";
    }
    return "\"" + line.substr(0, quotedLineLimit) + "\"...";
}

// A name the package brings lies inside the temp folder: a relative path
// that never climbs out of it with "..".
bool staysInside(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') {
        return false;
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = name.find_first_of("/\\", start);
        const std::size_t stop = end == std::string::npos ? name.size() : end;
        if (name.compare(start, stop - start, "..") == 0) {
            return false;
        }
        start = stop + 1;
    }
    return true;
}

// An empty path field would name the root folder; no instruction means it.
std::string expandedPath(const std::string& field, const std::string& installFolder,
                         const std::string& line) {
    if (field.empty()) {
        platform::raiseError(platform::ErrorNumber::pathNotFound, commandSource,
                             "the line " + quotedLine(line) + " has an empty path field");
    }
    return expandPathField(field, installFolder);
}

} // namespace

bool frmUpdater::processExtract() {
    const std::string path = installFolder() + "/temp/updater.ini";
    try {
        TextFile file(std::fopen(fso().resolve(path).c_str(), "rbe"));
        if (!file) {
            throw platform::systemError(errno, instructionSource, path);
        }
        std::string line;
        while (readLine(file.get(), line)) {
            RunUpdateCommand(line);
        }
        return true;
    } catch (const std::exception& failure) {
        NoteError("Updater", failure.what(), true);
        return false;
    }
}

std::string expandPathField(const std::string& field, const std::string& installFolder) {
    return text::replaceAll(text::upperCase(field), "APP_PATH", installFolder);
}

void frmUpdater::RunUpdateCommand(const std::string& line) {
    const std::vector<std::string> fields = text::splitText(line, ';');
    if (fields.size() < 3) {
        platform::raiseError(platform::ErrorNumber::subscriptOutOfRange, commandSource,
                             "the line " + quotedLine(line) + " has fewer than three fields");
    }
    const std::string& first = fields[1];
    const std::string& second = fields[2];
    const std::string command = text::upperCase(fields[0]);
    if (command == "MOVE") {
        const std::string source = tempFolder() + "/" + first;
        const std::string destination = expandedPath(second, installFolder(), line) + "/";
        if (!staysInside(first)) {
            // Only what the package brought may be installed.
            platform::raiseError(platform::ErrorNumber::fileNotFound, commandSource, source);
        }
        fso().CopyFile(source, destination, true);
    } else if (command == "MAKEDIR") {
        const std::string folder = expandedPath(second, installFolder(), line) + "/" + first;
        if (!fso().FolderExists(folder)) {
            fso().CreateFolder(folder);
        }
    } else if (command == "EXEC") {
        platform::shellOpen(
            fso().resolve(expandedPath(first, installFolder(), line) + "/" + second),
            installFolder());
    }
}
