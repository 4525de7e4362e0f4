// Which end records besides the one an archive is read by show another
// archive: a zip stored as an entry brings its own, and must not count.
#include "zipformat/OtherEndRecords.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

namespace {

// The archive the cases judge: entries at 100, 300 and 600, a prefix before
// them, and three central records in the directory at 1000.
const zipformat::DirectoryLocation taken{3, 150, 1000};

struct OtherCase {
    const char* name;
    zipformat::DirectoryLocation other;
    std::uint64_t endOffset;
    bool centralRecordThere;
    bool rival;
};

void PrintTo(const OtherCase& c, std::ostream* out) {
    *out << c.name;
}

class OtherEndRecord : public testing::TestWithParam<OtherCase> {};

TEST_P(OtherEndRecord, CountsOnlyWhenItShowsAnotherArchive) {
    const OtherCase& c = GetParam();
    const zipformat::TakenDirectory directory(taken, {600, 100, 300});
    const bool rival = directory.rivalledBy(c.other, c.endOffset, [&](std::uint64_t offset) {
        EXPECT_EQ(offset, c.other.offset);
        return c.centralRecordThere;
    });
    EXPECT_EQ(rival, c.rival);
}

INSTANTIATE_TEST_SUITE_P(
    Records, OtherEndRecord,
    testing::Values(OtherCase{"TheTakenDirectoryAgain", taken, 1170, true, false},
                    // A stored empty zip's end record: no entries, offset 0.
                    OtherCase{"AnEmptyZipStoredInAnEntry", {0, 0, 0}, 900, true, false},
                    OtherCase{"AnEmptyDirectoryBeforeTheEntries", {0, 0, 50}, 900, true, false},
                    // A stored zip's directory, read as offsets of the whole file.
                    OtherCase{"InsideTheSecondEntry", {1, 60, 350}, 900, true, false},
                    OtherCase{
                        "FillingTheLastEntryToTheDirectory", {2, 100, 900}, 1170, true, false},
                    OtherCase{"AcrossTwoEntries", {1, 60, 280}, 900, true, true},
                    OtherCase{"FromTheLastEntryIntoTheDirectory", {1, 100, 950}, 1170, true, true},
                    OtherCase{"InThePrefixBeforeTheEntries", {1, 50, 10}, 900, true, true},
                    // Some of the taken directory's own records: another reader lists fewer.
                    OtherCase{"APartOfTheTakenDirectory", {1, 50, 1050}, 1170, true, true},
                    OtherCase{"NoCentralRecordWhereItPoints", {1, 50, 10}, 900, false, false},
                    OtherCase{"RunningPastItsOwnEndRecord", {1, 60, 1150}, 1170, true, false},
                    OtherCase{"StartingPastItsOwnEndRecord", {1, 0, 1200}, 1170, true, false}),
    testsupport::CaseName{});

// The bytes after the directory are no entry's, though an entry is said to
// begin further on.
TEST(OtherEndRecordEntries, AnEntryPastTheDirectoryHoldsNothing) {
    const zipformat::TakenDirectory directory(taken, {100, 1200});
    EXPECT_TRUE(directory.rivalledBy({1, 30, 1160}, 1300, [](std::uint64_t) { return true; }));
}

} // namespace
