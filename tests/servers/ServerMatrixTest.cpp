// A signed release served by each web server and cache publishers use,
// installed by the real updater in its real window: first as a whole
// package, then over the release before it by the changed files (a large
// file by its changed chunks). Each cell's logs are left in the artifact
// folder as the evidence of what it did.
#include "testsupport/MatrixServers.h"

#include "PublisherRun.h"
#include "testsupport/CaseName.h"
#include "testsupport/NginxServer.h"
#include "testsupport/PatternedBytes.h"
#include "testsupport/VersionedExecutable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

constexpr std::size_t largeSize = 3 << 20;

// Release 1.3.n: its executable, small files and a large one that goes by
// chunks; 1.3.2 changes a byte of the large file and one small file.
void makeRelease(const std::string& folder, int n) {
    testsupport::writeVersionedExecutable(folder + "/morvane.exe", "1.3.0." + std::to_string(n));
    chmod((folder + "/morvane.exe").c_str(), 0755);
    testsupport::TempDir::makeFolder(folder + "/data");
    std::string large = testsupport::halfTextHalfRandom(largeSize, 5);
    large[largeSize / 3] ^= static_cast<char>(n);
    writeFile(folder + "/data/large.bin", large);
    for (int file = 0; file < 4; ++file) {
        writeFile(folder + "/data/small" + std::to_string(file) + ".txt",
                  "small file " + std::to_string(file) + (file == 0 ? std::to_string(n) : "") +
                      "\n");
    }
}

std::map<std::string, std::string> filesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().filename() != "NoteError.txt") {
            files[fs::relative(entry.path(), folder).string()] = readFile(entry.path().string());
        }
    }
    return files;
}

// Leaves what the cell did where the run's artifacts go.
void keepEvidence(const std::string& name, const std::string& text) {
    const std::string folder = testsupport::artifactFolder() + "/servers";
    fs::create_directories(folder);
    writeFile(folder + "/" + name + ".log", text);
}

class ServerMatrix : public ::testing::TestWithParam<testsupport::Cell> {
protected:
    // Serves the publication, runs the updater and checks that it ended
    // exactly as the published release; what it logged, for the caller.
    std::string updateThrough(KeyedPublication& published, const std::string& scenario) {
        const std::unique_ptr<testsupport::Served> served = GetParam().serve(published.web.path());
        const int status = published.runUpdater(served->host());
        const std::string said = readFile(published.scratch / "updater.out");
        const std::string noted = testsupport::exists(published.install + "/NoteError.txt")
                                      ? readFile(published.install + "/NoteError.txt")
                                      : std::string();
        const std::string logs = served->logs();
        keepEvidence(std::string(GetParam().name) + "-" + scenario,
                     "updater:\n" + said + "noted:\n" + noted + logs);
        EXPECT_EQ(status, 0) << said << noted << logs;
        EXPECT_EQ(filesBelow(published.install), filesBelow(published.release.path()))
            << said << noted << logs;
        return noted;
    }
};

TEST_P(ServerMatrix, FirstInstallOfASignedRelease) {
    KeyedPublication published;
    makeRelease(published.release.path(), 2);
    published.publish();
    testsupport::writeVersionedExecutable(published.install + "/morvane.exe", "1.2.0.5");
    updateThrough(published, "first-install");
}

TEST_P(ServerMatrix, UpdateByTheChangedFiles) {
    KeyedPublication published;
    makeRelease(published.release.path(), 2);
    published.publish();
    makeRelease(published.install, 1);
    const std::string noted = updateThrough(published, "changed-files");
    EXPECT_EQ(noted.find("fetching only the files that changed did not work"), std::string::npos)
        << noted;
}

INSTANTIATE_TEST_SUITE_P(Cells, ServerMatrix, ::testing::ValuesIn(testsupport::matrixCells()),
                         testsupport::CaseName());

} // namespace
