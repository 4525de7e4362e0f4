// The changed files' fetch through its face, against a release the
// publisher's tool made and signed, with the network a script: every reason
// the caller falls back to the whole package for, the chunks' own fallback to
// the whole entry, and the progress it reports on the way.
#include "fetch/PackageDelta.h"
#include "fetch/FetchFailure.h"

#include "delta/ChangedFilesChoice.h"
#include "delta/LocalPackage.h"
#include "testsupport/CaseName.h"
#include "testsupport/FailingWrites.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/PublishedRelease.h"
#include "testsupport/ScriptedWeb.h"
#include "testsupport/TempDir.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace {

const std::string packageUrl = "http://updates.morvane.test/clientfiles/morvane/morvane.zip";

void writeTree(const std::string& folder, const std::map<std::string, std::string>& files) {
    for (const auto& [path, bytes] : files) {
        std::filesystem::create_directories(
            std::filesystem::path(folder + "/" + path).parent_path());
        testsupport::writeFile(folder + "/" + path, bytes);
    }
}

// One release, published once for every test: a large file deflated in
// chunks, changed in one byte since the installed version, a large file
// unchanged, and a small changed one.
struct Release {
    testsupport::TempDir root;
    std::string big = testsupport::halfTextHalfRandom(std::size_t{1} << 20, 1);
    std::string same = testsupport::halfTextHalfRandom(std::size_t{3} << 19, 2);
    std::string package;
    std::string executable; // morvane.exe, installed as released
    signature::ReleaseLine line;
    delta::LocalPackage local;

    Release() {
        const std::string folder = root / "release";
        testsupport::TempDir::makeFolder(folder);
        testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.3.0.2");
        writeTree(folder,
                  {{"data/big.bin", big}, {"data/same.bin", same}, {"readme.txt", "1.3.2"}});
        const testsupport::PublisherKey key = testsupport::makePublisherKey(root / "key.pem");
        testsupport::publishRelease(MORVANE_PUBLISH, key, folder, "1.3.2", root / "web");
        const std::string served = root / "web/clientfiles/morvane/";
        package = testsupport::readFile(served + "morvane.zip");
        executable = testsupport::readFile(folder + "/morvane.exe");
        local = delta::readLocalPackage(served + "morvane.zip");
        const std::string answer = testsupport::readFile(served + "version.php");
        std::string why;
        auto parsed = signature::parseReleaseLine(answer.substr(answer.find('\n') + 1), why);
        if (!parsed) {
            throw std::runtime_error("the release line: " + why);
        }
        line = *parsed;
    }

    delta::ByteSpan spanOf(const std::string& entryName) const {
        return local.directory.spans.at(local.directory.find(entryName));
    }
    std::string installedBig() const {
        std::string bytes = big;
        bytes[bytes.size() / 2] ^= 0x5a;
        return bytes;
    }
};

// Members public: the tables of cases change the fixture's parts.
class ChangedFilesFetch : public ::testing::Test {
public:
    static void SetUpTestSuite() { release = std::make_unique<Release>(); }
    static void TearDownTestSuite() { release.reset(); }

    ChangedFilesFetch() : line(release->line) {
        testsupport::TempDir::makeFolder(install);
        testsupport::TempDir::makeFolder(temp);
        writeTree(install, {{"data/big.bin", release->installedBig()},
                            {"data/same.bin", release->same},
                            {"readme.txt", "1.3.1"},
                            {"morvane.exe", release->executable}});
        web.serve(packageUrl, release->package);
    }

    updater::Outcome<void> fetch() {
        const auto transfer = services.newInternetTransfer();
        updater::PackageDelta delta(
            *transfer, [] {},
            [this](std::uint64_t received, std::uint64_t total) {
                progress.emplace_back(received, total);
            });
        auto fetched = delta.fetch(packageUrl, line, install, temp, archive(),
                                   [](const std::string& path) { return path; });
        fallbacks = delta.entryFallbacks();
        return fetched;
    }

    // Changes the answers to requests that reach into the entry's span.
    void changeSpan(const std::string& entryName,
                    std::function<void(testsupport::ScriptedAnswer&)> change) {
        const delta::ByteSpan span = release->spanOf(entryName);
        web.change = [span, change](const testsupport::ScriptedRequest& request,
                                    testsupport::ScriptedAnswer& answer) {
            if (request.first && request.last && *request.first < span.offset + span.length &&
                *request.last >= span.offset) {
                change(answer);
            }
        };
    }

