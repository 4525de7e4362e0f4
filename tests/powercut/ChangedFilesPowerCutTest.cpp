// Power cuts at every moment of an update that fetches only the changed
// files: a keyed updater, a release published with its manifest and served
// by nginx, an installation of 31 files that holds most of it (morvane.exe
// and 3 of 30 libraries changed, 2 plugins new in a folder the package
// makes; a third of the libraries installed with another mode than the
// release's, so that they are copied into temp rather than linked). The
// file seam is recorded from the moment the download begins: every call
// that reads an installed file or links it into temp, every call of the
// small archive's writing, then the instruction stage as for the whole
// package. Every cut must recover to wholly old or wholly new, in a copy
// and in place; none before the instruction stage may leave anything but
// the installation as it was.
#include "PowerCut.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PublishedRelease.h"
#include "testsupport/PublisherKey.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <sys/stat.h>

namespace {

constexpr int libraries = 30;

std::string randomBytes(unsigned seed, std::size_t size) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
    return bytes;
}

class ChangedFilesPowerCut : public PowerCut {
protected:
    // 1.2.0.5 installed; 1.3.0 published with the key and served, and the
    // window that of an updater built with it.
    ChangedFilesPowerCut() {
        const std::string release = staging / "release";
        testsupport::TempDir::makeFolder(release);
        testsupport::TempDir::makeFolder(release + "/plugins");
        testsupport::writeFile(release + "/morvane.exe", newExecutable());
        chmod((release + "/morvane.exe").c_str(), 0755);
        chmod(app("morvane.exe").c_str(), 0755);
        for (int i = 0; i < libraries; ++i) {
            const std::string name = "lib" + std::to_string(i) + ".dat";
            const std::size_t size = 20000 + static_cast<std::size_t>(i) * 3001 % 40000;
            const auto seed = static_cast<unsigned>(i);
            testsupport::writeFile(app(name), randomBytes(seed, size));
            chmod(app(name).c_str(), i % 3 == 0 ? 0600 : 0644);
            testsupport::writeFile(release + "/" + name,
                                   randomBytes(i % 10 == 4 ? seed + 100 : seed, size));
        }
        for (int i = 0; i < 2; ++i) {
            testsupport::writeFile(release + "/plugins/plugin" + std::to_string(i) + ".so",
                                   randomBytes(static_cast<unsigned>(i) + 200, 30000));
        }
        const testsupport::PublisherKey key = testsupport::makePublisherKey(staging / "key.pem");
        testsupport::publishRelease(MORVANE_PUBLISH, key, release, "1.3.0", staging / "web");
        nginx.emplace(staging / "web");
        form = std::make_unique<updater::frmUpdater>(
            ui, ui, services,
            updater::UpdaterSettings{install, nginx->host(), nginx->host(), key.publicKeyBase64});
        form->Form_Load();
    }

    std::optional<testsupport::NginxServer> nginx;
};

// Cut while the changed files are fetched and installed files linked or
// copied into temp, the installation is as it was; cut later, the next
// start leaves it wholly old or, past the commit point, wholly new.
TEST_F(ChangedFilesPowerCut, EveryCutRecoversToWhollyOldOrWhollyNew) {
    recordRun("Downloading...");
    ASSERT_TRUE(disk);
    ASSERT_NE(before, after);
    // Whatever the seam does not see: fetching and unpacking left every
    // installed file's bytes, mode and times as they were.
    EXPECT_TRUE(atInstructions == before) << testsupport::treeDifferences(before, atInstructions);
    nginx->stop();
    // Only the changed files came: parts of the package, never all of it.
    const std::string requests = nginx->accessLog();
    EXPECT_EQ(requests.find("\"bytes=0-\""), std::string::npos) << requests;

    const Figures figures = cutEverywhere(*disk);
    report("changed files", figures);
    std::printf("changed files, before the instruction stage: %zu cut points (%zu calls that "
                "read an installed file or link it into temp), %zu wholly old\n",
                instructionsBegin, installedFilesTaken, figures.beforeInstructions.old);

    EXPECT_GE(installedFilesTaken, 2u * libraries);
    EXPECT_EQ(figures.beforeInstructions.old, instructionsBegin);
    EXPECT_GT(figures.inPlace.whollyNew, 0u);
    EXPECT_EQ(figures.copied.whollyNew, figures.inPlace.whollyNew);
}

} // namespace
