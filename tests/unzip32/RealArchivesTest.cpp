// Archives made at test time by other tools extract byte for byte, and the
// listing and test modes agree with what extraction finds.
#include "testsupport/TempDir.h"
#include "unzip32test/ArchiveTools.h"
#include "unzip32test/UnzipHarness.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <functional>
#include <set>

namespace unzip32test {
namespace {

// AES-128 entries as libzip itself writes them (the first format version,
// which keeps the CRC-32).
void libzipAesArchive(const std::string& source, const std::string& out) {
    int error = 0;
    zip_t* archive = zip_open(out.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const auto& [name, content] : readTree(source)) {
        if (content == "<folder>") {
            zip_dir_add(archive, name.c_str(), ZIP_FL_ENC_UTF_8);
            continue;
        }
        zip_source_t* data = zip_source_file(archive, (source + "/" + name).c_str(), 0, -1);
        const zip_int64_t index = zip_file_add(archive, name.c_str(), data, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(index, 0);
        ASSERT_EQ(zip_file_set_encryption(archive, static_cast<zip_uint64_t>(index), ZIP_EM_AES_128,
                                          "secret"),
                  0);
    }
    ASSERT_EQ(zip_close(archive), 0) << zip_strerror(archive);
}

struct Maker {
    const char* name;
    std::function<void(const std::string& source, const std::string& out)> build;
    bool encrypted = false;
};

std::function<void(const std::string&, const std::string&)> script(const char* kind) {
    return [kind](const std::string& source, const std::string& out) {
        scriptArchive(kind, out, source);
    };
}

std::function<void(const std::string&, const std::string&)> tool(std::vector<std::string> head) {
    return [head](const std::string& source, const std::string& out) {
        std::vector<std::string> arguments = head;
        // Every tool here takes the archive and then what to put in it: the
        // folder's names in name order, so that entries come in one order
        // whatever order the file system lists them in.
        arguments.push_back(out);
        std::set<std::string> names;
        for (const auto& item : std::filesystem::directory_iterator(source)) {
            names.insert(item.path().filename().string());
        }
        arguments.insert(arguments.end(), names.begin(), names.end());
        runTool(arguments, source);
    };
}

// The tree with an empty zip (22 bytes) at where, stored by build.
std::function<void(const std::string&, const std::string&)>
withEmptyZip(const std::string& where,
             std::function<void(const std::string&, const std::string&)> build) {
    return [where, build](const std::string& source, const std::string& out) {
        std::filesystem::create_directories(
            std::filesystem::path(source + "/" + where).parent_path());
        scriptArchive("empty", source + "/" + where);
        build(source, out);
    };
}

const Maker makers[] = {
    {"PythonStored", script("stored")},
    {"PythonDeflated", script("deflated")},
    {"PythonBzip2", script("bzip2")},
    {"PythonToPipeWithDataDescriptors", script("pipe")},
    {"PythonForcedZip64", script("zip64")},
    {"PythonWithComment", script("commented")},
    // Two more end record signatures in the comment, both agreeing with the
    // archive's own end record.
    {"PythonWithEndRecordInComment", script("end-record-in-comment")},
    {"PythonAfterAStub", script("after-stub")},
    {"Bsdtar", tool({"bsdtar", "--format=zip", "-cf"})},
    {"SevenZipDeflate", tool({"7z", "a", "-bd", "-tzip", "-mm=Deflate"})},
    {"SevenZipZipCrypto", tool({"7z", "a", "-bd", "-tzip", "-psecret", "-mem=ZipCrypto"}), true},
    {"SevenZipAes256", tool({"7z", "a", "-bd", "-tzip", "-psecret", "-mem=AES256"}), true},
    {"LibzipAes128", libzipAesArchive, true},
    // A zip stored near the end brings an end record of its own, which is
    // that entry's content and no second directory of the package.
    {"PythonEmptyZipLast", withEmptyZip("templates/empty.zip", script("zips-stored"))},
    {"PythonEmptyZipInTheMiddle", withEmptyZip("bin/empty.zip", script("zips-stored"))},
    {"PythonSmallZipLastPointingIntoAnother", script("zip-after-its-older-version")},
    {"BsdtarStoredEmptyZipLast",
     withEmptyZip("templates/empty.zip",
                  tool({"bsdtar", "--format=zip", "--options", "zip:compression=store", "-cf"}))},
    {"SevenZipStoredEmptyZipLast",
     withEmptyZip("templates/empty.zip", tool({"7z", "a", "-bd", "-tzip", "-mx=0"}))},
};

void PrintTo(const Maker& maker, std::ostream* out) {
    *out << maker.name;
}

// A stored name as the listing gives it, without "./" before or "/" after.
std::string plainName(std::string name) {
    if (name.rfind("./", 0) == 0) {
        name.erase(0, 2);
    }
    if (!name.empty() && name.back() == '/') {
        name.pop_back();
    }
    return name;
}

class RealArchives : public ::testing::TestWithParam<Maker> {
protected:
    void SetUp() override {
        writeTree(m_temp / "source", samplePackage());
        GetParam().build(m_temp / "source", m_archive);
        // What the archive holds: the sample and what its maker added.
        m_expected = readTree(m_temp / "source");
    }

    UnzipCall call() const {
        UnzipCall call;
        if (GetParam().encrypted) {
            call.password = [](const std::string&) { return std::string("secret"); };
        }
        return call;
    }

    testsupport::TempDir m_temp;
    std::string m_archive = m_temp / "package.zip";
    Tree m_expected;
};

TEST_P(RealArchives, ExtractByteForByte) {
    UnzipCall extraction = call();
    ASSERT_EQ(extraction.run(m_archive, m_temp / "out"), UZP_OK) << extraction.printed;
    EXPECT_EQ(readTree(m_temp / "out"), m_expected);
    EXPECT_EQ(extraction.sounds, 0);
}

TEST_P(RealArchives, ListingAndTestAgreeWithTheContents) {
    UnzipCall listing = call();
    listing.options.listContents = 1;
    ASSERT_EQ(listing.run(m_archive, m_temp / "unused"), UZP_OK) << listing.printed;
    EXPECT_FALSE(testsupport::exists(m_temp / "unused"));

    const Tree& expected = m_expected;
    std::set<std::string> files;
    for (const ListedEntry& entry : listing.listed) {
        const std::string name = plainName(entry.name);
        if (name.empty() || entry.kind == 'd') {
            continue;
        }
        files.insert(name);
        ASSERT_TRUE(expected.count(name)) << name;
        EXPECT_EQ(entry.size, expected.at(name).size()) << name;
        EXPECT_EQ(entry.encrypted, GetParam().encrypted ? 1 : 0) << name;
        EXPECT_GE(entry.year, 1980u);
    }
    std::set<std::string> expectedFiles;
    for (const auto& [name, content] : expected) {
        if (content != "<folder>") {
            expectedFiles.insert(name);
        }
    }
    EXPECT_EQ(files, expectedFiles);

    UnzipCall test = call();
    test.options.testOnly = 1;
    ASSERT_EQ(test.run(m_archive, m_temp / "unused"), UZP_OK) << test.printed;
    EXPECT_FALSE(testsupport::exists(m_temp / "unused"));
    EXPECT_EQ(test.callbacks.entriesProcessed, listing.listed.size());
    EXPECT_EQ(listing.callbacks.entriesProcessed, listing.listed.size());
}

INSTANTIATE_TEST_SUITE_P(Tools, RealArchives, ::testing::ValuesIn(makers),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace unzip32test