    std::string archive() const { return temp + "/gathered.zip"; }
    std::string tempFile(const std::string& entryName) const {
        return temp + "/" + delta::unpackedName(entryName);
    }
    // The entry names of the gathered archive.
    std::vector<std::string> gathered() const {
        std::vector<std::string> names;
        for (const auto& entry : delta::readLocalPackage(archive()).directory.entries) {
            names.push_back(entry.name);
        }
        return names;
    }

    // The bar never passes its end, and its total only grows.
    void expectProgressWithinPlan() const {
        ASSERT_FALSE(progress.empty());
        std::uint64_t total = 0;
        for (const auto& [received, planned] : progress) {
            EXPECT_LE(received, planned);
            EXPECT_GE(planned, total);
            total = planned;
        }
        EXPECT_LE(progress.back().first, web.bytesTaken(packageUrl));
    }
    std::uint64_t totalGrowth() const { return progress.back().second - progress.front().second; }

    static std::unique_ptr<Release> release;
    testsupport::TempDir root;
    std::string install = root / "Morvane";
    std::string temp = root / "Morvane/temp";
    signature::ReleaseLine line;
    testsupport::ScriptedWeb web;
    testsupport::ScriptedServices services{web};
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    std::vector<std::string> fallbacks;
};

std::unique_ptr<Release> ChangedFilesFetch::release;

