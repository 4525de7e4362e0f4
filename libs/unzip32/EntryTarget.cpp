#include "EntryTarget.h"

#include "EntryPath.h"
#include "JobError.h"
#include "unzip32.h"

namespace unzip32 {

namespace {

// An entry whose time comes from the two-second MS-DOS field is compared
// with the file's time rounded the same way.
bool isNewerThan(const EntryInfo& entry, const struct stat& existing) {
    std::time_t fileTime = existing.st_mtim.tv_sec;
    if (!entry.modifiedExactly) {
        fileTime -= fileTime % 2;
    }
    return entry.modified > fileTime;
}

} // namespace

std::vector<std::string> placedComponents(const EntryInfo& entry, const JobSettings& settings) {
    std::vector<std::string> components = storedComponents(entry.name);
    if (settings.spacesToUnderscores) {
        for (std::string& component : components) {
            component = spacesAsUnderscores(std::move(component));
        }
    }
    return components;
}

FileTarget fileTarget(const EntryInfo& entry, const JobSettings& settings) {
    std::vector<std::string> components = placedComponents(entry, settings);
    if (components.empty()) {
        throw EntryFault(UZP_UNSAFE_ENTRY, "refused: the name names no file");
    }
    FileTarget target{std::move(components), {}};
    target.name = std::move(target.folders.back());
    target.folders.pop_back();
    if (!settings.honorDirectories) {
        target.folders.clear();
    }
    return target;
}

Writing writingOver(const JobSettings& settings, const EntryInfo& entry,
                    const struct stat* existing) {
    if (existing == nullptr) {
        return settings.freshen ? Writing::skip : Writing::write;
    }
    if (settings.onlyNewer || settings.freshen) {
        return isNewerThan(entry, *existing) ? Writing::write : Writing::skip;
    }
    if (settings.promptBeforeOverwrite) {
        return Writing::askTheCaller;
    }
    return settings.overwriteExisting ? Writing::write : Writing::skip;
}

} // namespace unzip32
