// The one text rule both zip libraries change line ends by, and the change
// itself, however the data is cut into pieces.
#include "zipformat/LineEnds.h"
#include "zipformat/TextGuess.h"

#include "testsupport/CaseName.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zipformat::LineEndChange;

struct GuessCase {
    const char* name;
    std::string start;
    bool text;
};

void PrintTo(const GuessCase& c, std::ostream* out) {
    *out << c.name;
}

class TextGuess : public testing::TestWithParam<GuessCase> {};

TEST_P(TextGuess, BinaryOnlyForBytesNoTextUses) {
    EXPECT_EQ(zipformat::looksLikeText(GetParam().start), GetParam().text);
}

std::string withByte(char byte) {
    return std::string("line one\r\nline two ") + byte + " and more\n";
}

// A sample that is text up to its last byte, which is given.
std::string sampleEndingWith(char byte) {
    return std::string(zipformat::textSampleLength - 1, 'a') + byte;
}

INSTANTIATE_TEST_SUITE_P(
    Starts, TextGuess,
    testing::Values(GuessCase{"Empty", "", true},
                    GuessCase{"LineEndsOfEitherKind", "a\r\nb\nc\rd", true},
                    GuessCase{"TabFormFeedEscape", withByte('\t') + "\f\x1b[1m", true},
                    // Overstruck text, as formatted manual pages keep it.
                    GuessCase{"Backspace", "_\bu_\bn_\bd_\be_\br", true},
                    GuessCase{"Utf8AndLatin1", "\xc3\xa9t\xc3\xa9 caf\xe9 \x7f", true},
                    GuessCase{"Nul", withByte('\0'), false},
                    GuessCase{"StartOfHeading", withByte('\x01'), false},
                    GuessCase{"Bell", withByte('\a'), false},
                    GuessCase{"VerticalTab", withByte('\v'), false},
                    GuessCase{"EndOfFileMark", withByte('\x1a'), false},
                    GuessCase{"UnitSeparator", withByte('\x1f'), false},
                    GuessCase{"NulAsTheSampleLastByte", sampleEndingWith('\0'), false},
                    GuessCase{"NulJustPastTheSample", sampleEndingWith('a') + '\0', true}),
    testsupport::CaseName{});

struct TranslationCase {
    const char* name;
    LineEndChange change;
    std::string input;
    std::string output;
};

void PrintTo(const TranslationCase& c, std::ostream* out) {
    *out << c.name;
}

class LineEnds : public testing::TestWithParam<TranslationCase> {};

std::string translated(LineEndChange change, const std::string& input, std::size_t cut) {
    zipformat::LineEndTranslator translator(change);
    std::string out;
    translator.translate(std::string_view(input).substr(0, cut), out);
    translator.translate(std::string_view(input).substr(cut), out);
    translator.finish(out);
    return out;
}

// Cut in two at every place, and one byte a piece.
TEST_P(LineEnds, SameWhereverThePiecesEnd) {
    const TranslationCase& c = GetParam();
    for (std::size_t cut = 0; cut <= c.input.size(); ++cut) {
        EXPECT_EQ(translated(c.change, c.input, cut), c.output) << "cut at " << cut;
    }
    zipformat::LineEndTranslator translator(c.change);
    std::string out;
    for (const char byte : c.input) {
        translator.translate({&byte, 1}, out);
    }
    translator.finish(out);
    EXPECT_EQ(out, c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, LineEnds,
    testing::Values(
        TranslationCase{"ToLf", LineEndChange::crLfToLf, "a\r\nb\r\n", "a\nb\n"},
        TranslationCase{"ToLfKeepsALoneCr", LineEndChange::crLfToLf, "a\rb\r", "a\rb\r"},
        TranslationCase{"ToLfCrBeforeCrLf", LineEndChange::crLfToLf, "\r\r\n\n\r", "\r\n\n\r"},
        TranslationCase{"ToCrLf", LineEndChange::lfToCrLf, "a\nb\n\n", "a\r\nb\r\n\r\n"},
        TranslationCase{"ToCrLfKeepsCrLf", LineEndChange::lfToCrLf, "a\r\nb\r\r\n", "a\r\nb\r\r\n"},
        TranslationCase{"ToCrLfLoneCr", LineEndChange::lfToCrLf, "\ra\r", "\ra\r"},
        TranslationCase{"None", LineEndChange::none, "a\r\nb\n\r", "a\r\nb\n\r"}),
    testsupport::CaseName{});

} // namespace
