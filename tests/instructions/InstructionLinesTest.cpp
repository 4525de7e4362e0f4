#include "fixtures/InstructionFixture.h"
#include "run/InstructionFile.h"
#include "testsupport/CaseName.h"

#include <filesystem>

using updater::expandPathField;

struct LineCase {
    const char* name;
    std::string instructions;
    std::vector<std::string> folders; // expected to exist afterwards
    std::vector<std::string> absent;  // expected not to exist
    // For a file that stops on a failure: what putting the installation
    // back undid, which tells which lines ran before it.
    std::string undone;
};

class InstructionLines : public InstructionFixture,
                         public ::testing::WithParamInterface<LineCase> {};

TEST_P(InstructionLines, EndAtCrLfOrLoneCrOnly) {
    const LineCase& c = GetParam();
    run(c.instructions);
    for (const std::string& folder : c.folders) {
        EXPECT_TRUE(isFolder(app(folder))) << folder;
    }
    for (const std::string& folder : c.absent) {
        EXPECT_FALSE(isFolder(app(folder))) << folder;
    }
    const auto lines = logLines();
    if (c.undone.empty()) {
        EXPECT_TRUE(lines.empty());
        return;
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("restored as it was: " + c.undone + "\""), std::string::npos)
        << lines[1];
}

INSTANTIATE_TEST_SUITE_P(
    Files, InstructionLines,
    ::testing::Values(
        LineCase{"EmptyFile", "", {}, {}, ""},
        LineCase{
            "CrLfAtTheEnd", "MAKEDIR;a;APP_PATH\r\nMAKEDIR;b;APP_PATH\r\n", {"a", "b"}, {}, ""},
        LineCase{
            "NoLineEndAtTheEnd", "MAKEDIR;a;APP_PATH\r\nMAKEDIR;b;APP_PATH", {"a", "b"}, {}, ""},
        LineCase{"EmptyLineInTheMiddle",
                 "MAKEDIR;a;APP_PATH\r\n\r\nMAKEDIR;b;APP_PATH\r\n",
                 {},
                 {"a", "b"},
                 "0 files restored, 0 added files and 1 added folder removed"},
        LineCase{"LfOnlyIsOneLine", "MAKEDIR;a;APP_PATH;\nMAKEDIR;b;APP_PATH\n", {"a"}, {"b"}, ""},
        LineCase{"LoneCrEndsALine", "MAKEDIR;a;APP_PATH\rMAKEDIR;b;APP_PATH", {"a", "b"}, {}, ""},
        LineCase{"TooFewFieldsWhateverTheWord",
                 "MAKEDIR;a;APP_PATH\r\nNOTE;x\r\nMAKEDIR;b;APP_PATH",
                 {},
                 {"a", "b"},
                 "0 files restored, 0 added files and 1 added folder removed"},
        LineCase{"UnknownWordIsSkipped", "COPY;x;y\r\nMAKEDIR;b;APP_PATH", {"b"}, {}, ""}),
    testsupport::CaseName());

TEST_F(InstructionFixture, MissingInstructionFileIsOneLoggedFailure) {
    form.processExtract();
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"Updater File not found"), std::string::npos) << lines[0];
    ASSERT_EQ(ui.messageBoxes().size(), 1u);
    EXPECT_EQ(ui.messageBoxes()[0].title, "Updater");
}

TEST_F(InstructionFixture, TooFewFieldsIsSubscriptOutOfRange) {
    run("MOVE;a.dll");
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"Updater Subscript out of range"), std::string::npos) << lines[0];
}

// A file with LF-only line ends is one line; whatever fails in it stays one
// record of the log, and a long line is quoted by its start only.
TEST_F(InstructionFixture, LfOnlyFileStaysOneShortLogRecord) {
    std::string lines;
    for (int i = 0; i < 100; ++i) {
        lines += "MOVE;missing\n" + std::to_string(i) + ".dll;APP_PATH\n";
    }
    const std::string tooFew = "MAKEDIR" + std::string(1000, 'x') + "\nMAKEDIR";
    for (const std::string& content : {lines, tooFew}) {
        std::filesystem::remove(app("NoteError.txt"));
        run(content);
        const std::string log = testsupport::readFile(app("NoteError.txt"));
        EXPECT_EQ(log.find('\n'), log.size() - 1) << log;
        EXPECT_LT(log.size(), 400u) << log;
    }
}

struct ExpansionCase {
    const char* name;
    std::string field;
    std::string expected;
};

class PathFieldExpansion : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(PathFieldExpansion, UpperCasesAndReplacesEveryPlaceholder) {
    EXPECT_EQ(expandPathField(GetParam().field, "/opt/Morvane App"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Fields, PathFieldExpansion,
                         ::testing::Values(ExpansionCase{"Alone", "APP_PATH", "/opt/Morvane App"},
                                           ExpansionCase{"LowerCaseWithRest", "app_path\\plugins",
                                                         "/opt/Morvane App\\PLUGINS"},
                                           ExpansionCase{"TwoPlaceholders", "App_Path/x/APP_PATH",
                                                         "/opt/Morvane App/X//opt/Morvane App"},
                                           ExpansionCase{"NoPlaceholder", "/usr/share/morvane",
                                                         "/USR/SHARE/MORVANE"},
                                           ExpansionCase{"Adjacent", "app_pathapp_path",
                                                         "/opt/Morvane App/opt/Morvane App"},
                                           ExpansionCase{"UnicodeLetters", "dätä", "DÄTÄ"}),
                         testsupport::CaseName());
