// The temp folder's life: emptied before a release comes into it, a cut-off
// download of the wanted package kept and any other dropped, never followed
// through a link, and a removal that fails said so.
#include "fetch/TempFolder.h"

#include "fileio/SystemCalls.h"
#include "fixtures/WindowlessContext.h"
#include "platform/Error.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

namespace {

const std::string url = "http://updates.morvane.test/clientfiles/morvane/morvane.zip";

updater::DownloadIdentity announced(std::uint64_t size) {
    signature::ReleaseLine line;
    line.size = size;
    line.sha512.fill(7);
    return updater::downloadIdentity(url, line);
}

struct Installation {
    testsupport::TempDir root;
    updater::InstallationPaths paths{root / "Morvane"};
    WindowlessContext context;
    updater::TempFolder temp{paths, context};
    updater::DownloadIdentity wanted = announced(1000);

    Installation() { testsupport::TempDir::makeFolder(paths.folder()); }
    std::string inTemp(const std::string& name) const { return paths.tempFolder() + "/" + name; }
    // A cut-off download of bytes, identified as identity.
    void leavePart(const updater::DownloadIdentity& identity, std::size_t bytes) {
        testsupport::TempDir::makeFolder(paths.tempFolder());
        testsupport::writeFile(paths.packageFile(), std::string(bytes, 'p'));
        updater::rememberDownload(paths.packageFile(), identity, "test");
    }
};

struct Leftover {
    const char* name;
    std::function<void(Installation&)> leave;
    bool partKept;
};

const std::vector<Leftover> leftovers = {
    {"NoFolder", [](Installation&) {}, false},
    {"WantedPart", [](Installation& i) { i.leavePart(i.wanted, 500); }, true},
    {"PartOfAnotherPackage", [](Installation& i) { i.leavePart(announced(2000), 500); }, false},
    {"PartAsLongAsThePackage", [](Installation& i) { i.leavePart(i.wanted, 1000); }, false},
    {"EmptyPart", [](Installation& i) { i.leavePart(i.wanted, 0); }, false},
    {"PackageWithoutIdentity",
     [](Installation& i) {
         testsupport::TempDir::makeFolder(i.paths.tempFolder());
         testsupport::writeFile(i.paths.packageFile(), "pp");
     },
     false},
};

class Prepare : public ::testing::TestWithParam<Leftover> {};

// Whatever an earlier run left goes, but a part of the wanted package; the
// folder is there and empty otherwise.
TEST_P(Prepare, KeepsOnlyTheWantedPart) {
    Installation installation;
    GetParam().leave(installation);
    if (std::filesystem::exists(installation.paths.tempFolder())) {
        testsupport::writeFile(installation.inTemp("updater.ini"), "[old]");
        testsupport::TempDir::makeFolder(installation.inTemp("old"));
        testsupport::writeFile(installation.inTemp("old/file"), "old");
    }

    installation.temp.prepare(installation.wanted);

    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(installation.paths.tempFolder())) {
        names.insert(entry.path().filename());
    }
    const std::set<std::string> kept = {
        "morvane.zip",
        std::filesystem::path(updater::identityFileOf(installation.paths.packageFile()))
            .filename()};
    EXPECT_EQ(names, GetParam().partKept ? kept : std::set<std::string>{});
    EXPECT_EQ(installation.temp.holdsPartOf(installation.wanted), GetParam().partKept);
}

INSTANTIATE_TEST_SUITE_P(Leftovers, Prepare, ::testing::ValuesIn(leftovers),
                         testsupport::CaseName());

TEST(TempFolder, RefusesALinkedFolder) {
    Installation installation;
    const std::string elsewhere = installation.root / "elsewhere";
    testsupport::TempDir::makeFolder(elsewhere);
    testsupport::writeFile(elsewhere + "/precious", "keep");
    std::filesystem::create_directory_symlink(elsewhere, installation.paths.tempFolder());

    EXPECT_THROW(installation.temp.prepare(installation.wanted), platform::Error);
    EXPECT_EQ(testsupport::readFile(elsewhere + "/precious"), "keep");
}

// Every removal below the folder fails as on a read-only file system.
fileio::SystemCalls removalsFail() {
    fileio::SystemCalls calls = fileio::realSystemCalls();
    calls.unlinkat = [](int, const char*, int) {
        errno = EROFS;
        return -1;
    };
    return calls;
}

struct FailingRemoval {
    const char* name;
    std::function<void(updater::TempFolder&)> call;
};

const std::vector<FailingRemoval> failingRemovals = {
    {"Remove", [](updater::TempFolder& temp) { temp.remove(); }},
    {"Empty", [](updater::TempFolder& temp) { temp.empty(); }},
    {"DropPackage", [](updater::TempFolder& temp) { temp.dropPackage(); }},
};

class FailingRemovals : public ::testing::TestWithParam<FailingRemoval> {};

// A removal the system refuses is raised, never taken as done.
TEST_P(FailingRemovals, AreRaised) {
    Installation installation;
    installation.leavePart(installation.wanted, 500);
    {
        fileio::ReplacedSystemCalls calls(removalsFail());
        EXPECT_THROW(GetParam().call(installation.temp), platform::Error);
    }
    EXPECT_TRUE(testsupport::exists(installation.paths.packageFile()));
}

INSTANTIATE_TEST_SUITE_P(Calls, FailingRemovals, ::testing::ValuesIn(failingRemovals),
                         testsupport::CaseName());

TEST(TempFolder, DropsAPackageOnlyWhenThere) {
    Installation installation;
    installation.leavePart(installation.wanted, 500);
    installation.temp.dropPackage();
    EXPECT_FALSE(testsupport::exists(installation.paths.packageFile()));
    EXPECT_NO_THROW(installation.temp.dropPackage());
}

} // namespace