TEST_F(ChangedFilesFetch, RebuildsTheChangedChunksAndGathersTheRest) {
    ASSERT_TRUE(fetch());

    EXPECT_TRUE(fallbacks.empty());
    EXPECT_EQ(testsupport::readFile(tempFile("data/big.bin")), release->big);
    EXPECT_EQ(testsupport::readFile(tempFile("data/same.bin")), release->same);
    EXPECT_EQ(testsupport::readFile(tempFile("morvane.exe")), release->executable);
    const auto names = gathered();
    EXPECT_NE(std::find(names.begin(), names.end(), "readme.txt"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "data/big.bin"), names.end());
    // Far less than the package: the tail, the manifest, the chunk map, a
    // chunk and the small files.
    EXPECT_LT(web.bytesTaken(packageUrl), 200'000U);
    // Every byte brought counted, and the bar at its end.
    expectProgressWithinPlan();
    EXPECT_EQ(totalGrowth(), 0U);
    EXPECT_EQ(progress.back().first, progress.back().second);
    EXPECT_EQ(progress.back().first, web.bytesTaken(packageUrl));
}

struct EntryFallback {
    const char* name;
    const char* entryName; // whose answers change
    std::function<void(testsupport::ScriptedAnswer&)> change;
    bool chunksTried; // the planned total grows by the file's span
};

const std::vector<EntryFallback> entryFallbacks = {
    {"FlippedChunkByte", "data/big.bin",
     [](testsupport::ScriptedAnswer& answer) {
         if (answer.body.size() > 64) {
             answer.body[answer.body.size() / 2] ^= 0x01;
         }
     },
     true},
    {"ChunkRunRefused", "data/big.bin",
     [](testsupport::ScriptedAnswer& answer) {
         if (answer.body.size() > 64) {
             answer.status = 416;
             answer.headers.erase("content-range");
         }
     },
     true},
    {"ChunkMapDamaged", "morvane.chunks",
     [](testsupport::ScriptedAnswer& answer) { answer.body[answer.body.size() / 2] ^= 0x01; },
     false},
};

class EntryFallbacks : public ChangedFilesFetch,
                       public ::testing::WithParamInterface<EntryFallback> {};

// The chunks that do not come as listed cost their file alone: it is
// gathered whole, and the bar's total grows by it so that it never passes
// its end.
TEST_P(EntryFallbacks, FetchTheFileWhole) {
    bool firstOnly = false;
    const delta::ByteSpan span = release->spanOf(GetParam().entryName);
    web.change = [&](const testsupport::ScriptedRequest& request,
                     testsupport::ScriptedAnswer& answer) {
        if (!firstOnly && request.first && *request.first >= span.offset &&
            *request.first < span.offset + span.length && answer.body.size() > 64) {
            firstOnly = true;
            GetParam().change(answer);
        }
    };

    ASSERT_TRUE(fetch());

    EXPECT_EQ(fallbacks.size(), 1U);
    EXPECT_FALSE(testsupport::exists(tempFile("data/big.bin")));
    const auto names = gathered();
    EXPECT_NE(std::find(names.begin(), names.end(), "data/big.bin"), names.end());
    expectProgressWithinPlan();
    EXPECT_EQ(totalGrowth(), GetParam().chunksTried ? release->spanOf("data/big.bin").length : 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, EntryFallbacks, ::testing::ValuesIn(entryFallbacks),
                         testsupport::CaseName());

using Fetch = ChangedFilesFetch;

using Kind = updater::FetchFailureKind;

struct WholePackageReason {
    const char* name;
    std::function<void(Fetch&)> apply;
    Kind kind;
};

const std::vector<WholePackageReason> wholePackageReasons = {
    {"NoManifestNamed", [](Fetch& f) { f.line.manifest.reset(); }, Kind::notOffered},
    {"NoDirectoryNamed", [](Fetch& f) { f.line.directory.reset(); }, Kind::notOffered},
    {"OtherDirectory", [](Fetch& f) { (*f.line.directory)[0] ^= 1; }, Kind::notAsSigned},
    {"OtherManifest", [](Fetch& f) { (*f.line.manifest)[0] ^= 1; }, Kind::notAsSigned},
    {"OtherPackageSize", [](Fetch& f) { f.line.size += 1; }, Kind::notAsSigned},
    {"RangesRefused",
     [](Fetch& f) {
         f.web.change = [](const testsupport::ScriptedRequest&,
                           testsupport::ScriptedAnswer& answer) {
             answer.status = 200;
             answer.headers.erase("content-range");
             answer.body = Fetch::release->package;
         };
     },
     Kind::rangesRefused},
    {"TailCutShort",
     [](Fetch& f) {
         f.web.change = [](const testsupport::ScriptedRequest&,
                           testsupport::ScriptedAnswer& answer) {
             answer.failsAfter = answer.body.size() / 2;
         };
     },
     Kind::transferFailed},
    {"ManifestByteFlipped",
     [](Fetch& f) {
         f.changeSpan("morvane.manifest", [](testsupport::ScriptedAnswer& answer) {
             answer.body[answer.body.size() - 3] ^= 0x01;
         });
     },
     Kind::notAsSigned},
    {"GatheredEntryCutShort",
     [](Fetch& f) {
         f.changeSpan("readme.txt", [](testsupport::ScriptedAnswer& answer) {
             answer.failsAfter = answer.body.size() - 1;
         });
     },
     Kind::transferFailed},
    {"NothingInstalled",
     [](Fetch& f) {
         std::filesystem::remove_all(f.install + "/data");
         std::filesystem::remove(f.install + "/readme.txt");
     },
     Kind::notOffered},
    {"NoTempFolder", [](Fetch& f) { std::filesystem::remove(f.temp); }, Kind::localFiles},
    {"ManifestLeftInTheWay",
     [](Fetch& f) { testsupport::writeFile(f.temp + "/morvane.manifest", "earlier"); },
     Kind::localFiles},
};

class WholePackageReasons : public ChangedFilesFetch,
                            public ::testing::WithParamInterface<WholePackageReason> {};

// Each is a failure of its kind, never raised: the caller downloads the
// whole package.
TEST_P(WholePackageReasons, AreFailures) {
    GetParam().apply(*this);
    const auto fetched = fetch();
    ASSERT_FALSE(fetched);
    EXPECT_EQ(updater::fetchFailureKind(fetched.failure()), GetParam().kind);
    EXPECT_FALSE(fetched.failure().told);
    for (const auto& [received, planned] : progress) {
        EXPECT_LE(received, planned);
    }
}

INSTANTIATE_TEST_SUITE_P(Reasons, WholePackageReasons, ::testing::ValuesIn(wholePackageReasons),
                         testsupport::CaseName());

struct FullDisk {
    const char* name;
    // The entry whose file in the temp folder cannot be written past room.
    const char* file;
    std::size_t room;
    bool fetched; // the fetch still succeeds (a chunk's file, fetched whole)
};

class FullDisks : public ChangedFilesFetch, public ::testing::WithParamInterface<FullDisk> {};

TEST_P(FullDisks, FailOrFallBack) {
    const std::string path = tempFile(GetParam().file);
    testsupport::FailingWrites full(path, ENOSPC, GetParam().room);

    const auto fetched = fetch();

    EXPECT_EQ(static_cast<bool>(fetched), GetParam().fetched);
    EXPECT_GT(full.failedWrites(), 0U);
    if (GetParam().fetched) {
        EXPECT_EQ(fallbacks.size(), 1U);
        EXPECT_FALSE(testsupport::exists(path));
        expectProgressWithinPlan();
        EXPECT_EQ(totalGrowth(), release->spanOf("data/big.bin").length);
    }
}

const std::vector<FullDisk> fullDisks = {
    {"Manifest", "morvane.manifest", 0, false},
    {"GatheredArchive", "gathered.zip", 0, false},
    {"RebuiltFile", "data/big.bin", 100'000, true},
};

INSTANTIATE_TEST_SUITE_P(Files, FullDisks, ::testing::ValuesIn(fullDisks), testsupport::CaseName());

} // namespace
