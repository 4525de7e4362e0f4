// What an installation fetches of a package: an entry it holds as the
// manifest says is taken from it, any other is fetched as its span; a
// manifest and a directory that tell different stories give no plan.
#include "delta/DeltaPlan.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace {

delta::Sha256 digest(std::uint8_t fill) {
    delta::Sha256 value{};
    value.fill(fill);
    return value;
}

// The package: the manifest, two files and a folder, spans back to back,
// then a directory of 300 bytes.
delta::PackageDirectory packageDirectory() {
    delta::PackageDirectory directory;
    directory.entries = {{"morvane.manifest", 0, 0, 0, 200, 200, 0},
                         {"a.dll", 8, 0, 0, 40, 1000, 300},
                         {"docs/", 0, 0, 0, 0, 0, 400},
                         {"docs/b.txt", 8, 8, 0, 400, 900, 450}};
    directory.spans = {{0, 300}, {300, 100}, {400, 50}, {450, 500}};
    directory.directoryOffset = 950;
    directory.directorySize = 280;
    directory.packageSize = 1250;
    return directory;
}

delta::PackageManifest packageManifest() {
    return {{{"a.dll", "a.dll", 1000, 0755, digest(1)},
             {"docs/b.txt", "docs/b.txt", 900, 0644, digest(2)}}};
}

// The installation: installed path, size, digest.
using Installed = std::set<std::tuple<std::string, std::uint64_t, delta::Sha256>>;

struct PlanCase {
    const char* name;
    Installed installed;
    std::function<void(delta::PackageManifest&, delta::PackageDirectory&)> change;
    std::set<std::string> fetched; // entry names
    std::uint64_t totalBytes;      // tail, manifest span and the spans fetched
    std::string says;              // no plan: why
};

class Plan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Plan, FetchesWhatTheInstallationLacks) {
    const PlanCase& c = GetParam();
    delta::PackageManifest manifest = packageManifest();
    delta::PackageDirectory directory = packageDirectory();
    if (c.change) {
        c.change(manifest, directory);
    }
    std::string why;
    const auto plan = delta::planDelta(
        manifest, directory, 300,
        [&](const std::string& path, std::uint64_t size, const delta::Sha256& sha256) {
            return c.installed.count({path, size, sha256}) > 0;
        },
        why);
    if (!c.says.empty()) {
        EXPECT_FALSE(plan.has_value());
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
        return;
    }
    ASSERT_TRUE(plan.has_value()) << why;
    std::set<std::string> fetched;
    for (const delta::PlannedEntry& entry : plan->entries) {
        EXPECT_EQ(directory.entries[entry.directoryIndex].name,
                  manifest.entries[entry.manifestIndex].entryName);
        if (entry.fetched) {
            fetched.insert(manifest.entries[entry.manifestIndex].entryName);
        }
    }
    EXPECT_EQ(fetched, c.fetched);
    EXPECT_EQ(plan->fetchedCount, c.fetched.size());
    EXPECT_EQ(plan->manifestSpan, (delta::ByteSpan{0, 300}));
    EXPECT_EQ(plan->totalBytes(), c.totalBytes);
}

const Installed bothAsListed{{"a.dll", 1000, digest(1)}, {"docs/b.txt", 900, digest(2)}};

INSTANTIATE_TEST_SUITE_P(
    Packages, Plan,
    ::testing::Values(
        PlanCase{"EveryFileUnchanged", bothAsListed, {}, {}, 600, ""},
        PlanCase{"OneFileChanged",
                 {{"a.dll", 1000, digest(1)}, {"docs/b.txt", 900, digest(9)}},
                 {},
                 {"docs/b.txt"},
                 1100,
                 ""},
        PlanCase{"OneFileMissing", {{"docs/b.txt", 900, digest(2)}}, {}, {"a.dll"}, 700, ""},
        PlanCase{"InstalledOfAnotherSize",
                 {{"a.dll", 999, digest(1)}, {"docs/b.txt", 900, digest(2)}},
                 {},
                 {"a.dll"},
                 700,
                 ""},
        PlanCase{"InstalledUnderAnotherPath",
                 {{"A.DLL", 1000, digest(1)}, {"docs/b.txt", 900, digest(2)}},
                 {},
                 {"a.dll"},
                 700,
                 ""},
        PlanCase{"ManifestSizeDiffersFromTheDirectory",
                 bothAsListed,
                 [](auto& manifest, auto&) { manifest.entries[1].size = 901; },
                 {},
                 0,
                 "gives docs/b.txt 901 bytes, the package's directory 900"},
        PlanCase{"LineWithoutItsEntry",
                 bothAsListed,
                 [](auto& manifest, auto&) {
                     manifest.entries.push_back({"c.dat", "c.dat", 1, 0644, digest(3)});
                 },
                 {},
                 0,
                 "lists c.dat, which the package does not hold"},
        PlanCase{"EntryWithoutALine",
                 bothAsListed,
                 [](auto& manifest, auto&) { manifest.entries.pop_back(); },
                 {},
                 0,
                 "holds docs/b.txt, which the manifest does not list"},
        PlanCase{"FolderHoldingBytesIsNoFolder",
                 bothAsListed,
                 [](auto&, auto& directory) { directory.entries[2].size = 1; },
                 {},
                 0,
                 "holds docs/, which the manifest does not list"},
        PlanCase{"NoManifestEntry",
                 bothAsListed,
                 [](auto&, auto& directory) { directory.entries[0].name = "other"; },
                 {},
                 0,
                 "no entry morvane.manifest"},
        PlanCase{"ManifestListsItself",
                 bothAsListed,
                 [](auto& manifest, auto&) {
                     manifest.entries.push_back(
                         {"morvane.manifest", "morvane.manifest", 200, 0644, digest(4)});
                 },
                 {},
                 0,
                 "lists itself"}),
    testsupport::CaseName());

} // namespace
