// A package's directory read from its tail, as the updater will fetch it:
// archives made by Python's zipfile (stored and deflated entries, a folder,
// data descriptors, zip64) and by our zip library, each read as Python reads
// it, from tails too short until the reader names what it needs; then the
// ways a hostile tail could lie.
#include "delta/PackageDirectory.h"
#include "delta/LocalPackage.h"
#include "delta/StoredEntry.h"

#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "zip32test/ZipHarness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>

namespace {

using Outcome = delta::DirectoryReading::Outcome;

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

delta::DirectoryReading readTail(const std::string& package, std::size_t length) {
    return delta::readPackageDirectory(bytesOf(package).last(length), package.size());
}

// Python's view of the archive: its entries and where its directory starts.
struct Listing {
    std::vector<delta::DirectoryEntry> entries;
    std::uint64_t directoryOffset = 0;
};

Listing pythonListing(const std::string& mode, const std::string& archive,
                      const std::string& scratch) {
    const std::string command =
        "python3 '" DELTA_ARCHIVE_SCRIPT "' " + mode + " '" + archive + "' > '" + scratch + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::istringstream lines(testsupport::readFile(scratch));
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

// An archive made by our zip library, through its C interface: the
// manifest stored in a first call, the rest deflated in a second.
void buildWithOurLibrary(const std::string& archive, const testsupport::TempDir& tree) {
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

struct ArchiveCase {
    const char* name;
    std::string mode; // make_archive.py's, or "ours"
};

class ArchiveDirectory : public ::testing::TestWithParam<ArchiveCase> {};

TEST_P(ArchiveDirectory, ReadsWhatPythonReadsFromTheShortestTailThatHoldsIt) {
    testsupport::TempDir folder;
    const std::string archive = folder / "package.zip";
    Listing expected;
    if (GetParam().mode == "ours") {
        testsupport::TempDir tree;
        buildWithOurLibrary(archive, tree);
        expected = pythonListing("list", archive, folder / "listing");
    } else {
        expected = pythonListing(GetParam().mode, archive, folder / "listing");
    }
    ASSERT_FALSE(expected.entries.empty());
    const std::string package = testsupport::readFile(archive);

    // The updater's first guess may be short; it fetches what it is told.
    std::size_t length = std::size_t{22};
    delta::DirectoryReading reading = readTail(package, length);
    for (int rounds = 0; reading.outcome == Outcome::needsMore && rounds < 4; ++rounds) {
        ASSERT_GT(reading.bytesNeeded, length);
        length = static_cast<std::size_t>(reading.bytesNeeded);
        reading = readTail(package, length);
    }
    ASSERT_EQ(reading.outcome, Outcome::read) << reading.why;
    EXPECT_EQ(length, package.size() - expected.directoryOffset) << "the least tail that holds it";
    const delta::PackageDirectory& directory = reading.directory;
    EXPECT_EQ(directory.directoryOffset, expected.directoryOffset);
    ASSERT_EQ(directory.entries.size(), expected.entries.size());
    for (std::size_t i = 0; i < expected.entries.size(); ++i) {
        const delta::DirectoryEntry& got = directory.entries[i];
        const delta::DirectoryEntry& want = expected.entries[i];
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.localHeaderOffset, want.localHeaderOffset) << want.name;
        EXPECT_EQ(got.compressedSize, want.compressedSize) << want.name;
        EXPECT_EQ(got.size, want.size) << want.name;
        EXPECT_EQ(got.crc32, want.crc32) << want.name;
        EXPECT_EQ(got.method, want.method) << want.name;
        EXPECT_EQ(got.flags, want.flags) << want.name;
        // Each span runs to the next local header; the last to the directory.
        const std::uint64_t next = i + 1 < expected.entries.size()
                                       ? expected.entries[i + 1].localHeaderOffset
                                       : expected.directoryOffset;
        EXPECT_EQ(directory.spans[i],
                  (delta::ByteSpan{want.localHeaderOffset, next - want.localHeaderOffset}))
            << want.name;
    }
    // A longer tail reads the same; and the manifest, stored first, reads
    // out of its span as the file holds it.
    EXPECT_EQ(readTail(package, package.size()).directory.spans, directory.spans);
    const delta::LocalPackage local = delta::readLocalPackage(archive);
    ASSERT_TRUE(local.manifestBytes.has_value());
    EXPECT_EQ(*local.manifestBytes, "morvane-manifest v1\n");
    EXPECT_EQ(local.tailBytes, length);
}

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveDirectory,
                         ::testing::Values(ArchiveCase{"PythonStoredAndDeflated", "plain"},
                                           ArchiveCase{"PythonDataDescriptors", "descriptor"},
                                           ArchiveCase{"PythonZip64", "zip64"},
                                           ArchiveCase{"OurZipLibrary", "ours"}),
                         testsupport::CaseName());

// One archive of Python's, made once for the tests that change its bytes.
struct PlainPackage {
    std::string bytes;
    std::size_t directoryOffset = 0;
};

const PlainPackage& plainPackage() {
    static const PlainPackage made = [] {
        testsupport::TempDir folder;
        const Listing listing = pythonListing("plain", folder / "package.zip", folder / "listing");
        return PlainPackage{testsupport::readFile(folder / "package.zip"),
                            static_cast<std::size_t>(listing.directoryOffset)};
    }();
    return made;
}

// The offset of the n-th central record (from 0) in the package.
std::size_t centralRecord(const std::string& package, std::size_t directoryOffset, int n) {
    std::size_t at = directoryOffset;
    for (int i = 0; i < n; ++i) {
        at = package.find(std::string("PK\x01\x02", 4), at + 4);
    }
    return at;
}

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

struct DamageCase {
    const char* name;
    // Changes the package, whose directory starts at the given offset.
    std::function<void(std::string&, std::size_t)> damage;
    std::string says;
};

class DamagedTail : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedTail, IsRefusedForWhatItIs) {
    std::string package = plainPackage().bytes;
    GetParam().damage(package, plainPackage().directoryOffset);

