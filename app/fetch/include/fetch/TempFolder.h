#pragma once

#include "fetch/PartialPackage.h"

#include "app/InstallationPaths.h"
#include "app/StageContext.h"

namespace updater {

// The temp folder's life in one run: emptied before anything of a release
// comes into it, so that nothing an earlier run left is carried out with
// this one; emptied again when one way of getting the release gives up;
// deleted after a successful update. Failures raise platform::Error.
class TempFolder {
public:
    TempFolder(const InstallationPaths& paths, StageContext& context);

    // Makes the folder empty, or creates it; a package an earlier run cut
    // off there stays, with what identifies it, when it is the wanted one.
    // A temp folder that is a symbolic link is refused, never followed.
    void prepare(const DownloadIdentity& wanted);
    // Whether a cut-off download of the wanted package waits there.
    bool holdsPartOf(const DownloadIdentity& wanted) const;
    // Everything in it goes.
    void empty();
    // The package, once unpacked: what it held lies in the folder now, and
    // its bytes need never reach the disk.
    void dropPackage();
    // The folder goes, as the end of a successful update deletes it: a
    // read-only file inside refuses it.
    void remove();

private:
    const InstallationPaths& m_paths;
    StageContext& m_context;
};

} // namespace updater
