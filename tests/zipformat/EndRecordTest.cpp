// Where an archive's end record lies, as the unzip library and the signature
// check both find it, and the little-endian numbers records are read with.
#include "zipformat/EndRecord.h"
#include "zipformat/LittleEndian.h"

#include "testsupport/CaseName.h"
#include "testsupport/PackageBuilder.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Fit = zipformat::EndRecordPlace::Fit;

// An end record whose comment-length field says declared, followed by
// comment (which may be shorter or longer than declared).
std::string endRecord(std::size_t declared, const std::string& comment = "") {
    std::string record("PK\x05\x06", 4);
    record.append(16, '\x11');
    record.push_back(static_cast<char>(declared & 0xff));
    record.push_back(static_cast<char>(declared >> 8));
    return record + comment;
}

zipformat::EndRecordPlace find(const std::string& tail) {
    return zipformat::findEndRecord(
        std::span(reinterpret_cast<const unsigned char*>(tail.data()), tail.size()));
}

struct EndCase {
    const char* name;
    std::string tail;
    Fit fit;
    std::size_t offset;
    std::size_t commentLength;
    std::size_t trailingBytes;
};

void PrintTo(const EndCase& c, std::ostream* out) {
    *out << c.name;
}

class EndRecordSearch : public testing::TestWithParam<EndCase> {};

TEST_P(EndRecordSearch, FindsTheRecordEveryReaderTakes) {
    const EndCase& c = GetParam();
    const zipformat::EndRecordPlace place = find(c.tail);
    EXPECT_EQ(place.fit, c.fit);
    if (c.fit != Fit::none) {
        EXPECT_EQ(place.offset, c.offset);
        EXPECT_EQ(place.commentLength, c.commentLength);
        EXPECT_EQ(place.trailingBytes, c.trailingBytes);
    }
}

const std::string entries(100, 'e');
const std::string longestComment(0xffff, 'c');

INSTANTIATE_TEST_SUITE_P(
    Tails, EndRecordSearch,
    testing::Values(
        EndCase{"Nothing", "", Fit::none, 0, 0, 0},
        EndCase{"ShorterThanARecord", endRecord(0).substr(0, 21), Fit::none, 0, 0, 0},
        EndCase{"RecordAlone", endRecord(0), Fit::exact, 0, 0, 0},
        EndCase{"AfterEntries", entries + endRecord(3, "abc"), Fit::exact, 100, 3, 0},
        EndCase{"LongestComment", endRecord(0xffff, longestComment), Fit::exact, 0, 0xffff, 0},
        EndCase{"BytesAfterTheComment", entries + endRecord(3, "abc") + "junk", Fit::trailing, 100,
                3, 4},
        // A comment said to run past the end is no record.
        EndCase{"CommentRunsPastTheEnd", entries + endRecord(10, "abc"), Fit::none, 0, 0, 0},
        // A signature too near the end to be a whole record is passed over.
        EndCase{"SignatureCutShort", endRecord(0) + "PK\x05\x06", Fit::trailing, 0, 0, 4},
        // A record inside the comment whose own comment stops early loses to
        // the record whose comment ends the file, though nearer the end.
        EndCase{"ExactBeforeANearerTrailingOne", endRecord(26, endRecord(0) + "tail"), Fit::exact,
                0, 26, 0},
        // A record in the comment that itself ends the file is found first.
        EndCase{"ExactInsideTheComment", endRecord(22, endRecord(0)), Fit::exact, 22, 0, 0},
        // Of two that both stop early, the one nearer the end tells what follows.
        EndCase{"NearestOfTwoTrailing", endRecord(0) + "x" + endRecord(0) + "yy", Fit::trailing, 23,
                0, 2}),
    testsupport::CaseName{});

// Every record another reader might take, nearest the end first: those
// whose comment fits, wherever it ends.
TEST(EndRecordCandidates, EveryRecordWhoseCommentFitsNearestFirst) {
    const auto candidates = [](const std::string& tail) {
        return zipformat::endRecordCandidates(
            std::span(reinterpret_cast<const unsigned char*>(tail.data()), tail.size()));
    };
    using Offsets = std::vector<std::size_t>;
    EXPECT_EQ(candidates(""), Offsets{});
    EXPECT_EQ(candidates(entries + endRecord(3, "abc")), Offsets{100});
    EXPECT_EQ(candidates(endRecord(26, endRecord(0) + "tail")), (Offsets{22, 0}));
    EXPECT_EQ(candidates(endRecord(0) + "x" + endRecord(0) + "yy"), (Offsets{23, 0}));
    EXPECT_EQ(candidates(entries + endRecord(10, "abc")), Offsets{});
    EXPECT_EQ(candidates(endRecord(0) + "PK\x05\x06"), Offsets{0});
}

// Archives made by Python's zipfile: the record is the last 22 bytes, and
// what a careless server appends shows as trailing bytes.
TEST(EndRecordOfARealArchive, FoundWithBytesAppendedOrWithout) {
    const testsupport::TempDir temp;
    testsupport::buildPackage(temp / "p.zip", {{"a.txt", "a"}, {"folder/b.txt", "b"}});
    const std::string archive = testsupport::readFile(temp / "p.zip");
    const zipformat::EndRecordPlace place = find(archive);
    EXPECT_EQ(place.fit, Fit::exact);
    EXPECT_EQ(place.offset, archive.size() - zipformat::endRecordSize);

    const zipformat::EndRecordPlace appended = find(archive + "<html></html>\n");
    EXPECT_EQ(appended.fit, Fit::trailing);
    EXPECT_EQ(appended.offset, place.offset);
    EXPECT_EQ(appended.trailingBytes, 14u);
}

TEST(LittleEndian, HighBytesAreNeverSignExtended) {
    const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x84, 0xff, 0xfe, 0xfd, 0xfc};
    EXPECT_EQ(zipformat::read16(bytes), 0x0201u);
    EXPECT_EQ(zipformat::read32(bytes), 0x84030201u);
    EXPECT_EQ(zipformat::read64(bytes), 0xfcfdfeff84030201u);
    EXPECT_EQ(zipformat::read16(&bytes[4]), 0xfeffu);
    // Any width up to eight, as the owner fields of the Unix extra field use.
    EXPECT_EQ(zipformat::readLittleEndian(&bytes[3], 3), 0xfeff84u);
    EXPECT_EQ(zipformat::readLittleEndian(bytes, 0), 0u);
}

} // namespace
