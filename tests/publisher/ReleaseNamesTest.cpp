// Names a release may hold that the tool writes too, or that ship without a
// publisher noticing: the chunk map's name is the tool's only where the
// package carries a chunk map, and hidden entries and empty folders are
// named as they go out, never refused.
#include "PublisherRun.h"

#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

namespace {

using testsupport::readFile;

class ReleaseNames : public ::testing::Test {
protected:
    // The release folder holding files (path: bytes), folders made as needed.
    void make(const std::map<std::string, std::string>& files,
              const std::vector<std::string>& folders = {}) {
        for (const auto& [path, bytes] : files) {
            std::filesystem::create_directories(
                std::filesystem::path(release / path).parent_path());
            testsupport::writeFile(release / path, bytes);
        }
        for (const std::string& folder : folders) {
            std::filesystem::create_directories(release / folder);
        }
    }
    PublisherRun publish() {
        return runPublisher({release.path(), "1.3.0", web.path()}, scratch / "tool.out");
    }
    std::string package() const { return web / "clientfiles/morvane/morvane.zip"; }
    // The package's entry names, as Python's zipfile reads them.
    std::vector<std::string> packageEntries() {
        const std::string command =
            "python3 -c 'import sys, zipfile; "
            "print(\"\\n\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' '" +
            package() + "' > '" + scratch / "entries" + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::vector<std::string> names;
        std::istringstream lines(readFile(scratch / "entries"));
        for (std::string line; std::getline(lines, line);) {
            names.push_back(line);
        }
        return names;
    }

    testsupport::TempDir release;
    testsupport::TempDir web;
    testsupport::TempDir scratch;
};

// Enough bytes that the package deflates the file in chunks and carries a
// chunk map.
std::string chunkedFile() {
    std::mt19937 random(7);
    std::string bytes(std::size_t{1} << 20, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(random()); });
    return bytes;
}

bool holds(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The lines of what the tool said that begin with "note: " and then name.
bool noted(const std::string& output, const std::string& name) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("note: " + name + " ")) {
            return true;
        }
    }
    return false;
}

TEST_F(ReleaseNames, ChunkMapNameIsTakenOnlyWhereThePackageCarriesAChunkMap) {
    const struct {
        const char* what;
        std::map<std::string, std::string> files;
        bool chunked; // the release holds a file deflated in chunks
        bool published;
        std::vector<std::string> said; // named in a refusal
    } cases[] = {
        {"a nested file of the name, no chunk map",
         {{"morvane.exe", "program"}, {"sub/morvane.chunks", "the release's"}},
         false,
         true,
         {}},
        {"a nested file of the name beside a chunked file",
         {{"morvane.exe", "program"}, {"sub/morvane.chunks", "the release's"}},
         true,
         false,
         {"sub/morvane.chunks"}},
        {"a MOVE whose pattern takes the name, no chunk map",
         {{"morvane.exe", "program"},
          {"morvane.cfg", "settings"},
          {"updater.ini", "MOVE;morvane.c*;APP_PATH\r\nMOVE;morvane.exe;APP_PATH\r\n"}},
         false,
         true,
         {}},
        {"a MOVE whose pattern takes the name beside a chunked file",
         {{"morvane.exe", "program"},
          {"morvane.cfg", "settings"},
          {"updater.ini", "MOVE;morvane.c*;APP_PATH\r\nMOVE;morvane.exe;APP_PATH\r\n"}},
         true,
         false,
         {"MOVE;morvane.c*;APP_PATH", "morvane.chunks"}},
        // Updaters read the package's top entry of the name as its chunk map.
        {"a file of the name at the top, no chunk map",
         {{"morvane.exe", "program"}, {"Morvane.Chunks", "the release's"}},
         false,
         false,
         {"Morvane.Chunks"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(release.path());
        std::filesystem::remove_all(web.path());
        std::filesystem::create_directories(release.path());
        make(c.files);
        if (c.chunked) {
            testsupport::writeFile(release / "data.bin", chunkedFile());
        }

        const PublisherRun run = publish();

        ASSERT_EQ(run.status, c.published ? 0 : 1) << run.output;
        if (!c.published) {
            EXPECT_FALSE(testsupport::exists(web / "clientfiles")) << run.output;
            for (const std::string& name : c.said) {
                EXPECT_NE(run.output.find(name), std::string::npos) << run.output;
            }
            // The conflict is the chunk map's alone.
            EXPECT_EQ(run.output.find("morvane.manifest"), std::string::npos) << run.output;
            continue;
        }
        const std::vector<std::string> entries = packageEntries();
        for (const auto& [path, bytes] : c.files) {
            EXPECT_TRUE(holds(entries, path)) << path;
        }
        EXPECT_FALSE(holds(entries, "morvane.chunks"));
    }
}

TEST_F(ReleaseNames, HiddenEntriesAndEmptyFoldersAreNamedAndShipped) {
    make({{"morvane.exe", "program"},
          {".DS_Store", "finder"},
          {"docs/readme.txt", "readme"},
          {"docs/.x.swp", "swap"},
          {".git/config", "config"},
          {".git/objects/.keep", ""}},
         {"logs/empty", "cache/inner"});

    PublisherRun run = publish();

    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<std::string> entries = packageEntries();
    for (const char* path : {".DS_Store", "docs/.x.swp", ".git/config", ".git/objects/.keep"}) {
        EXPECT_TRUE(holds(entries, path)) << path;
    }
    // A hidden folder once, with all it holds; a folder that holds only an
    // empty one is not empty.
    for (const char* name : {".DS_Store", "docs/.x.swp", ".git/", "logs/empty/", "cache/inner/"}) {
        EXPECT_TRUE(noted(run.output, name)) << name << '\n' << run.output;
    }
    for (const char* name :
         {"docs/readme.txt", "docs/", ".git/config", ".git/objects/", "logs/", "cache/"}) {
        EXPECT_FALSE(noted(run.output, name)) << name << '\n' << run.output;
    }

    // The release's own updater.ini makes no folder it does not name.
    testsupport::writeFile(release / "updater.ini", "MOVE;morvane.exe;APP_PATH\r\n");
    run = publish();
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(noted(run.output, ".DS_Store")) << run.output;
    EXPECT_FALSE(noted(run.output, "logs/empty/")) << run.output;
}

} // namespace
