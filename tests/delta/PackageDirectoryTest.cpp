// A package's directory read from its tail, as the updater will fetch it:
// archives made by Python's zipfile (stored and deflated entries, a folder,
// data descriptors, zip64) and by our zip library, each read as Python reads
// it, from tails too short until the reader names what it needs; then the
// ways a hostile tail could lie.
#include "delta/PackageDirectory.h"
#include "delta/LocalPackage.h"

#include "PackageArchives.h"

#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <zip.h>

namespace {

using Outcome = delta::DirectoryReading::Outcome;

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

delta::DirectoryReading readTail(const std::string& package, std::size_t length) {
    return delta::readPackageDirectory(bytesOf(package).last(length), package.size());
}

class ArchiveDirectory : public ::testing::TestWithParam<deltatest::PackageKind> {};

TEST_P(ArchiveDirectory, ReadsWhatPythonReadsFromTheShortestTailThatHoldsIt) {
    testsupport::TempDir folder;
    const std::string archive = folder / "package.zip";
    const deltatest::Listing expected =
        deltatest::makePackage(GetParam().mode, archive, folder / "listing");
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

INSTANTIATE_TEST_SUITE_P(Archives, ArchiveDirectory, ::testing::ValuesIn(deltatest::packageKinds),
                         testsupport::CaseName());

// One archive of Python's, made once for the tests that change its bytes.
struct PlainPackage {
    std::string bytes;
    std::size_t directoryOffset = 0;
};

const PlainPackage& plainPackage() {
    static const PlainPackage made = [] {
        testsupport::TempDir folder;
        const deltatest::Listing listing =
            deltatest::makePackage("plain", folder / "package.zip", folder / "listing");
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

std::uint32_t get32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
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
        DamageCase{"BytesBetweenEntriesThatNoEntryNeeds",
                   [](std::string& p, std::size_t d) {
                       // Past the longest extra field and data descriptor:
                       // a fetch of the manifest would bring them too.
                       constexpr std::uint32_t gap = 0x10000 + 24;
                       const std::uint32_t second =
                           get32(p, centralRecord(p, d, 1) + localOffsetAt);
                       for (int n = 1; n <= 5; ++n) {
                           const std::size_t record = centralRecord(p, d, n) + localOffsetAt;
                           put32(p, record, get32(p, record) + gap);
                       }
                       put32(p, p.size() - 22 + 16, static_cast<std::uint32_t>(d) + gap);
                       p.insert(second, std::string(gap, 'x'));
                   },
                   "between morvane.manifest and what follows it"},
        DamageCase{"TwoEntriesOfOneName",
                   [](std::string& p, std::size_t d) {
                       p.replace(centralRecord(p, d, 4) + 46, 5, "a.txt");
                   },
                   "two entries are named \"a.txt\""}),
    testsupport::CaseName());

} // namespace

namespace {

// The time unpacking gives each entry, read from the directory as the
// changed files read it, is the one libzip gives the whole package's entry
// (an MS-DOS time as local time, either side of a change of daylight saving
// time) or the extended timestamp where the record has one.
TEST(EntryTime, IsTheOneTheUnzipLibraryGivesTheWholePackage) {
    const testsupport::TempDir folder;
    const std::string archive = folder / "times.zip";
    const std::string script =
        "import sys, zipfile, struct\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
        "for i, t in enumerate([(1980,1,1,0,0,0), (2024,3,31,1,59,58), (2024,3,31,3,0,0),\n"
        "                       (2024,10,27,2,30,0), (2107,12,31,23,59,58)]):\n"
        "    z.writestr(zipfile.ZipInfo('dos%d' % i, t), 'x')\n"
        "info = zipfile.ZipInfo('exact', (2000,1,1,0,0,0))\n"
        "info.extra = struct.pack('<HHBi', 0x5455, 5, 1, 1750000000)\n"
        "z.writestr(info, 'y')\n"
        "z.close()\n";
    testsupport::writeFile(folder / "make.py", script);
    const std::string command = "python3 '" + (folder / "make.py") + "' '" + archive + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    // A zone with daylight saving time, for this test alone.
    const char* zone = std::getenv("TZ");
    const std::string before = zone != nullptr ? zone : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const delta::PackageDirectory directory = delta::readLocalPackage(archive).directory;
    int error = 0;
    zip_t* zip = zip_open(archive.c_str(), ZIP_RDONLY, &error);
    ASSERT_NE(zip, nullptr);
    for (const delta::DirectoryEntry& entry : directory.entries) {
        zip_stat_t status;
        ASSERT_EQ(zip_stat(zip, entry.name.c_str(), 0, &status), 0);
        const std::int64_t expected = entry.name == "exact" ? 1750000000 : status.mtime;
        EXPECT_EQ(delta::modifiedSeconds(entry), expected) << entry.name;
    }
    zip_close(zip);
    if (zone != nullptr) {
        ::setenv("TZ", before.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

} // namespace
