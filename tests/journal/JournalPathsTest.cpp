// How the journal names a path an update changes: relative to the
// installation inside it, absolute outside it, with the folders on the way
// followed as the disk has them and the last piece (a link itself) as it is.
#include "journal/JournalPaths.h"
#include "platform/Error.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct PathCase {
    const char* name;
    std::string target;   // below the installation folder
    std::string recorded; // "/..." below the test's root folder; empty: refused
};

class JournalPath : public ::testing::TestWithParam<PathCase> {
protected:
    JournalPath() : install(root / "Morvane App") {
        for (const std::string& folder : {install, install + "/plugins", install + "/lib64",
                                          root / "outside", root / "shared"}) {
            mkdir(folder.c_str(), 0755);
        }
        symlink("lib64", (install + "/lib").c_str());
        symlink((root / "outside").c_str(), (install + "/data").c_str());
    }

    testsupport::TempDir root;
    std::string install;
};

TEST_P(JournalPath, NamesTheEntryTheChangeIsMadeOn) {
    const PathCase& c = GetParam();
    const std::string target = install + "/" + c.target;
    if (c.recorded.empty()) {
        EXPECT_THROW(updater::journalPath(install, target), platform::Error) << target;
    } else {
        EXPECT_EQ(updater::journalPath(install, target),
                  c.recorded.starts_with('/') ? root.path() + c.recorded : c.recorded);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, JournalPath,
    ::testing::Values(PathCase{"File", "a.dll", "a.dll"},
                      PathCase{"InAFolder", "plugins/p.so", "plugins/p.so"},
                      PathCase{"DotDotInside", "plugins/../a.dll", "a.dll"},
                      PathCase{"DotPiece", "./plugins/p.so", "plugins/p.so"},
                      PathCase{"FolderLinkInside", "lib/x.so", "lib64/x.so"},
                      PathCase{"LinkItself", "lib", "lib"},
                      PathCase{"FolderLinkOutside", "data/x", "/outside/x"},
                      PathCase{"BesideTheInstallation", "../shared/b.dll", "/shared/b.dll"},
                      PathCase{"MissingFolderOnTheWay", "nowhere/../a.dll", ""},
                      PathCase{"TheInstallationItself", "../Morvane App", ""},
                      PathCase{"DotDotLast", "plugins/..", ""}),
    testsupport::CaseName());

} // namespace
