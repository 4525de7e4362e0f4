#include "ReleaseNotes.h"

#include "text/Pieces.h"

#include <set>
#include <string>

namespace publisher {

namespace {

// Whether the last name of path is hidden and no folder above it is, so
// that a hidden folder is named once and not again for what it holds.
bool firstHidden(const std::string& path) {
    const std::vector<std::string> names = text::splitText(path, '/');
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        if (names[i].starts_with('.')) {
            return false;
        }
    }
    return names.back().starts_with('.');
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void noteHidden(const std::string& path, bool isFolder, std::ostream& report) {
    report << "note: " << path << (isFolder ? "/" : "")
           << " is hidden (its name begins with \".\"), yet every installation receives it"
           << (isFolder ? " with all it holds" : "") << '\n';
}

} // namespace

void noteOverlookedEntries(const Release& release, std::ostream& report) {
    std::set<std::string> holdingSomething;
    for (const std::string& folder : release.folders) {
        if (firstHidden(folder)) {
            noteHidden(folder, true, report);
        }
        holdingSomething.insert(parentOf(folder));
    }
    for (const ReleaseFile& file : release.files) {
        if (firstHidden(file.path)) {
            noteHidden(file.path, false, report);
        }
        holdingSomething.insert(file.folder);
    }
    if (release.hasInstructionFile) {
        return;
    }
    for (const std::string& folder : release.folders) {
        if (!holdingSomething.contains(folder)) {
            report << "note: " << folder
                   << "/ is empty, yet the updater.ini written for the release makes it in every "
                      "installation\n";
        }
    }
}

} // namespace publisher
