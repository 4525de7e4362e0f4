#include "ExtractionHandler.h"

#include "EntryLines.h"
#include "EntryPath.h"
#include "EntryStream.h"
#include "EntryTarget.h"
#include "JobError.h"
#include "PendingFile.h"
#include "RoomCheck.h"
#include "SystemFailure.h"
#include "fileio/UnpackedMode.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits.h>

namespace unzip32 {

namespace {

std::string joined(const std::vector<std::string>& components) {
    std::string path;
    for (const std::string& component : components) {
        if (!path.empty()) {
            path.push_back('/');
        }
        path.append(component);
    }
    return path;
}

const char* actionFor(const EntryInfo& entry) {
    if (entry.kind == EntryKind::SymbolicLink) {
        return "linking";
    }
    return entry.compressionMethod == 0 ? "extracting" : "inflating";
}

} // namespace

ExtractionHandler::ExtractionHandler(const JobContext& context, const EntrySelection& selection)
    : m_context(context), m_settings(context.settings),
      m_tree(context.settings.extractionFolder, true), m_umask(fileio::processUmask()) {
    const bool onDiskDecides = !m_settings.overwriteExisting || m_settings.promptBeforeOverwrite ||
                               m_settings.freshen || m_settings.onlyNewer;
    const FilesWritten written = FilesWritten::of(context.archive, selection, m_settings);
    if (onDiskDecides) {
        requireRoom(m_settings, written.roomNeeded());
        return;
    }
    // Files unpacked side by side hold their room together until they are
    // put in place; where the disk has not that much, they go one at a time.
    const std::size_t threads = EntryWorkers::threadsAvailable();
    FilesAtOnce atOnce = EntryWorkers::limitsFor(threads);
    if (!roomFor(m_settings, written.roomNeeded(atOnce))) {
        atOnce = {};
        requireRoom(m_settings, written.roomNeeded(atOnce));
    }
    m_workers.emplace(context, threads, atOnce);
}

void ExtractionHandler::handle(const EntryInfo& entry) {
    collectOutcomes();
    if (m_stopped) {
        return;
    }
    if (entry.kind == EntryKind::Folder) {
        handleFolder(entry, placedComponents(entry, m_settings));
    } else {
        handleFileOrLink(entry, fileTarget(entry, m_settings));
    }
}

void ExtractionHandler::handleFolder(const EntryInfo& entry,
                                     const std::vector<std::string>& components) {
    // A file still to be put in place where the folder goes lands first, so
    // that the outcome never depends on timing.
    settleUnder(components);
    if (!components.empty() && makeFolder(entry, components)) {
        m_context.outcomes.processed(entry);
    }
}

void ExtractionHandler::handleFileOrLink(const EntryInfo& entry, const FileTarget& target) {
    std::vector<std::string> shownComponents = target.folders;
    shownComponents.push_back(target.name);
    const std::string shown = joined(shownComponents);

    const bool handedOver = workersTake(entry);
    if (handedOver) {
        settleUnder(target.folders);
    } else {
        settle();
    }
    const int folderFd = m_tree.open(target.folders, !m_settings.freshen);
    if (handedOver) {
        handOver(entry, target.name, shown);
        return;
    }
    writeInPlace(entry, folderFd, target.folders, target.name, shown);
}

bool ExtractionHandler::workersTake(const EntryInfo& entry) const {
    return m_workers && entry.kind == EntryKind::File && !entry.encrypted() &&
           (entry.compressionMethod == ZIP_CM_STORE || entry.compressionMethod == ZIP_CM_DEFLATE);
}

void ExtractionHandler::settleUnder(const std::vector<std::string>& components) {
    if (!m_workers) {
        return;
    }
    std::string path;
    for (const std::string& component : components) {
        path += path.empty() ? component : "/" + component;
        if (m_workers->lands(path)) {
            settle();
            return;
        }
    }
}

void ExtractionHandler::writeInPlace(const EntryInfo& entry, int folderFd,
                                     const std::vector<std::string>& components,
                                     const std::string& name, const std::string& shown) {
    struct stat existing {};
    const bool exists =
        folderFd >= 0 && ::fstatat(folderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        throw EntryFault(UZP_WRITE_FAILED, "a folder named " + shown + " is in the way");
    }
    const Writing writing = writingOver(m_settings, entry, exists ? &existing : nullptr);
    if (writing == Writing::skip || (writing == Writing::askTheCaller && !callerReplaces(shown))) {
        m_context.reporter.info(entryLine("skipping", shown, entry, false) +
                                (exists ? " (kept)" : " (not there)"));
        return;
    }
    if (entry.kind == EntryKind::SymbolicLink) {
        writeLink(entry, folderFd, components, name);
    } else {
        writeFile(entry, folderFd, name);
    }
    m_context.reporter.info(entryLine(actionFor(entry), shown, entry, m_settings.verbose));
    m_context.outcomes.processed(entry);
}

void ExtractionHandler::handOver(const EntryInfo& entry, const std::string& name,
                                 const std::string& shown) {
    report(m_workers->makeRoomFor(entry.size));
    if (m_stopped) {
        return;
    }
    m_workers->submit({entry, m_tree.latest(), name, shown,
                       attributesFor(entry, m_settings.privilegeLevel, m_umask),
                       entryLine(actionFor(entry), shown, entry, m_settings.verbose)});
}

void ExtractionHandler::settle() {
    if (m_workers) {
        report(m_workers->placeAll());
    }
}

void ExtractionHandler::collectOutcomes() {
    if (m_workers) {
        report(m_workers->placeFinished());
    }
}

void ExtractionHandler::report(std::vector<EntryWorkers::Outcome> outcomes) {
    for (EntryWorkers::Outcome& outcome : outcomes) {
        if (!outcome.failureCode) {
            m_context.reporter.info(outcome.line);
            m_context.outcomes.processed(outcome.entry);
        } else if (outcome.stopsJob) {
            m_stopped = true;
            m_context.outcomes.failed(outcome.entry.name,
                                      JobStop(*outcome.failureCode, outcome.problem));
        } else {
            m_context.outcomes.failed(outcome.entry.name,
                                      EntryFault(*outcome.failureCode, outcome.problem));
        }
    }
}

bool ExtractionHandler::makeFolder(const EntryInfo& entry,
                                   const std::vector<std::string>& components) {
    if (!m_settings.honorDirectories || m_settings.freshen) {
        return false;
    }
    m_tree.open(components, true);
    m_folderAttributes.emplace_back(components,
                                    attributesFor(entry, m_settings.privilegeLevel, m_umask));
    m_context.reporter.info(entryLine("creating", joined(components) + "/", entry, false));
    return true;
}

bool ExtractionHandler::callerReplaces(const std::string& shownPath) {
    if (m_replaceNone) {
        return false;
    }
    const std::string& folder = m_settings.extractionFolder;
    const std::string fullPath =
        folder.empty() ? shownPath : (folder.back() == '/' ? folder : folder + "/") + shownPath;
    const int32_t answer = m_context.callbacks.askOverwrite(fullPath.c_str());
    if (answer == UZP_OVERWRITE_NONE) {
        m_replaceNone = true;
    }
    return answer == UZP_OVERWRITE_THIS_FILE;
}

void ExtractionHandler::writeFile(const EntryInfo& entry, int folderFd, const std::string& name) {
    readEntry(m_context, entry, m_settings.translateLineEnds, [&](EntryStream& stream) {
        PendingFile file(folderFd);
        for (std::string_view piece = stream.next(); !piece.empty(); piece = stream.next()) {
            file.write(piece);
        }
        file.commit(name, attributesFor(entry, m_settings.privilegeLevel, m_umask));
    });
}

void ExtractionHandler::writeLink(const EntryInfo& entry, int folderFd,
                                  const std::vector<std::string>& folders,
                                  const std::string& name) {
    std::string target;
    readEntry(m_context, entry, false, [&](EntryStream& stream) {
        target.clear();
        for (std::string_view piece = stream.next(); !piece.empty(); piece = stream.next()) {
            if (target.size() + piece.size() >= PATH_MAX) {
                throw EntryFault(UZP_BAD_ENTRY_DATA, "the link target is too long");
            }
            target.append(piece);
        }
    });
    if (m_settings.spacesToUnderscores) {
        target = spacesAsUnderscores(std::move(target));
    }
    if (target.find('\0') != std::string::npos || !targetStaysInside(folders, target)) {
        throw EntryFault(UZP_UNSAFE_ENTRY,
                         "refused: the link points outside the extraction folder (" + target + ")");
    }
    placeSymbolicLink(folderFd, name, target, timespec{entry.modified, 0});
}

void ExtractionHandler::finish() {
    settle();
    // Deepest first, so that a folder made read-only still lets the folders
    // below it be set.
    std::stable_sort(m_folderAttributes.begin(), m_folderAttributes.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [components, attributes] : m_folderAttributes) {
        try {
            setFolderAttributes(components, attributes);
        } catch (const EntryFault& fault) {
            m_context.reporter.warning(joined(components) + "/", fault.what());
        }
    }
    m_folderAttributes.clear();
}

void ExtractionHandler::setFolderAttributes(const std::vector<std::string>& components,
                                            const TargetAttributes& attributes) {
    const std::vector<std::string> parents(components.begin(), components.end() - 1);
    const int parentFd = m_tree.open(parents, false);
    const int fd = parentFd < 0 ? -1 : openChildFolder(parentFd, components.back(), false);
    if (fd < 0) {
        return;
    }
    const fileio::UniqueFd folder(fd);
    applyAttributes(folder.get(), attributes, "folder");
}

} // namespace unzip32
