// The one text rule set the program and both zip libraries share.
#include "text/Ceiling.h"
#include "text/LetterCase.h"
#include "text/Utf8.h"
#include "text/Wildcards.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SameName {
    const char* first;
    const char* second;
    bool same;
};

class CaseRule : public testing::TestWithParam<SameName> {};

TEST_P(CaseRule, NamesAreTheSameOnlyWhenTheyDifferInCaseAlone) {
    const SameName& c = GetParam();
    EXPECT_EQ(text::foldCase(c.first) == text::foldCase(c.second), c.same)
        << c.first << " / " << c.second;
    EXPECT_EQ(text::matchesIgnoringCase(c.first, c.second), c.same) << c.first << " / " << c.second;
}

INSTANTIATE_TEST_SUITE_P(Names, CaseRule,
                         testing::Values(SameName{"ReadMe.TXT", "readme.txt", true},
                                         SameName{"ÄRGER.ini", "ärger.INI", true},
                                         // Upper then lower: every form of sigma is one letter.
                                         SameName{"ΟΔΟΣ", "οδος", true},
                                         SameName{"οδοσ", "οδος", true},
                                         // Long s and Kelvin sign meet their ASCII letters.
                                         SameName{"ſ", "S", true}, SameName{"\u212A", "k", true},
                                         // Code point by code point: no letter grows into two.
                                         SameName{"STRASSE", "straße", false},
                                         // A stray byte matches only itself, never a letter.
                                         SameName{"a\xff", "A\xff", true},
                                         SameName{"\xc3", "\xc3\xa3", false},
                                         SameName{"\xe4", "ä", false}));

TEST(UpperCase, MapsUnicodeLettersAndKeepsEveryOtherByte) {
    EXPECT_EQ(text::upperCase("app_path\\ärger.exe"), "APP_PATH\\ÄRGER.EXE");
    EXPECT_EQ(text::upperCase("straße"), "STRAßE");
    EXPECT_EQ(text::upperCase(std::string("a\0b\xff\xc3", 5)), std::string("A\0B\xff\xc3", 5));
}

TEST(Utf8, AnyBytesComeBackUnchanged) {
    std::string every;
    for (int b = 0; b < 256; ++b) {
        every.push_back(static_cast<char>(b));
        every += "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    }
    // Overlong, surrogate and cut-off sequences stay bytes of their own.
    every += "\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82";
    EXPECT_EQ(text::encodeUtf8(text::decodeUtf8(every)), every);
    EXPECT_EQ(text::decodeUtf8("\xe2\x82\xac").size(), 1u);
    EXPECT_EQ(text::decodeUtf8("\xed\xa0\x80").size(), 3u);
}

// A name that is not UTF-8 is told apart, and named with its stray bytes
// and control characters shown, the valid characters around them as they
// are.
TEST(Utf8, StrayBytesAreFoundAndShownEscaped) {
    EXPECT_TRUE(text::isUtf8("caf\xc3\xa9 \xe2\x82\xac.txt"));
    EXPECT_TRUE(text::isUtf8(""));
    EXPECT_FALSE(text::isUtf8("caf\xe9.txt"));
    EXPECT_FALSE(text::isUtf8("\xed\xa0\x80"));
    EXPECT_EQ(text::withStrayBytesShown("docs/caf\xe9 \xc3\xa9\xff.txt"),
              "docs/caf\\xE9 \xc3\xa9\\xFF.txt");
    EXPECT_EQ(text::withStrayBytesShown("plain"), "plain");
    // A control character would not show at all, or change the terminal.
    EXPECT_EQ(text::withStrayBytesShown("bad\x01na\x1bme\tx\x7f.txt"),
              "bad\\x01na\\x1Bme\\x09x\x7f.txt");
}

TEST(Wildcards, MatchTheWholeNameIgnoringCase) {
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"morvane.exe", "*.EXE", true},
        {"morvane.exe", "*.ex", false},
        {"é.txt", "?.txt", true},
        {"ab.txt", "?.txt", false},
        {"a/b/c", "a*c", true},
        {"", "*", true},
        {"", "?", false},
        {"abcabcabd", "*abd", true},
        {"x", "", false},
        // Many stars over a long run that never matches: quick, not exponential.
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
         "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::matchesIgnoringCase(c.name, c.pattern), c.matches)
            << c.name << " / " << c.pattern;
    }
}

TEST(Wildcards, ExactMatchKeepsCase) {
    EXPECT_TRUE(text::matchesWildcards(U"Ab", U"A?"));
    EXPECT_FALSE(text::matchesWildcards(U"ab", U"A?"));
    EXPECT_TRUE(text::hasWildcards("a?"));
    EXPECT_FALSE(text::hasWildcards("a.txt"));
}

} // namespace

// What a box shows of many lines, and how long a log record may grow.
TEST(Ceiling, FirstLinesAndByteBoundsCutWhereAReaderCanTell) {
    const struct {
        const char* text;
        std::size_t most;
        const char* shown;
        std::size_t more;
    } lines[] = {
        {"", 2, "", 0},
        {"a\nb\n", 2, "a\nb\n", 0},
        {"a\r\nb\r\nc", 2, "a\r\nb\r\n", 1},
        {"a\nb\nc\nd\n", 1, "a\n", 3},
        {"no end", 0, "", 1},
    };
    for (const auto& c : lines) {
        const text::FirstLines cut = text::firstLines(c.text, c.most);
        EXPECT_EQ(cut.shown, c.shown) << c.text;
        EXPECT_EQ(cut.more, c.more) << c.text;
    }
    EXPECT_EQ(text::cutToBytes("short", 10, "~"), "short");
    EXPECT_EQ(text::cutToBytes("0123456789", 5, "~"), "0123~");
    // Never inside a character: "\u00e9" is two bytes.
    EXPECT_EQ(text::cutToBytes("abc\u00e9def", 5, "~"), "abc~");
    EXPECT_EQ(text::cutToBytes("abc\u00e9def", 6, "~"), "abc\u00e9~");
}
