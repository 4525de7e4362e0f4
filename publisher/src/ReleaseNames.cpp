#include "ReleaseNames.h"

#include "delta/ChunkMap.h"
#include "delta/Manifest.h"
#include "text/LetterCase.h"

#include <algorithm>

namespace publisher {

namespace {

// The zip library keeps no entry name with a control character but the tab.
bool holdsControlCharacter(const std::string& name) {
    return std::any_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
}

} // namespace

std::string refusedNameReason(const std::string& name, bool isFolder, bool atTop) {
    if (name.find(';') != std::string::npos) {
        return "a \";\" would cut its updater.ini line";
    }
    if (name.find_first_of("\r\n") != std::string::npos) {
        return "a line end would cut its updater.ini line";
    }
    if (holdsControlCharacter(name)) {
        return "its name holds a control character (shown as \\xNN), which a package cannot "
               "carry in an entry's name; rename it";
    }
    if (name.find_first_of("*?") != std::string::npos) {
        return "\"*\" and \"?\" are wildcards to the zip library and the update's copy";
    }
    if (name.find('\\') != std::string::npos) {
        return "a \"\\\" reads as a folder separator";
    }
    if (!isFolder && text::upperCase(name) == "MORVANE.ZIP") {
        return "the update unpacks every file beside its package of this name, which the file "
               "would replace while it is unpacked";
    }
    if (atTop && text::upperCase(name) == "TEMP") {
        return "the updater keeps its own temp folder under this name at the top of the "
               "installation and deletes it after every update, so what the release puts there "
               "would be lost, and a file of this name would stop every update";
    }
    // The updater keeps its journal there and no instruction may install
    // into it: every update of such a release would fail at its first line.
    if (atTop && text::foldCase(name) == text::foldCase(".updater-journal")) {
        return "the updater keeps the journal that lets an update land whole under this name at "
               "the top of the installation, and no update may install into it, so every update "
               "would fail";
    }
    if (atTop && text::foldCase(name) == text::foldCase(delta::manifestEntryName)) {
        return "the package carries its manifest under this name at its top, and an update "
               "never installs it";
    }
    // Updaters read the package's top entry of this name as its chunk map,
    // whether the tool wrote one or not.
    if (atTop && !isFolder && text::foldCase(name) == text::foldCase(delta::chunkMapEntryName)) {
        return "updaters read the package's file of this name at its top as the package's chunk "
               "map";
    }
    if (isFolder && text::upperCase(name).find("APP_PATH") != std::string::npos) {
        return "APP_PATH in a folder name would become the installation folder";
    }
    return {};
}

} // namespace publisher
