// A publication stopped by SIGINT or SIGTERM: the tool removes what it made,
// says so, and ends with 128 + the signal's number; the output folder is as
// it was.
#include "testsupport/ChildProcess.h"
#include "testsupport/TempDir.h"
#include "testsupport/TreeSnapshot.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

// The staging folder of the run publishing into served, once there is one.
std::string stagingFolderIn(const std::string& served, testsupport::ChildProcess& tool) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (tool.running() && std::chrono::steady_clock::now() < deadline) {
        std::error_code failure;
        for (fs::directory_iterator it(served, failure), end; !failure && it != end;
             it.increment(failure)) {
            if (it->path().filename().string().starts_with(".publishing-")) {
                return it->path().string();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return {};
}

TEST(PublisherStop, RemovesWhatItMadeAndSaysSo) {
    testsupport::TempDir release;
    testsupport::TempDir scratch;
    writeFile(release / "morvane.exe", "program");
    // Bytes that do not compress, so that packing them takes a while.
    std::string bytes(16 * 1024 * 1024, '\0');
    std::mt19937_64 random(5);
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8) {
        const std::uint64_t value = random();
        std::memcpy(bytes.data() + at, &value, 8);
    }
    writeFile(release / "data.bin", bytes);
    const struct {
        int number;
        const char* name;
        bool served; // the output folder serves a release already
    } cases[] = {{SIGINT, "SIGINT", true}, {SIGTERM, "SIGTERM", false}};
    for (const auto& c : cases) {
        testsupport::TempDir web;
        if (c.served) {
            testsupport::TempDir::makeFolder(web / "clientfiles");
            testsupport::TempDir::makeFolder(web / "clientfiles/morvane");
            writeFile(web / "clientfiles/morvane/version.php", "1.2.0");
            writeFile(web / "clientfiles/morvane/morvane.zip", "old package");
        }
        // Otherwise into a folder the run makes.
        const std::string outputFolder = c.served ? web.path() : web / "out";
        const testsupport::TreeSnapshot before = testsupport::snapshotTree(web.path(), {});
        testsupport::ChildProcess tool({MORVANE_PUBLISH, release.path(), "1.3.0", outputFolder},
                                       scratch / "tool.out");
        const std::string output = scratch / "tool.out";

        const std::string staging = stagingFolderIn(outputFolder + "/clientfiles/morvane", tool);
        ASSERT_FALSE(staging.empty()) << c.name << readFile(output);
        // Held still while the signal is sent, so that it comes while the
        // package is made, wherever that stands.
        tool.signal(SIGSTOP);
        tool.signal(c.number);
        tool.signal(SIGCONT);
        const testsupport::ChildProcess::Ending ending = tool.wait();

        ASSERT_TRUE(WIFEXITED(ending.status)) << c.name;
        EXPECT_EQ(WEXITSTATUS(ending.status), 128 + c.number) << c.name;
        const std::string said = readFile(output);
        EXPECT_NE(said.find("removed " + staging + ", the staging folder of this run\n"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find(std::string("morvane-publish: stopped by ") + c.name +
                            ": nothing published\n"),
                  std::string::npos)
            << said;
        EXPECT_EQ(testsupport::treeDifferences(before, testsupport::snapshotTree(web.path(), {})),
                  "")
            << c.name;
    }
}

} // namespace
