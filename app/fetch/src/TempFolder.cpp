#include "fetch/TempFolder.h"

#include "app/SourceLabels.h"

#include "fileio/Names.h"
#include "platform/Error.h"

#include <cerrno>

namespace updater {

TempFolder::TempFolder(const InstallationPaths& paths, StageContext& context)
    : m_paths(paths), m_context(context) {}

void TempFolder::prepare(const DownloadIdentity& wanted) {
    platform::FileSystem& files = m_context.files();
    const std::string temp = m_paths.tempFolder();
    if (files.isSymbolicLink(temp)) {
        platform::raiseError(platform::ErrorNumber::permissionDenied, sources::updateRun,
                             temp + " is a symbolic link; the update does not follow it");
    }
    if (!files.FolderExists(temp)) {
        files.CreateFolder(temp);
    } else if (holdsPartOf(wanted)) {
        keepOnlyPart(m_context.resolve(m_paths.packageFile()), files, sources::updateRun);
    } else {
        empty();
    }
}

bool TempFolder::holdsPartOf(const DownloadIdentity& wanted) const {
    return keptPart(m_context.resolve(m_paths.packageFile()), wanted).has_value();
}

void TempFolder::empty() {
    platform::FileSystem& files = m_context.files();
    files.DeleteFolder(m_paths.tempFolder(), true);
    files.CreateFolder(m_paths.tempFolder());
}

void TempFolder::dropPackage() {
    const std::string package = m_context.resolve(m_paths.packageFile());
    if (const int error = fileio::removeFile(package); error != 0 && error != ENOENT) {
        throw platform::systemError(error, sources::updateRun, package);
    }
}

void TempFolder::remove() {
    m_context.files().DeleteFolder(m_paths.tempFolder(), false);
}

} // namespace updater
