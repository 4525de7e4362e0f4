#include "JournalPlaces.h"

#include "fileio/Beneath.h"
#include "fileio/Writing.h"
#include "journal/JournalPaths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace updater {

namespace {

constexpr int placeOnly = O_PATH | O_DIRECTORY | O_CLOEXEC;

std::int64_t nanoseconds(std::int64_t seconds, std::int64_t fraction) {
    return seconds * 1000000000 + fraction;
}

} // namespace

int JournalPlaces::installation() {
    if (!m_installation) {
        m_installation = fileio::openFile(m_journal.installFolder(), placeOnly, 0);
    }
    return m_installation.get();
}

JournalPlaces::Place JournalPlaces::placeOf(const std::string& recorded) {
    const bool outside = recorded.starts_with('/');
    if (outside && !m_root) {
        m_root = fileio::openFile("/", placeOnly, 0);
    }
    const int base = outside ? m_root.get() : installation();
    const std::string_view below = std::string_view(recorded).substr(outside ? 1 : 0);
    const std::size_t slash = below.rfind('/');
    Place place;
    place.path = updater::placeOf(m_journal.installFolder(), recorded);
    place.name = below.substr(slash == std::string_view::npos ? 0 : slash + 1);
    if (base < 0) {
        place.error = errno;
        return place;
    }
    place.folder = fileio::openFolderBeneath(
        base, slash == std::string_view::npos ? std::string_view() : below.substr(0, slash));
    place.error = place.folder ? 0 : errno;
    return place;
}

int JournalPlaces::journal() {
    if (!m_journalFolder && installation() >= 0) {
        m_journalFolder = fileio::openFolderBeneath(installation(), JournalFolder::folderName);
    }
    return m_journalFolder.get();
}

std::optional<std::int64_t> JournalPlaces::began() {
    if (!m_beganRead && installation() >= 0) {
        m_beganRead = true;
        struct statx status {};
        if (statx(installation(), JournalFolder::folderName, AT_SYMLINK_NOFOLLOW, STATX_BTIME,
                  &status) == 0 &&
            (status.stx_mask & STATX_BTIME) != 0) {
            m_began = nanoseconds(status.stx_btime.tv_sec, status.stx_btime.tv_nsec);
        }
    }
    return m_began;
}

bool JournalPlaces::changedSinceBegan(const struct stat& status) {
    const std::optional<std::int64_t> start = began();
    return !start || nanoseconds(status.st_ctim.tv_sec, status.st_ctim.tv_nsec) >= *start;
}

} // namespace updater
