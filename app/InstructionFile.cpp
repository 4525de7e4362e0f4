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

} // namespace

void frmUpdater::processExtract() {
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
    } catch (const std::exception& failure) {
        NoteError("Updater", failure.what(), true);
    }
}

std::string expandPathField(const std::string& field, const std::string& installFolder) {
    return text::replaceAll(text::upperCase(field), "APP_PATH", installFolder);
}

void frmUpdater::RunUpdateCommand(const std::string& line) {
    const std::vector<std::string> fields = text::splitText(line, ';');
    if (fields.size() < 3) {
        platform::raiseError(platform::ErrorNumber::subscriptOutOfRange,
                             "frmUpdater::RunUpdateCommand",
                             "the line \"" + line + "\" has fewer than three fields");
    }
    const std::string& first = fields[1];
    const std::string& second = fields[2];
    const std::string command = text::upperCase(fields[0]);
    if (command == "MOVE") {
        fso().CopyFile(tempFolder() + "/" + first, expandPathField(second, installFolder()) + "/",
                       true);
    } else if (command == "MAKEDIR") {
        const std::string folder = expandPathField(second, installFolder()) + "/" + first;
        if (!fso().FolderExists(folder)) {
            fso().CreateFolder(folder);
        }
    } else if (command == "EXEC") {
        platform::shellOpen(fso().resolve(expandPathField(first, installFolder()) + "/" + second),
                            installFolder());
    }
}
