// What a range request's answer must be to be taken: the Content-Range read
// strictly, and exactly the range asked of a package of the size expected,
// every byte and none more; a range that is not in the package is never
// asked.
#include "delta/RangeAnswer.h"
#include "delta/ContentRange.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct ParseCase {
    const char* name;
    std::string text;
    std::optional<delta::ContentRange> range;
};

class ContentRangeText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ContentRangeText, ReadsOnlyThreeNumbersInOrder) {
    const auto range = delta::parseContentRange(GetParam().text);
    ASSERT_EQ(range.has_value(), GetParam().range.has_value()) << GetParam().text;
    if (range) {
        EXPECT_EQ(range->first, GetParam().range->first);
        EXPECT_EQ(range->last, GetParam().range->last);
        EXPECT_EQ(range->total, GetParam().range->total);
    }
}

constexpr std::nullopt_t none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Headers, ContentRangeText,
    ::testing::Values(ParseCase{"WholePackage", "bytes 0-99/100", delta::ContentRange{0, 99, 100}},
                      ParseCase{"OneByte", "bytes 5-5/6", delta::ContentRange{5, 5, 6}},
                      ParseCase{"Past4GiB", "bytes 4294967296-4294967395/5000000000",
                                delta::ContentRange{4294967296, 4294967395, 5000000000}},
                      ParseCase{"Unsatisfiable", "bytes */100", none},
                      ParseCase{"UnknownTotal", "bytes 0-99/*", none},
                      ParseCase{"OtherUnit", "items 0-99/100", none},
                      ParseCase{"FirstPastLast", "bytes 10-9/100", none},
                      ParseCase{"LastAtTotal", "bytes 0-100/100", none},
                      ParseCase{"TotalOverflows", "bytes 0-99/18446744073709551616", none},
                      ParseCase{"LastOverflows",
                                "bytes 0-18446744073709551616/18446744073709551615", none},
                      ParseCase{"PlusSign", "bytes +0-99/100", none},
                      ParseCase{"MinusSign", "bytes -1-99/100", none},
                      ParseCase{"SignedLast", "bytes 0-+99/100", none},
                      ParseCase{"TwoBlanksAfterTheUnit", "bytes  0-99/100", none},
                      ParseCase{"BlankBeforeTheDash", "bytes 0 -99/100", none},
                      ParseCase{"BlankBeforeTheSlash", "bytes 0-99 /100", none},
                      ParseCase{"TrailingBlank", "bytes 0-99/100 ", none},
                      ParseCase{"TrailingCarriageReturn", "bytes 0-99/100\r", none},
                      ParseCase{"Hex", "bytes 0x10-99/100", none},
                      ParseCase{"FourthNumber", "bytes 0-99/100/7", none},
                      ParseCase{"MissingFirst", "bytes -99/100", none},
                      ParseCase{"MissingTotal", "bytes 0-99/", none}, ParseCase{"Empty", "", none}),
    testsupport::CaseName());

// Bytes 100-149 of a package of 1,000.
const delta::AskedRange asked{100, 50, 1000};

struct OutsideCase {
    const char* name;
    delta::AskedRange range;
    bool outside;
};

class RangeAsked : public ::testing::TestWithParam<OutsideCase> {};

TEST_P(RangeAsked, IsAskedOnlyInsideThePackage) {
    EXPECT_EQ(delta::rangeOutsidePackage(GetParam().range).has_value(), GetParam().outside);
}

INSTANTIATE_TEST_SUITE_P(Ranges, RangeAsked,
                         ::testing::Values(OutsideCase{"Inside", asked, false},
                                           OutsideCase{"TheWholePackage", {0, 1000, 1000}, false},
                                           OutsideCase{"TheLastByte", {999, 1, 1000}, false},
                                           OutsideCase{"Empty", {100, 0, 1000}, true},
                                           OutsideCase{"OneBytePastTheEnd", {999, 2, 1000}, true},
                                           OutsideCase{"StartingAtTheEnd", {1000, 1, 1000}, true},
                                           OutsideCase{"EmptyPackage", {0, 1, 0}, true},
                                           OutsideCase{
                                               "EndOverflows", {UINT64_MAX, 2, UINT64_MAX}, true}),
                         testsupport::CaseName());

TEST(RangeAsked, NamesItsLastByteNotTheOnePastIt) {
    EXPECT_EQ(delta::rangeHeaderLine(asked), "Range: bytes=100-149\r\n");
}

struct AnswerCase {
    const char* name;
    std::string contentRange;
    std::uint64_t received; // body bytes, once the body has ended
    std::string refused;    // empty when taken
    std::string contentLength = "50";
};

class RangeAnswered : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(RangeAnswered, IsTakenOnlyWhenItIsExactlyTheRangeAsked) {
    const AnswerCase& c = GetParam();
    auto why = delta::contentRangeRefusal(asked, c.contentRange, c.contentLength);
    // The body as it arrives: a byte at a time, then its end.
    for (std::uint64_t received = 1; !why && received <= c.received; ++received) {
        why = delta::bodyRefusal(asked, received, false);
    }
    if (!why) {
        why = delta::bodyRefusal(asked, c.received, true);
    }
    if (c.refused.empty()) {
        EXPECT_FALSE(why) << *why;
    } else {
        ASSERT_TRUE(why);
        EXPECT_NE(why->find(c.refused), std::string::npos) << *why;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RangeAnswered,
    ::testing::Values(
        AnswerCase{"Exact", "bytes 100-149/1000", 50, ""},
        AnswerCase{"TheWholeFileInstead", "", 1000,
                   "sent the whole package where bytes 100-149 were asked", "1000"},
        AnswerCase{"NoContentRangeAnotherLength", "", 900, "answered bytes 100-149 with \"\"",
                   "900"},
        AnswerCase{"NoContentRangeNoLength", "", 1000, "answered bytes 100-149 with \"\"", ""},
        AnswerCase{"WrongFirstByte", "bytes 101-149/1000", 49, "with \"bytes 101-149/1000\""},
        AnswerCase{"WrongLastByte", "bytes 100-148/1000", 49, "with \"bytes 100-148/1000\""},
        AnswerCase{"LongerRange", "bytes 100-150/1000", 51, "with"},
        AnswerCase{"WrongTotal", "bytes 100-149/1001", 50, "with \"bytes 100-149/1001\""},
        AnswerCase{"TheWholePackage", "bytes 0-999/1000", 1000, "with"},
        AnswerCase{"Unsatisfiable", "bytes */1000", 0, "with \"bytes */1000\""},
        AnswerCase{"BodyTooLong", "bytes 100-149/1000", 51, "sent more than bytes 100-149"},
        AnswerCase{"BodyTooShort", "bytes 100-149/1000", 49, "bytes 100-149 ended after 49"},
        AnswerCase{"BodyEmpty", "bytes 100-149/1000", 0, "ended after 0"}),
    testsupport::CaseName());

} // namespace
