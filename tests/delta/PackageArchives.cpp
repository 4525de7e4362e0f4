#include "PackageArchives.h"

#include "testsupport/TempDir.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace deltatest {

namespace {

std::string runScript(const std::string& arguments, const std::string& scratch) {
    const std::string command =
        "python3 '" DELTA_ARCHIVE_SCRIPT "' " + arguments + " > '" + scratch + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return testsupport::readFile(scratch);
}

Listing pythonListing(const std::string& mode, const std::string& archive,
                      const std::string& scratch) {
    std::istringstream lines(runScript(mode + " '" + archive + "'", scratch));
    Listing listing;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string name;
        std::getline(fields, name, '\t');
        if (name == "directory") {
            fields >> listing.directoryOffset;
            continue;
        }
        delta::DirectoryEntry entry;
        entry.name = name;
        fields >> entry.localHeaderOffset >> entry.compressedSize >> entry.size >> entry.crc32 >>
            entry.method >> entry.flags;
        listing.entries.push_back(entry);
    }
    return listing;
}

void buildWithOurLibrary(const std::string& archive) {
    const testsupport::TempDir tree;
    testsupport::TempDir::makeFolder(tree / "folder");
    testsupport::writeFile(tree / "morvane.manifest", "morvane-manifest v1\n");
    testsupport::writeFile(tree / "a.txt", std::string(3000, 'a'));
    testsupport::writeFile(tree / "folder/b.bin", std::string(5000, 'b'));
    zip32test::ZipCall stored;
    stored.options.compressionLevel = '0';
    ASSERT_EQ(stored.run(archive, tree.path(), {"morvane.manifest"}), ZP_OK) << stored.printed;
    zip32test::ZipCall rest;
    rest.options.recurseFolders = 1;
    ASSERT_EQ(rest.run(archive, tree.path(), {"a.txt", "folder"}), ZP_OK) << rest.printed;
}

} // namespace

Listing makePackage(const std::string& mode, const std::string& archive,
                    const std::string& scratch) {
    if (mode != "ours") {
        return pythonListing(mode, archive, scratch);
    }
    buildWithOurLibrary(archive);
    return pythonListing("list", archive, scratch);
}

std::vector<ReadArchive> pythonRead(const std::vector<std::string>& archives,
                                    const std::string& scratch) {
    std::string arguments = "read";
    for (const std::string& archive : archives) {
        arguments += " '" + archive + "'";
    }
    std::istringstream lines(runScript(arguments, scratch));
    std::vector<ReadArchive> read(archives.size());
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::size_t place = 0;
        std::string name;
        fields >> place;
        fields.ignore(1);
        std::getline(fields, name, '\t');
        ReadEntry& entry = read.at(place)[name];
        fields >> entry.mode >> entry.size >> entry.sha256;
    }
    return read;
}

} // namespace deltatest
