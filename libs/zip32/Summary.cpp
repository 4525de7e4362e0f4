#include "Summary.h"

#include <zip.h>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace zip32 {

namespace {

const char* verb(EntryAction action) {
    switch (action) {
    case EntryAction::Add:
        return "  adding: ";
    case EntryAction::Replace:
        return "updating: ";
    case EntryAction::Delete:
        return "deleting: ";
    }
    return "";
}

// The share of the size saved, in whole per cent (negative when it grew).
long long savedPercent(zip_uint64_t size, zip_uint64_t compressed) {
    if (size == 0) {
        return 0;
    }
    const double saved = (static_cast<double>(size) - static_cast<double>(compressed)) /
                         static_cast<double>(size) * 100.0;
    return static_cast<long long>(saved + (saved < 0 ? -0.5 : 0.5));
}

void setArchiveTime(const std::string& path, zip_t* archive, const Reporter& reporter) {
    std::time_t latest = 0;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat) == 0 &&
            (stat.valid & ZIP_STAT_MTIME) != 0 && stat.mtime > latest) {
            latest = stat.mtime;
        }
    }
    const timespec times[2] = {{latest, 0}, {latest, 0}};
    if (latest != 0 && ::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        reporter.warning(path, "cannot set the archive's time");
    }
}

} // namespace

void reportDone(const std::string& archivePath, const std::vector<DoneEntry>& done,
                const JobSettings& settings, const Reporter& reporter) {
    // Quiet, with the archive's time left as written: nothing needs the
    // finished archive read back.
    if (settings.quiet && !settings.archiveTimeFromLatest) {
        return;
    }
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_RDONLY, nullptr);
    zip_uint64_t totalSize = 0;
    zip_uint64_t totalCompressed = 0;
    for (const DoneEntry& entry : done) {
        std::string line = verb(entry.action) + entry.name;
        zip_stat_t stat;
        if (entry.action != EntryAction::Delete && archive != nullptr &&
            zip_stat(archive, entry.name.c_str(), ZIP_FL_ENC_RAW, &stat) == 0) {
            totalSize += stat.size;
            totalCompressed += stat.comp_size;
            if (settings.verbose) {
                line += " (in=" + std::to_string(stat.size) +
                        ") (out=" + std::to_string(stat.comp_size) + ")";
            }
            line += stat.comp_method == ZIP_CM_STORE ? " (stored " : " (deflated ";
            line += std::to_string(savedPercent(stat.size, stat.comp_size)) + "%)";
        }
        reporter.info(line);
    }
    if (settings.verbose) {
        reporter.info("total bytes=" + std::to_string(totalSize) +
                      ", compressed=" + std::to_string(totalCompressed) + " -> " +
                      std::to_string(savedPercent(totalSize, totalCompressed)) + "% savings");
    }
    if (archive != nullptr) {
        if (settings.archiveTimeFromLatest) {
            setArchiveTime(archivePath, archive, reporter);
        }
        zip_discard(archive);
    }
}

} // namespace zip32