    const delta::DirectoryReading reading = readTail(package, package.size());
    EXPECT_EQ(reading.outcome, Outcome::refused);
    EXPECT_NE(reading.why.find(GetParam().says), std::string::npos) << reading.why;
}

constexpr std::size_t localOffsetAt = 42;

INSTANTIATE_TEST_SUITE_P(
    Tails, DamagedTail,
    ::testing::Values(
        DamageCase{"BytesAfterTheComment", [](std::string& p, std::size_t) { p += "x"; },
                   "bytes follow"},
        DamageCase{"NoArchive", [](std::string& p, std::size_t) { p.assign(70000, 'x'); },
                   "no end of central directory"},
        DamageCase{"TwoEntriesAtOneOffset",
                   [](std::string& p, std::size_t d) {
                       put32(p, centralRecord(p, d, 1) + localOffsetAt, 0);
                   },
                   "the entries overlap"},
        DamageCase{"SpanTooShortForItsData",
                   [](std::string& p, std::size_t d) {
                       // a.txt's header moved onto the manifest's data.
                       put32(p, centralRecord(p, d, 1) + localOffsetAt, 40);
                   },
                   "the entries overlap"},
        DamageCase{"LocalHeaderPastTheDirectory",
                   [](std::string& p, std::size_t d) {
                       put32(p, centralRecord(p, d, 4) + localOffsetAt,
                             static_cast<std::uint32_t>(d));
                   },
                   "at or past the central directory"},
        DamageCase{"DirectoryPastTheEnd",
                   [](std::string& p, std::size_t) {
                       put32(p, p.size() - 22 + 16, static_cast<std::uint32_t>(p.size()));
                   },
                   "outside the package"},
        DamageCase{"CountBeyondTheDirectory",
                   [](std::string& p, std::size_t) { p[p.size() - 22 + 10] = '\x7f'; },
                   "entry count"},
        DamageCase{"NameRunsPastTheDirectory",
                   [](std::string& p, std::size_t d) { p[centralRecord(p, d, 4) + 29] = '\x10'; },
                   "runs past the directory"},
        DamageCase{"RecordBroken",
                   [](std::string& p, std::size_t d) { p[centralRecord(p, d, 2)] = 'Q'; },
                   "central record is broken"},
        DamageCase{"TwoEntriesOfOneName",
                   [](std::string& p, std::size_t d) {
                       p.replace(centralRecord(p, d, 4) + 46, 5, "a.txt");
                   },
                   "two entries are named \"a.txt\""}),
    testsupport::CaseName());

// The manifest is read out of its span only when stored as it is and
// whole; a deflated one, or one whose bytes changed, is not taken.
TEST(StoredEntry, IsTakenOnlyStoredAndWhole) {
    const std::string& package = plainPackage().bytes;
    const delta::DirectoryReading reading = readTail(package, package.size());
    ASSERT_EQ(reading.outcome, Outcome::read) << reading.why;
    const auto spanBytes = [&](std::size_t index, const std::string& bytes) {
        const delta::ByteSpan span = reading.directory.spans[index];
        return bytesOf(bytes).subspan(span.offset, span.length);
    };
    std::string why;
    EXPECT_TRUE(delta::storedEntryBytes(spanBytes(0, package), reading.directory.entries[0], why));
    EXPECT_FALSE(delta::storedEntryBytes(spanBytes(1, package), reading.directory.entries[1], why));
    EXPECT_NE(why.find("compressed"), std::string::npos) << why;
    std::string changed = package;
    changed[30 + 16 + 3] ^= 1;
    EXPECT_FALSE(delta::storedEntryBytes(spanBytes(0, changed), reading.directory.entries[0], why));
    EXPECT_NE(why.find("CRC-32"), std::string::npos) << why;
    EXPECT_FALSE(delta::storedEntryBytes(spanBytes(0, package).first(50),
                                         reading.directory.entries[0], why));
    EXPECT_NE(why.find("runs past"), std::string::npos) << why;
    EXPECT_FALSE(delta::storedEntryBytes(spanBytes(1, package), reading.directory.entries[0], why));
    EXPECT_NE(why.find("another entry"), std::string::npos) << why;
}

} // namespace
