#include "Job.h"

#include "ArchiveFile.h"
#include "ArchiveHandle.h"
#include "EntryPatterns.h"
#include "EntryWriter.h"
#include "JobFailure.h"
#include "MoveSources.h"
#include "PathSearch.h"
#include "Repair.h"
#include "Selection.h"
#include "Summary.h"
#include "fileio/Failure.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <unistd.h>

namespace zip32 {

namespace {

std::string currentFolder() {
    char* folder = ::getcwd(nullptr, 0);
    if (folder == nullptr) {
        throw JobFailure(ZP_ROOT_NOT_FOUND, "cannot tell the current folder");
    }
    std::string result(folder);
    std::free(folder);
    return result;
}

uint32_t saturated(off_t size) {
    return size > static_cast<off_t>(std::numeric_limits<uint32_t>::max())
               ? std::numeric_limits<uint32_t>::max()
               : static_cast<uint32_t>(size);
}

// DOS times count in two-second steps: a file is newer than its entry only
// when it is newer at that precision.
bool newerThanEntry(zip_t* archive, zip_uint64_t index, const SelectedItem& item) {
    zip_stat_t stat;
    if (zip_stat_index(archive, index, 0, &stat) != 0 || (stat.valid & ZIP_STAT_MTIME) == 0) {
        return true;
    }
    return item.status.st_mtime - (item.status.st_mtime & 1) > stat.mtime;
}

bool opensAsZip(const std::string& path) {
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
    if (archive == nullptr) {
        return false;
    }
    zip_discard(archive);
    return true;
}

} // namespace

Job::Job(const JobSettings& settings, const ZpCallbacks& callbacks, const Chunking& chunking,
         std::string archivePath, std::vector<std::string> names)
    : m_settings(settings), m_callbacks(callbacks), m_chunking(chunking),
      m_reporter(callbacks.printMessage, settings.quiet), m_archivePath(std::move(archivePath)),
      m_names(std::move(names)) {}

std::string Job::rootFolder() const {
    const std::string& given = m_settings.rootDirectory;
    std::string root =
        resolvePath(given.empty() ? currentFolder() : absoluteName(currentFolder(), given));
    while (root.size() > 1 && root.ends_with('/')) {
        root.pop_back();
    }
    struct stat status {};
    if (::stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw JobFailure(ZP_ROOT_NOT_FOUND, given + ": the root directory is not a folder");
    }
    return root;
}

bool Job::planAdditions(zip_t* archive, const std::string& root, const ArchiveFile& file,
                        std::vector<SelectedItem>& additions, std::vector<DoneEntry>& done) const {
    Selection selection(m_settings, m_reporter, root, file.exists() ? &file.status() : nullptr);
    const EntryIndex index(archive);
    std::vector<SelectedItem> selected = selection.select(m_names);
    for (SelectedItem& item : selected) {
        const auto existing = index.find(item.storedName);
        if (existing && (item.folder || (m_settings.kind != JobKind::Add &&
                                         !newerThanEntry(archive, *existing, item)))) {
            continue;
        }
        if (!existing && m_settings.kind == JobKind::Freshen) {
            continue;
        }
        if (existing) {
            // An entry whose name differs only in case gives way to the new one.
            const char* name = zip_get_name(archive, *existing, ZIP_FL_ENC_RAW);
            if (name != nullptr && item.storedName != name) {
                zip_delete(archive, *existing);
            }
        }
        done.push_back({item.storedName, existing ? EntryAction::Replace : EntryAction::Add});
        additions.push_back(std::move(item));
    }
    return !selected.empty();
}

std::string Job::askPassword(const std::string& archivePath) const {
    char buffer[ZP_PASSWORD_BUFFER_SIZE] = {};
    const int32_t answer = m_callbacks.askPassword == nullptr
                               ? ZP_PASSWORD_NONE
                               : m_callbacks.askPassword(buffer, sizeof buffer,
                                                         "Enter password: ", archivePath.c_str());
    std::string password(buffer, strnlen(buffer, sizeof buffer - 1));
    if (answer != ZP_PASSWORD_GIVEN || password.empty()) {
        throw JobFailure(ZP_NO_PASSWORD, "encryption asked for and no password given");
    }
    return password;
}

// The callback is offered the present comment and may keep it (null).
void Job::askComment(zip_t* archive) const {
    char buffer[ZP_COMMENT_BUFFER_SIZE] = {};
    int length = 0;
    if (const char* present = zip_get_archive_comment(archive, &length, 0)) {
        std::memcpy(buffer, present, std::min<std::size_t>(length, sizeof buffer - 1));
    }
    if (const char* comment = m_callbacks.askComment(buffer)) {
        const auto size = static_cast<zip_uint16_t>(strnlen(comment, sizeof buffer - 1));
        if (zip_set_archive_comment(archive, comment, size) != 0) {
            throw JobFailure(ZP_INTERNAL_ERROR, zip_strerror(archive));
        }
    }
}

// Writes the new archive and puts it in place, or says why not; either way
// libzip has let the archive go.
void Job::closeArchive(ArchiveHandle& archive, const ArchiveFile& file,
                       const ReadFailure& readFailure, const ChunkReport& chunkReport) const {
    zip_t* const written = archive.get();
    if (zip_close(written) == 0) {
        archive.release();
        return;
    }
    if (chunkReport.stopped()) {
        throw JobFailure(ZP_STOPPED_BY_CALLER,
                         "stopped by the caller after a chunk of " + chunkReport.stoppedAt());
    }
    if (!readFailure.path.empty()) {
        throw JobFailure(ZP_FILE_UNREADABLE,
                         readFailure.path + ": " +
                             (readFailure.refusal.empty()
                                  ? "cannot read: " + fileio::systemReason(readFailure.error)
                                  : readFailure.refusal));
    }
    if (file.writeError() != 0) {
        throw JobFailure(
            writeFailureCode(file.writeError()),
            file.path() + ": cannot write the archive: " + fileio::systemReason(file.writeError()));
    }
    throw JobFailure(ZP_WRITE_FAILED, file.path() + ": " + zip_strerror(written));
}

int32_t Job::run() {
    const std::string root = rootFolder();
    ArchiveFile file(resolvePath(absoluteName(currentFolder(), m_archivePath)));
    const uint64_t prefix = file.exists() ? prefixLength(file.path()) : 0;
    // An archive whose offsets do not count its prefix is rebuilt from its
    // entries' own headers, as a repair is.
    const bool rebuild =
        m_settings.repair || (m_settings.adjustOffsets && prefix > 0 && !opensAsZip(file.path()));
    std::vector<RecoveredEntry> recovered;
    if (rebuild) {
        recovered = recoverEntries(file, m_reporter);
    }
    if (!m_settings.junkPrefix) {
        file.keepPrefix(prefix);
    }
    // Declared before the archive, whose entry sources use them until they go.
    ChunkReport chunkReport(m_chunking.chunkWritten);
    std::optional<CompressionQueue> queue;
    if (m_settings.level > 0) {
        queue.emplace(m_settings.level);
    }
    zip_error_t sourceError;
    zip_error_init(&sourceError);
    zip_source_t* source = file.source(&sourceError);
    zip_error_fini(&sourceError);
    if (source == nullptr) {
        throw std::bad_alloc();
    }
    ArchiveHandle archive = openArchive(source, rebuild, file.path());
    ReadFailure readFailure;
    std::vector<DoneEntry> done;

    // What to delete, or what to add and replace; nothing is written yet.
    std::vector<zip_uint64_t> deletions;
    std::vector<SelectedItem> additions;
    bool selected = false;
    if (m_settings.kind == JobKind::Delete) {
        std::vector<std::string> unmatched;
        deletions = entriesToDelete(archive.get(), m_names, root, m_settings.recurse, unmatched);
        for (const std::string& name : unmatched) {
            m_reporter.warning(name, "name not matched");
        }
    } else {
        selected = planAdditions(archive.get(), root, file, additions, done);
    }
    const bool nothingNamed = deletions.empty() && additions.empty();
    if (nothingNamed && selected && !rebuild && !m_settings.comment) {
        m_reporter.info("the archive is up to date");
        return ZP_OK;
    }
    if (nothingNamed && !rebuild && !(m_settings.comment && file.exists())) {
        m_reporter.warning({}, "nothing to do");
        return ZP_NOTHING_TO_DO;
    }

    for (const SelectedItem& item : additions) {
        if (m_callbacks.beforeEntry != nullptr &&
            m_callbacks.beforeEntry(item.storedName.c_str(), saturated(item.status.st_size)) != 0) {
            throw JobFailure(ZP_STOPPED_BY_CALLER,
                             "stopped by the caller before " + item.storedName);
        }
    }
    const std::string password =
        m_settings.encrypt && !additions.empty() ? askPassword(file.path()) : std::string();
    if (m_settings.comment) {
        askComment(archive.get());
    }

    for (const zip_uint64_t index : deletions) {
        const char* name = zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
        done.push_back({name != nullptr ? name : "", EntryAction::Delete});
        zip_delete(archive.get(), index);
    }
    addRecovered(archive.get(), recovered, file.path(), readFailure);
    EntryWriter writer(archive.get(), m_settings, password, readFailure, queue ? &*queue : nullptr,
                       m_chunking, chunkReport);
    for (const SelectedItem& item : additions) {
        writer.add(item);
    }

    closeArchive(archive, file, readFailure, chunkReport);
    reportDone(file.path(), done, m_settings, m_reporter);
    if (m_settings.move && !removeMovedSources(additions, root, m_reporter)) {
        return ZP_SOURCES_KEPT;
    }
    return ZP_OK;
}

} // namespace zip32
