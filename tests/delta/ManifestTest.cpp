// The manifest a package carries: written so that every line splits at its
// blanks, and read from whatever a server sent, refusing all but the one
// text of a manifest.
#include "delta/Manifest.h"
#include "delta/DeltaError.h"

#include "testsupport/CaseName.h"
#include "testsupport/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string digestA(64, 'a');
const std::string digestB = std::string(63, '0') + "1";

std::string manifestOf(const std::vector<std::string>& lines) {
    std::string text = "morvane-manifest v1\n";
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

struct ParseCase {
    const char* name;
    std::string text;
    std::string says; // empty: it must be read
};

class ManifestText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ManifestText, IsReadOnlyInItsOneForm) {
    const ParseCase& c = GetParam();
    std::string why;
    const auto manifest = delta::parseManifest(c.text, why);
    if (c.says.empty()) {
        ASSERT_TRUE(manifest.has_value()) << why;
        // What is read writes back as the very same text.
        EXPECT_EQ(delta::formatManifest(*manifest), c.text);
    } else {
        EXPECT_FALSE(manifest.has_value());
        EXPECT_NE(why.find(c.says), std::string::npos) << why;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ManifestText,
    ::testing::Values(
        ParseCase{"NoFiles", manifestOf({}), ""},
        ParseCase{"TwoFiles",
                  manifestOf({digestA + " 5 0755 morvane.exe morvane.exe",
                              digestB + " 0 0644 docs/read%20me.txt docs/read%20me.txt"}),
                  ""},
        ParseCase{"EveryEscapedByte",
                  manifestOf({digestA + " 9223372036854775807 7777 %25%20%01%1F%7F%0A x/%09y"}),
                  ""},
        ParseCase{"ByteOrderMark", "\xEF\xBB\xBF" + manifestOf({}), "does not begin"},
        ParseCase{"OtherForm", "morvane-manifest v2\n", "does not begin"},
        ParseCase{"CrLf", "morvane-manifest v1\r\n", "does not begin"},
        ParseCase{"LastLineWithoutLineFeed", manifestOf({}) + digestA + " 1 0644 a a",
                  "line 2 does not end"},
        ParseCase{"FourFields", manifestOf({digestA + " 1 0644 a"}), "line 2: it has 4 fields"},
        ParseCase{"TwoBlanks", manifestOf({digestA + " 1 0644  a a"}), "6 fields"},
        ParseCase{"DigestInCapitals", manifestOf({std::string(64, 'A') + " 1 0644 a a"}),
                  "64 lower-case"},
        ParseCase{"DigestShort", manifestOf({digestA.substr(1) + " 1 0644 a a"}), "64 lower-case"},
        ParseCase{"SizeOf63Bits", manifestOf({digestA + " 9223372036854775808 0644 a a"}),
                  "below 2^63"},
        ParseCase{"SizeOf64Bits", manifestOf({digestA + " 18446744073709551616 0644 a a"}),
                  "below 2^63"},
        ParseCase{"SizeWithLeadingZero", manifestOf({digestA + " 01 0644 a a"}), "leading zeros"},
        ParseCase{"SizeSigned", manifestOf({digestA + " +1 0644 a a"}), "decimal"},
        ParseCase{"ModeOfThreeDigits", manifestOf({digestA + " 1 644 a a"}), "4 octal"},
        ParseCase{"ModeNotOctal", manifestOf({digestA + " 1 0648 a a"}), "4 octal"},
        ParseCase{"EscapeInLowerCase", manifestOf({digestA + " 1 0644 a%2f a"}), "escape"},
        ParseCase{"EscapeOfAPlainByte", manifestOf({digestA + " 1 0644 %41 a"}), "escape"},
        ParseCase{"EscapeCut", manifestOf({digestA + " 1 0644 a% a"}), "escape"},
        ParseCase{"BareTab", manifestOf({digestA + " 1 0644 a\tb a"}), "control byte"},
        ParseCase{"EmptyInstalledPath", manifestOf({digestA + " 1 0644 a "}), "a name is empty"},
        ParseCase{"AbsolutePath", manifestOf({digestA + " 1 0644 a /etc/passwd"}), "absolute"},
        ParseCase{"ParentPiece", manifestOf({digestA + " 1 0644 a docs/../../x"}), "\"..\""},
        ParseCase{"DotPiece", manifestOf({digestA + " 1 0644 a ./x"}), "\".\""},
        ParseCase{"EmptyPiece", manifestOf({digestA + " 1 0644 a docs//x"}), "empty"},
        ParseCase{"TrailingSlash", manifestOf({digestA + " 1 0644 a docs/"}), "empty"},
        ParseCase{"BackslashParent", manifestOf({digestA + " 1 0644 a ..\\x"}), "\"\\\""},
        ParseCase{"TwoLinesOfOneEntry",
                  manifestOf({digestA + " 1 0644 a a", digestB + " 2 0644 a b"}),
                  "two lines name the entry \"a\""},
        ParseCase{"EmptyLine", manifestOf({""}), "line 2: it has 0 fields"}),
    testsupport::CaseName());

// A NUL byte is a name of one byte, escaped like every control byte.
TEST(ManifestNames, NulIsEscapedLikeEveryControlByte) {
    delta::PackageManifest manifest;
    manifest.entries.push_back({std::string("\0", 1), "a b%", 3, 0644, {}});
    const std::string text = delta::formatManifest(manifest);
    EXPECT_NE(text.find(" %00 a%20b%25\n"), std::string::npos) << text;
    std::string why;
    EXPECT_EQ(delta::parseManifest(text, why), manifest) << why;
}

TEST(ManifestDigest, OfBytesAndOfFilesReadWithoutFollowingOrWaiting) {
    EXPECT_EQ(delta::hexOf(delta::sha256Of("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    testsupport::TempDir folder;
    // Larger than one block of the streaming read.
    const std::string big(3 * 1024 * 1024 + 7, 'x');
    testsupport::writeFile(folder / "big", big);
    EXPECT_EQ(delta::sha256OfFile(folder / "big"), delta::sha256Of(big));

    ASSERT_EQ(::symlink("big", (folder / "link").c_str()), 0);
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> refusals{
        {folder / "missing", "No such file"},
        {folder / "link", "it is a symbolic link"},
        {folder / "fifo", "it is a FIFO, not a file"},
        {folder.path(), "it is a folder, not a file"},
    };
    for (const auto& [path, says] : refusals) {
        try {
            delta::sha256OfFile(path);
            ADD_FAILURE() << path;
        } catch (const delta::DeltaError& failure) {
            EXPECT_NE(std::string(failure.what()).find("cannot read " + path + ": " + says),
                      std::string::npos)
                << failure.what();
        }
    }
}

} // namespace
