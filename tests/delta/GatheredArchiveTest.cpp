// The archive an update makes of the entries it fetches, from packages made
// by Python's zipfile and by our zip library: read back by our own directory
// reader, by Python's zipfile, by bsdtar and by our unzip library, each
// entry with its bytes and the mode the writer was given (unpacked by the
// rule every unpacking here follows); and what the writer refuses.
#include "delta/GatheredArchive.h"
#include "delta/LocalPackage.h"
#include "delta/Sha256.h"

#include "PackageArchives.h"

#include "fileio/UnpackedMode.h"
#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"
#include "unzip32test/UnzipHarness.h"
#include "zipformat/Directory.h"
#include "zipformat/EntryTime.h"
#include "zipformat/LittleEndian.h"
#include "zipformat/Records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>

namespace {

std::span<const unsigned char> bytesOf(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// The entries fetched and the modes the manifest gives them, in the order
// they are added (not the package's): set-user-ID and no write bit
// included, which unpacking drops and adds.
struct Fetched {
    std::string name;
    std::uint16_t mode;
};
const std::vector<Fetched> fetched = {{"c d%.txt", 0444},
                                      {"e.txt", 0600},
                                      {"folder/b.bin", 04751},
                                      {"a.txt", 0755},
                                      {"templates/empty.zip", 0644}};

struct Made {
    std::string package;
    std::string archive;
    std::vector<Fetched> added; // those the package holds
};

// The fetched entries of the package at path gathered as the update would.
Made gather(const std::string& path, const std::string& archive) {
    Made made{testsupport::readFile(path), {}, {}};
    const delta::PackageDirectory directory = delta::readLocalPackage(path).directory;
    delta::GatheredArchive writer([&made](std::span<const unsigned char> bytes) {
        made.archive.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
    for (const Fetched& entry : fetched) {
        const std::size_t index = directory.find(entry.name);
        if (index == directory.entries.size()) {
            continue;
        }
        const delta::ByteSpan span = directory.spans[index];
        const auto refused = writer.add(directory.entries[index], span.length, entry.mode);
        EXPECT_FALSE(refused) << *refused;
        writer.write(bytesOf(made.package).subspan(span.offset, span.length));
        made.added.push_back(entry);
    }
    const auto refused = writer.finish();
    EXPECT_FALSE(refused) << *refused;
    testsupport::writeFile(archive, made.archive);
    return made;
}

std::string sha256Hex(const std::string& path) {
    return delta::hexOf(delta::sha256OfFile(path));
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

class GatheredArchive : public ::testing::TestWithParam<deltatest::PackageKind> {};

TEST_P(GatheredArchive, ReadsBackEverywhereWithTheBytesAndModesGiven) {
    const testsupport::TempDir folder;
    const std::string package = folder / "package.zip";
    const std::string archive = folder / "gathered.zip";
    deltatest::makePackage(GetParam().mode, package, folder / "listing");
    const Made made = gather(package, archive);
    ASSERT_GE(made.added.size(), 2u);

    // Our reader: the entries in the order added, spans back to back.
    const auto reading = delta::readPackageDirectory(bytesOf(made.archive), made.archive.size());
    ASSERT_EQ(reading.outcome, delta::DirectoryReading::Outcome::read) << reading.why;
    ASSERT_EQ(reading.directory.entries.size(), made.added.size());
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < made.added.size(); ++i) {
        const delta::DirectoryEntry& entry = reading.directory.entries[i];
        EXPECT_EQ(entry.name, made.added[i].name);
        EXPECT_EQ(entry.externalAttributes >> 16, 0100000u | made.added[i].mode) << entry.name;
        EXPECT_EQ(reading.directory.spans[i].offset, offset) << entry.name;
        offset += reading.directory.spans[i].length;
    }

    // Of the local headers' extra fields, which no signature covers, only
    // the zip64 ones (their sizes) reach the readers; the others are blanked
    // to an id no reader knows (our zip library's timestamps among them).
    const auto* bytes = reinterpret_cast<const unsigned char*>(made.archive.data());
    for (std::size_t i = 0; i < made.added.size(); ++i) {
        const unsigned char* header = bytes + reading.directory.spans[i].offset;
        const std::size_t nameLength = zipformat::read16(header + zipformat::localNameLengthAt);
        const std::size_t extraLength = zipformat::read16(header + zipformat::localExtraLengthAt);
        zipformat::forEachExtraField(
            std::span(header + zipformat::localHeaderSize + nameLength, extraLength),
            [&](std::uint16_t id, std::span<const unsigned char> data) {
                constexpr std::uint16_t unixOwnerId = 0x7875;
                EXPECT_TRUE(id == zipformat::zip64ExtraFieldId ||
                            (id != zipformat::extendedTimestampId && id != unixOwnerId &&
                             std::all_of(data.begin(), data.end(), [](auto b) { return b == 0; })))
                    << made.added[i].name << " keeps the field " << id;
            });
    }

    // Python's zipfile: every entry's bytes as in the package, and the mode.
    const auto read = deltatest::pythonRead({package, archive}, folder / "read");
    const deltatest::ReadArchive& inPackage = read[0];
    const deltatest::ReadArchive& inArchive = read[1];
    ASSERT_EQ(inArchive.size(), made.added.size());
    for (const Fetched& entry : made.added) {
        SCOPED_TRACE(entry.name);
        const deltatest::ReadEntry& gathered = inArchive.at(entry.name);
        EXPECT_EQ(std::stoul(gathered.mode, nullptr, 8), 0100000u | entry.mode);
        EXPECT_EQ(gathered.sha256, inPackage.at(entry.name).sha256);
        EXPECT_EQ(gathered.size, inPackage.at(entry.name).size);
    }

    // bsdtar, keeping modes; and our unzip library, by the unpacking rule.
    const std::string byTar = folder / "bsdtar";
    const std::string byUs = folder / "unzip32";
    testsupport::TempDir::makeFolder(byTar);
    testsupport::TempDir::makeFolder(byUs);
    const std::string command = "bsdtar -xpf '" + archive + "' -C '" + byTar + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    unzip32test::UnzipCall unzip;
    ASSERT_EQ(unzip.run(archive, byUs), UZP_OK) << unzip.printed;
    const mode_t umask = fileio::processUmask();
    for (const Fetched& entry : made.added) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(sha256Hex(byTar + "/" + entry.name), inPackage.at(entry.name).sha256);
        EXPECT_EQ(modeOf(byTar + "/" + entry.name) & 0777, entry.mode & 0777u);
        EXPECT_EQ(sha256Hex(byUs + "/" + entry.name), inPackage.at(entry.name).sha256);
        EXPECT_EQ(modeOf(byUs + "/" + entry.name), fileio::unpackedFileMode(entry.mode, umask));
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, GatheredArchive, ::testing::ValuesIn(deltatest::packageKinds),
                         testsupport::CaseName());
// A zip stored last brings its own end record into the gathered archive's
// tail, which every reader still reads as the one entry it is.
INSTANTIATE_TEST_SUITE_P(ZipLast, GatheredArchive,
                         ::testing::Values(deltatest::PackageKind{"PythonStoredZipLast",
                                                                  "zip-last"}),
                         testsupport::CaseName());

// An entry the archive cannot take leaves it as it was: the entries added
// before it still make a whole archive.
struct RefusalCase {
    const char* name;
    std::function<void(delta::DirectoryEntry&)> change;
    std::string says;
};

class GatheredEntryRefused : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(GatheredEntryRefused, LeavesTheArchiveAsItWas) {
    const std::string span = "PK\x03\x04" + std::string(26, '\0') + "kept";
    delta::DirectoryEntry kept;
    kept.name = "kept";
    std::string archive;
    delta::GatheredArchive writer([&archive](std::span<const unsigned char> bytes) {
        archive.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
    ASSERT_FALSE(writer.add(kept, span.size(), 0644));
    writer.write(bytesOf(span));

    delta::DirectoryEntry entry;
    entry.name = "refused";
    GetParam().change(entry);
    const auto why = writer.add(entry, 100, 0644);
    ASSERT_TRUE(why);
    EXPECT_NE(why->find(GetParam().says), std::string::npos) << *why;

    ASSERT_FALSE(writer.finish());
    const auto reading = delta::readPackageDirectory(bytesOf(archive), archive.size());
    ASSERT_EQ(reading.outcome, delta::DirectoryReading::Outcome::read) << reading.why;
    ASSERT_EQ(reading.directory.entries.size(), 1u);
    EXPECT_EQ(reading.directory.entries[0].name, "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Entries, GatheredEntryRefused,
    ::testing::Values(
        RefusalCase{"Encrypted", [](auto& e) { e.flags = 1; }, "only the whole package"},
        RefusalCase{"Bzip2", [](auto& e) { e.method = 12; }, "only the whole package"},
        RefusalCase{"SizeAt4GiB", [](auto& e) { e.size = 0xffffffff; }, "large archive"},
        RefusalCase{"CompressedPast4GiB", [](auto& e) { e.compressedSize = 1ull << 32; },
                    "large archive"},
        RefusalCase{"NameTooLong", [](auto& e) { e.name.assign(0x10000, 'n'); }, "large archive"}),
    testsupport::CaseName());

TEST(GatheredArchiveLimits, CountsNoMoreEntriesThanItsEndRecordHolds) {
    std::size_t written = 0;
    delta::GatheredArchive writer(
        [&written](std::span<const unsigned char> bytes) { written += bytes.size(); });
    delta::DirectoryEntry entry;
    entry.name = "e";
    for (int i = 0; i < 0xfffe; ++i) {
        ASSERT_FALSE(writer.add(entry, 0, 0644));
    }
    EXPECT_TRUE(writer.add(entry, 0, 0644));
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(written, 0xfffe * (46 + 1) + 22u);
}

// Readers take 20 bytes before the end record that begin as a large
// archive's locator for one: a last name that would is refused.
TEST(GatheredArchiveLimits, IsNotClosedWhenItsLastNameWouldReadAsALocator) {
    std::size_t written = 0;
    delta::GatheredArchive writer(
        [&written](std::span<const unsigned char> bytes) { written += bytes.size(); });
    delta::DirectoryEntry entry;
    entry.name = std::string("PK\x06\x07", 4) + std::string(16, 'n');
    ASSERT_FALSE(writer.add(entry, 0, 0644));
    const auto why = writer.finish();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("large archive"), std::string::npos) << *why;
    EXPECT_EQ(written, 0u);
}

TEST(GatheredArchiveLimits, IsNotClosedBeforeEveryByteOfItsSpansHasCome) {
    std::string archive;
    delta::GatheredArchive writer([&archive](std::span<const unsigned char> bytes) {
        archive.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    });
    delta::DirectoryEntry entry;
    entry.name = "short";
    ASSERT_FALSE(writer.add(entry, 100, 0644));
    writer.write(bytesOf(std::string(99, 'x')));
    const auto why = writer.finish();
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("99 bytes, not 100"), std::string::npos) << *why;
    EXPECT_EQ(archive.size(), 99u) << "no directory after spans that did not all come";
}

} // namespace
